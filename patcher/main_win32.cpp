// The patcher's process entry: no window, no arguments, exit code 0 always.
#include <windows.h>

#include "patcher/fix_downgrade.h"
#include "win32/dll_search.h"
#include "win32/win32_platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  tavu::win32::RestrictDllSearchToSystem();
  tavu::win32::InstallWin32Platform();
  tavu::patcher::FixDowngarde();
  return 0;
}
