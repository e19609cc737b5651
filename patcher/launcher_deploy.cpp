#include "patcher/launcher_deploy.h"

#include "common/file_api.h"
#include "common/platform.h"
#include "common/resource_api.h"
#include "common/system_api.h"
#include "common/trusted_path.h"
#include "common/unique_handle.h"
#include "common/in_use_retry.h"
#include "common/win_errors.h"
#include "patcher/launcher_version.h"
#include "patcher/patcher_log.h"

namespace tavu::patcher {

namespace {

constexpr const wchar_t* kLauncherFolder = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher";

// The whole of bytes, on disk, in a file that did not exist before.
bool WriteNewFile(const wchar_t* path, const std::uint8_t* bytes, std::uint32_t size) {
  FileApi& files = *Sys().files;
  // CREATE_NEW: a name planted in the folder is never opened and written through.
  // Admins-only from the start: the folder's inherited entries never reach it,
  // so nothing but an administrator can change it before it is moved in.
  UniqueHandle file(files.OpenFile(path, FileAccess::Write, FileCreate::CreateNew, FileSecurity::AdminsOnly));
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

// While a program runs, the loader holds its file without write sharing: an
// open for writing fails with a sharing violation. An access-denied refusal
// instead means someone protected the file, which a move at restart (carried
// out by the system) would override.
bool RunningAsProgram(const wchar_t* path) {
  UniqueHandle file(Sys().files->OpenFile(path, FileAccess::Write, FileCreate::OpenExisting));
  return !file && Sys().system->LastError() == kErrorSharingViolation;
}

bool RemoveTemporary() {
  return RetryWhileInUse([] { return Sys().files->Remove(kLauncherTempPath); });
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
  // The logon task runs the launcher with the highest rights: into a folder
  // that someone else may change, a new launcher would be no safer than the
  // old one, and whatever is put beside it would run as well.
  if (!OnlyAdminsCanChange(kLauncherFolder)) {
    WriteLog(L"FixDowngarde", L"Users can change the launcher's folder, do not copy");
    return;
  }
  FileApi& files = *Sys().files;
  // Someone made the installed launcher read-only: leave it as it is. Replacing
  // by rename would pass over the flag on some file systems (and under Wine),
  // where writing into the file would have been refused.
  if (files.IsReadOnly(kLauncherPath)) return;
  // Asked for by an earlier run whose launcher was running too.
  const bool movePending = files.MovePendingAtRestart(kLauncherTempPath, kLauncherPath);
  // A leftover of an interrupted run, or of that earlier run, would make
  // CREATE_NEW fail; the new file is always one this run made.
  (void)RemoveTemporary();
  if (!WriteNewFile(kLauncherTempPath, bytes, size)) {
    (void)RemoveTemporary();
    return;
  }
  if (RetryWhileInUse([&files] { return files.MoveReplace(kLauncherTempPath, kLauncherPath); })) return;
  // A running launcher cannot be replaced until it ends: the logon task
  // starts it after every arming. Windows moves the complete new file into
  // place at the next start, before anything can run it; asked once, the move
  // stays pending however often the patcher runs before that start.
  if (Sys().system->LastError() == kErrorAccessDenied && RunningAsProgram(kLauncherPath) &&
      (movePending || files.MoveAtRestart(kLauncherTempPath, kLauncherPath))) {
    WriteLog(L"FixDowngarde", L"TAVU Recovery is running, it is replaced at the next restart");
    return;
  }
  (void)RemoveTemporary();
}

}  // namespace tavu::patcher
