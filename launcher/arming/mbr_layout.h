// MBR partition entries as the locator meets them. The launcher never parses
// the sector itself: Windows hands each 16-byte entry over as
// PARTITION_INFORMATION_EX, whose Mbr.PartitionType is the entry's type byte
// (offset 4 in the entry), so the type codes are all the format that is named
// here.
#pragma once

#include <cstdint>

namespace tavu::mbr {

// Hidden FAT32, with CHS or with LBA addressing: the maker hides the recovery
// partition under one of these until the worker makes it visible.
inline constexpr std::uint8_t kTypeHiddenFat32Chs = 0x1B;
inline constexpr std::uint8_t kTypeHiddenFat32Lba = 0x1C;

}  // namespace tavu::mbr
