#include "common/disk_api.h"
#include "common/disk_sectors.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "launcher/arming/partition_locator.h"
#include "launcher/arming/recovery_image.h"

namespace tavu {

int ReadBootSignature(std::int32_t diskNumber, std::int64_t offset, bool* present) {
  if (present == nullptr || diskNumber < 0 || diskNumber >= kNameableDisks || offset < 0)
    return kLocateBadArgument;
  *present = false;
  wchar_t name[32];
  PhysicalDriveName(diskNumber, name);
  UniqueHandle disk(Sys().disks->OpenDisk(name, false));
  if (!disk) return kLocateFailed;
  // The firmware starts an active partition's first sector only when its
  // first 512 bytes end with this signature; without it the machine does not
  // start at all. The disk reads no less than one whole sector of its own.
  std::uint8_t sector[512];
  std::uint32_t read = 0;
  if (!ReadDiskBytes(disk.get(), DiskSectorSize(disk.get()), static_cast<std::uint64_t>(offset), sector,
                     sizeof sector, &read) ||
      read != sizeof sector) {
    return kLocateFailed;
  }
  *present = sector[510] == 0x55 && sector[511] == 0xAA;
  return kLocateFound;
}

}  // namespace tavu
