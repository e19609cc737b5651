#include "common/scratch_folder.h"

#include "common/file_api.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/system_folders.h"
#include "common/trusted_path.h"

namespace tavu {

namespace {

// Names a user may have taken in advance are passed over; a few fresh ones
// are plenty when each is unforeseeable.
constexpr int kFreshNameTries = 8;

}  // namespace

bool ScratchFolder::Open() {
  if (path_[0] != L'\0') return true;
  wchar_t temp[kPathChars];
  if (!WindowsPath(L"Temp", temp, kPathChars)) return false;
  if (KeepsAdminsFiles(temp)) return CopyBounded(path_, kPathChars, temp);
  return MakeOwn(temp);
}

bool ScratchFolder::MakeOwn(const wchar_t* temp) {
  FileApi& files = *Sys().files;
  wchar_t candidate[kPathChars];
  for (int attempt = 0; attempt < kFreshNameTries; ++attempt) {
    std::uint32_t number = 0;
    if (!Sys().system->UnforeseeableNumber(&number)) number = 0x9E3779B9u * static_cast<std::uint32_t>(attempt + 1);
    if (FormatBounded(candidate, kPathChars, L"%ls\\TAVU-%08X", temp, static_cast<unsigned>(number)) < 0)
      return false;
    if (!files.MakeAdminsOnlyFolder(candidate)) continue;
    // Whoever may delete what Temp holds may have swapped the new folder for
    // one of theirs, or a junction, before this open: only the folder held
    // and read through its own handle counts.
    if (own_.Pin(candidate) && own_.OnlyAdminsChangeIt()) return CopyBounded(path_, kPathChars, candidate);
    own_.Release();
  }
  return false;
}

bool ScratchFolder::PathOf(const wchar_t* name, wchar_t* out, std::size_t capacity) const {
  return path_[0] != L'\0' && FormatBounded(out, capacity, L"%ls\\%ls", path_, name) >= 0;
}

void ScratchFolder::Remove() {
  if (own_.held()) {
    own_.Release();
    (void)Sys().files->RemoveFolder(path_);
  }
  path_[0] = L'\0';
}

}  // namespace tavu
