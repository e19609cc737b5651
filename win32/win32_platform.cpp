#include "win32/win32_platform.h"

#include "common/platform.h"
#include "win32/win32_disks.h"
#include "win32/win32_files.h"
#include "win32/win32_system.h"
#include "win32/win32_volumes.h"

namespace tavu::win32 {

namespace {
Win32Files g_files;
Win32System g_system;
Win32Disks g_disks;
Win32Volumes g_volumes;
}  // namespace

void InstallWin32Platform() {
  Platform p;
  p.files = &g_files;
  p.system = &g_system;
  p.disks = &g_disks;
  p.volumes = &g_volumes;
  SetPlatform(p);
}

}  // namespace tavu::win32
