#include "win32/win32_platform.h"

#include "common/platform.h"
#include "win32/win32_files.h"
#include "win32/win32_resources.h"
#include "win32/win32_system.h"

namespace tavu::win32 {

namespace {
Win32Files g_files;
Win32System g_system;
Win32Resources g_resources;
}  // namespace

void InstallWin32Platform() {
  Platform p;
  p.files = &g_files;
  p.system = &g_system;
  p.resources = &g_resources;
  SetPlatform(p);
}

}  // namespace tavu::win32
