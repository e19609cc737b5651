// Runs the locator through the real Win32 binding and prints what each
// operation returned, one "name=value" line each, for the e2e test.
#include <windows.h>

#include <cstdio>

#include "common/disk_api.h"
#include "common/unique_handle.h"
#include "common/volume_api.h"
#include "common/volume_label.h"
#include "launcher/arming/partition_locator.h"
#include "win32/win32_platform.h"

int wmain() {
  using namespace tavu;
  win32::InstallWin32Platform();
  std::int32_t partition = -1;
  std::int32_t disk = -1;
  int r = FindRecoveryPartition(&partition, &disk);
  std::printf("FindRecoveryPartition=%d disk=%d partition=%d\n", r, disk, partition);
  std::printf("QueryPartitionStyle0=%d\n", QueryPartitionStyle(0));
  wchar_t root[260] = L"junk";
  r = FindRecoveryVolume(&disk, &partition, root);
  std::printf("FindRecoveryVolume=%d disk=%d partition=%d root=[%ls]\n", r, disk, partition, root);
  r = FindVolumeRoot(0, root, 0);
  std::printf("FindVolumeRoot=%d root=[%ls]\n", r, root);
  {
    UniqueHandle drive(Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE0", false));
    wchar_t label[kVolumeLabelChars];
    std::printf("OpenDisk0=%d ReadVolumeLabel=%d\n", drive.valid() ? 1 : 0,
                drive.valid() ? ReadVolumeLabel(drive.get(), label, 0) : -1);
  }
  wchar_t drives[105] = {};
  std::printf("DriveStrings=%u\n", static_cast<unsigned>(Sys().volumes->DriveStrings(104, drives)));
  return 0;
}
