// The launcher's process entry.
#include <windows.h>

#include "win32/win32_platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  tavu::win32::InstallWin32Platform();
  return 0;
}
