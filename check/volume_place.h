// Where a volume lies: the disk and partition a technician finds it under in
// Disk Management and diskpart, from the volume's own extents and its disk's
// partition table, with its name as mountvol shows it and its drive letter.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/wide_text.h"
#include "common/win_records.h"

namespace tavu::check {

struct VolumePlace {
  bool found = false;
  std::int32_t disk = 0;
  std::int32_t partition = 0;  // 0: the disk's table has no entry starting there
  std::int64_t offset = 0;
  wchar_t volume[kPathChars] = {};  // "\\?\Volume{GUID}\"; empty where not known
  wchar_t letter[4] = {};           // "D:"; empty: the volume has none
};

// volumeName: "\\?\Volume{GUID}\" (the trailing backslash optional).
[[nodiscard]] VolumePlace PlaceOfVolume(const wchar_t* volumeName);

// A device as a boot entry names it: "\Device\HarddiskVolume4" or "C:".
// Found by asking each listed volume its device name or its mount paths.
[[nodiscard]] VolumePlace PlaceOfDevice(const wchar_t* device);

// The entry of disk's table that starts at offset; false when none does or
// the table cannot be read.
[[nodiscard]] bool PartitionEntryAt(std::int32_t disk, std::int64_t offset, PARTITION_INFORMATION_EX* entry);

// The partition number of that entry; 0 when there is none.
[[nodiscard]] std::int32_t PartitionAt(std::int32_t disk, std::int64_t offset);

// "disk 0, partition 4, D:" as far as it is known, for the remedies.
void PlaceText(const VolumePlace& p, wchar_t* out, std::size_t capacity);

}  // namespace tavu::check
