// Which launcher file the firmware-mode tool may be started beside and the
// logon task may start: the task runs it with the highest rights at every
// administrator's logon, and the tool runs elevated at once, so a file or a
// folder that a standard user can change is a way to those rights.
#pragma once

#include <cstddef>

namespace tavu {

// Where the maker's package installs the launcher and its tool, below the
// folder of (64-bit) programs as this Windows names it.
inline constexpr wchar_t kInstalledLauncherBelowProgramFiles[] =
    L"TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe";
// The installed launcher's full path; false when it does not fit.
bool InstalledLauncherPath(wchar_t* path, std::size_t capacity);

// True when no standard user can change what path names: it lies in one of
// Windows' program folders, and neither the file, its folder nor a folder on
// the way up lets anyone but SYSTEM, Administrators or TrustedInstaller
// change, replace or re-permit it (common/trusted_path.h).
bool NoUserCanChange(const wchar_t* path);

// The running launcher when no standard user can change it, else the installed
// launcher when that is so for it; false when neither is (started from a
// Downloads folder or a stick on a machine without the installed launcher).
bool TrustedLauncher(wchar_t* path, std::size_t capacity);

}  // namespace tavu
