// FAT32 as the label reader sees it: the boot sector and a directory entry.
// Offsets are bytes from the start of each structure; all fields are
// little-endian.
#pragma once

#include <cstdint>

#include "common/le_field.h"

namespace tavu::fat32 {

// Boot sector, the partition's first sector. The number of FATs (0x10) is not
// read: a FAT32 volume has two, and the reader takes the second.
namespace boot {
using BytesPerSector = LeField<std::uint16_t, 0x0B>;
using SectorsPerCluster = LeField<std::uint8_t, 0x0D>;
using ReservedSectors = LeField<std::uint16_t, 0x0E>;  // sectors before the first FAT
using SectorsPerFat = LeField<std::uint32_t, 0x24>;
using RootCluster = LeField<std::uint32_t, 0x2C>;  // first cluster of the root directory
using FileSystemType = ByteField<0x52, 8>;         // "FAT32   " (three blanks)
static_assert(BytesPerSector::kEnd == SectorsPerCluster::kOffset);
static_assert(SectorsPerCluster::kEnd == ReservedSectors::kOffset);
static_assert(SectorsPerFat::kEnd <= RootCluster::kOffset);
static_assert(RootCluster::kEnd <= FileSystemType::kOffset);
}  // namespace boot
inline constexpr char kFileSystemTypeText[] = "FAT32   ";
static_assert(sizeof(kFileSystemTypeText) - 1 == boot::FileSystemType::kSize);

// FAT entries are 32 bits, used as they stand (the top four bits are not
// masked); clusters 0 and 1 have entries but no data.
inline constexpr std::uint32_t kFatEntrySize = 4;
inline constexpr std::uint32_t kFirstDataCluster = 2;
inline constexpr std::uint32_t kEndOfChain = 0x0FFFFFFF;

// Directory entry, one of a row of 32-byte entries filling each cluster.
inline constexpr std::uint32_t kDirEntrySize = 32;
namespace dir_entry {
using Name = ByteField<0x00, 11>;  // blank-padded, ANSI code page
using Attributes = LeField<std::uint8_t, 0x0B>;
static_assert(Name::kEnd == Attributes::kOffset && Attributes::kEnd <= kDirEntrySize);
}  // namespace dir_entry
// First name byte of a deleted entry.
inline constexpr std::uint8_t kDeletedMark = 0xE5;
// Exactly this attribute byte marks the volume label (a long-name entry, 0x0F,
// has the bit too).
inline constexpr std::uint8_t kAttributeVolumeLabel = 0x08;

}  // namespace tavu::fat32
