#include "win32/win32_platform.h"

#include "common/platform.h"
#include "win32/win32_disks.h"
#include "win32/win32_com.h"
#include "win32/win32_files.h"
#include "win32/win32_firmware.h"
#include "win32/win32_processes.h"
#include "win32/win32_system.h"
#include "win32/win32_volumes.h"
#include "win32/win32_tasks.h"
#include "win32/win32_ui.h"
#include "win32/win32_wmi.h"

namespace tavu::win32 {

namespace {
Win32Files g_files;
Win32System g_system;
Win32Disks g_disks;
Win32Volumes g_volumes;
Win32Com g_com;
Win32Processes g_processes;
Win32Ui g_ui;
Win32Wmi g_wmi;
Win32Tasks g_tasks;
Win32Firmware g_firmware;
}  // namespace

void InstallWin32Platform() {
  Platform p;
  p.files = &g_files;
  p.system = &g_system;
  p.disks = &g_disks;
  p.volumes = &g_volumes;
  p.com = &g_com;
  p.processes = &g_processes;
  p.ui = &g_ui;
  p.wmi = &g_wmi;
  p.tasks = &g_tasks;
  p.firmware = &g_firmware;
  SetPlatform(p);
}

}  // namespace tavu::win32
