#include "launcher/services/trusted_launcher.h"

#include <cstdint>
#include <cwchar>

#include "common/file_api.h"
#include "common/system_api.h"
#include "common/wide_text.h"

namespace tavu {

namespace {

// Only administrators may add anything to these by Windows' own permissions;
// everywhere else (the root of a drive, the profiles, other drives and sticks)
// standard users may create folders and change what they created.
const wchar_t* const kProgramFolders[] = {L"C:\\Program Files\\", L"C:\\Program Files (x86)\\"};

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix) {
  for (; *prefix != L'\0'; ++text, ++prefix) {
    if (Upper(*text) != Upper(*prefix)) return false;
  }
  return true;
}

bool InProgramFolder(const wchar_t* path) {
  bool inside = false;
  for (const wchar_t* folder : kProgramFolders) inside = inside || StartsWithNoCase(path, folder);
  // "..", "." or a second kind of separator would make the prefix say nothing
  // about where the file lies.
  return inside && std::wcsstr(path, L"\\..") == nullptr && std::wcsstr(path, L"\\.\\") == nullptr &&
         std::wcschr(path, L'/') == nullptr;
}

bool Grants(const wchar_t* path, std::uint32_t forbidden) {
  std::uint32_t rights = 0;
  return !Sys().files->UserRights(path, &rights) || (rights & forbidden) != 0;
}

}  // namespace

bool NoUserCanChange(const wchar_t* path) {
  if (path == nullptr || !InProgramFolder(path)) return false;
  constexpr std::uint32_t kRepermit = kRightWriteDac | kRightWriteOwner;
  // The file: written, replaced through a delete or a rename, or re-permitted.
  if (Grants(path, kRightWriteData | kRightAppendData | kRightDelete | kRepermit)) return false;
  wchar_t folder[kPathChars] = {};
  if (!CopyBounded(folder, kPathChars, path)) return false;
  // Each folder up to the drive's root: a new file planted in the file's own
  // folder (a tool found by a search, a DLL), or a folder on the way renamed
  // away and built again.
  std::uint32_t forbidden = kRightWriteData | kRightDeleteChild | kRightDelete | kRepermit;
  for (wchar_t* cut = std::wcsrchr(folder, L'\\'); cut != nullptr; cut = std::wcsrchr(folder, L'\\')) {
    if (cut == folder + 2) {
      // The drive's root cannot be renamed, and standard users may add folders to it.
      folder[3] = L'\0';
      return !Grants(folder, kRightDeleteChild | kRepermit);
    }
    *cut = L'\0';
    if (Grants(folder, forbidden)) return false;
    forbidden &= ~kRightWriteData;
  }
  return true;
}

bool TrustedLauncher(wchar_t* path, std::size_t capacity) {
  wchar_t running[kPathChars] = {};
  std::uint32_t length = Sys().system->ModulePath(running, static_cast<std::uint32_t>(kPathChars));
  // A path as long as the buffer may have been cut, and then names another file.
  if (length != 0 && length < kPathChars - 1 && NoUserCanChange(running))
    return CopyBounded(path, capacity, running);
  if (Sys().files->Exists(kInstalledLauncherPath) && NoUserCanChange(kInstalledLauncherPath)) {
    return CopyBounded(path, capacity, kInstalledLauncherPath);
  }
  return false;
}

}  // namespace tavu
