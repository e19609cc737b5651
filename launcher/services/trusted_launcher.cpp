#include "launcher/services/trusted_launcher.h"

#include <cstdint>
#include <cwchar>
#include <initializer_list>

#include "common/file_api.h"
#include "common/system_api.h"
#include "common/system_folders.h"
#include "common/trusted_path.h"
#include "common/wide_text.h"

namespace tavu {

namespace {

// Only administrators may add anything to the program folders by Windows' own
// permissions; everywhere else (the root of a drive, the profiles, other drives
// and sticks) standard users may create folders and change what they created.
// Both as this Windows names them, with their separator.
bool ProgramFolder(bool native64, wchar_t (&folder)[kPathChars]) {
  if (native64) return ProgramFilesPath(L"", folder, kPathChars);
  const std::uint32_t n = Sys().system->ProgramFilesFolder(false, folder, kPathChars);
  return n != 0 && n < kPathChars - 1 && UsableSystemFolder(folder) &&
         AppendBounded(folder, kPathChars, L"\\");
}

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix) {
  for (; *prefix != L'\0'; ++text, ++prefix) {
    if (Upper(*text) != Upper(*prefix)) return false;
  }
  return true;
}

bool InProgramFolder(const wchar_t* path) {
  bool inside = false;
  for (bool native64 : {true, false}) {
    wchar_t folder[kPathChars] = {};
    inside = inside || (ProgramFolder(native64, folder) && StartsWithNoCase(path, folder));
  }
  // "..", "." or a second kind of separator would make the prefix say nothing
  // about where the file lies.
  return inside && std::wcsstr(path, L"\\..") == nullptr && std::wcsstr(path, L"\\.\\") == nullptr &&
         std::wcschr(path, L'/') == nullptr;
}

}  // namespace

bool NoUserCanChange(const wchar_t* path) {
  // The file, its folder (nothing planted beside it: a tool found by a
  // search, a DLL, a folder named like the tool) and every folder on the way
  // up (renamed away and built again).
  return path != nullptr && InProgramFolder(path) && OnlyAdminsCanChange(path);
}

bool TrustedLauncher(wchar_t* path, std::size_t capacity) {
  wchar_t running[kPathChars] = {};
  std::uint32_t length = Sys().system->ModulePath(running, static_cast<std::uint32_t>(kPathChars));
  // A path as long as the buffer may have been cut, and then names another file.
  if (length != 0 && length < kPathChars - 1 && NoUserCanChange(running))
    return CopyBounded(path, capacity, running);
  wchar_t installed[kPathChars] = {};
  if (InstalledLauncherPath(installed, kPathChars) && Sys().files->Exists(installed) &&
      NoUserCanChange(installed)) {
    return CopyBounded(path, capacity, installed);
  }
  return false;
}

bool InstalledLauncherPath(wchar_t* path, std::size_t capacity) {
  return ProgramFilesPath(kInstalledLauncherBelowProgramFiles, path, capacity);
}

}  // namespace tavu
