// Where the programs let Windows look for DLLs. They run as administrator,
// often from a Downloads folder: a DLL that lies beside them, or in the
// current folder, must never be loaded into them.
#pragma once

#include <windows.h>

namespace tavu::win32 {

// The first call of each program's entry: every later load by bare name (ours,
// and those that system DLLs make for us) looks in the system folder only.
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32), looked up at run
// time because a Windows 7 without KB2533623 lacks it; there at least the
// current folder leaves the search (SetDllDirectoryW(L"")).
void RestrictDllSearchToSystem();

// A DLL of the system folder, loaded by its full path there, never a module
// of the same name from elsewhere; null, with the loader's error as the last
// error, when it cannot be. The caller keeps it loaded until the process ends.
HMODULE LoadSystemDll(const wchar_t* fileName);

}  // namespace tavu::win32
