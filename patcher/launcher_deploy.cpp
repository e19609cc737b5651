#include "patcher/launcher_deploy.h"

#include "common/file_api.h"
#include "common/platform.h"
#include "common/resource_api.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/win_errors.h"
#include "patcher/launcher_version.h"

namespace tavu::patcher {

namespace {

// The whole of bytes, on disk, in a file that did not exist before.
bool WriteNewFile(const wchar_t* path, const std::uint8_t* bytes, std::uint32_t size) {
  FileApi& files = *Sys().files;
  // CREATE_NEW: a name planted in the folder is never opened and written through.
  UniqueHandle file(files.OpenFile(path, FileAccess::Write, FileCreate::CreateNew));
  if (!file) return false;
  std::uint32_t done = 0;
  while (done < size) {
    std::uint32_t written = 0;
    if (!files.Write(file.get(), bytes + done, size - done, &written) || written == 0 ||
        written > size - done) {
      return false;
    }
    done += written;
  }
  if (!files.Flush(file.get())) return false;
  return files.Close(file.release());
}

// A virus scanner, the search indexer or Explorer often opens a freshly
// written program to look into it, without FILE_SHARE_DELETE; for that short
// while a rename or delete of it is refused. Only those two refusals are worth
// waiting for; anything else will not go away.
constexpr int kTries = 10;
constexpr std::uint32_t kPauseMilliseconds = 100;

template <class Step>
bool WithRetries(Step step) {
  for (int attempt = 1;; ++attempt) {
    if (step()) return true;
    std::uint32_t error = Sys().system->LastError();
    if (attempt == kTries || (error != kErrorSharingViolation && error != kErrorAccessDenied)) return false;
    Sys().system->Pause(kPauseMilliseconds);
  }
}

bool RemoveTemporary() {
  return WithRetries([] { return Sys().files->Remove(kLauncherTempPath); });
}

}  // namespace

void ExtractLauncher() {
  const std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  // Without the resource there is nothing better to put in place; an empty
  // launcher would be worse than an old one.
  if (!Sys().resources->OwnResource(kCarriedLauncherId, kCarriedLauncherType, &bytes, &size) ||
      bytes == nullptr || size == 0) {
    return;
  }
  FileApi& files = *Sys().files;
  // Someone made the installed launcher read-only: leave it as it is. Replacing
  // by rename would pass over the flag on some file systems (and under Wine),
  // where writing into the file would have been refused.
  if (files.IsReadOnly(kLauncherPath)) return;
  // A leftover of an interrupted run would make CREATE_NEW fail.
  (void)RemoveTemporary();
  if (WriteNewFile(kLauncherTempPath, bytes, size) &&
      WithRetries([&files] { return files.MoveReplace(kLauncherTempPath, kLauncherPath); })) {
    return;
  }
  (void)RemoveTemporary();
}

}  // namespace tavu::patcher
