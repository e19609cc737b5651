#include "win32/win32_platform.h"

#include "common/platform.h"
#include "win32/win32_files.h"
#include "win32/win32_system.h"

namespace tavu::win32 {

namespace {
Win32Files g_files;
Win32System g_system;
}  // namespace

void InstallWin32Platform() {
  Platform p;
  p.files = &g_files;
  p.system = &g_system;
  SetPlatform(p);
}

}  // namespace tavu::win32
