// NTFS as the label reader sees it: the boot sector, a master-file-table
// record and the header of an attribute in it. Offsets are bytes from the start
// of each structure; all fields are little-endian.
#pragma once

#include <cstdint>

#include "common/le_field.h"

namespace tavu::ntfs {

// Boot sector, the partition's first sector.
namespace boot {
using OemId = ByteField<0x03, 8>;  // "NTFS    " (four blanks)
using BytesPerSector = LeField<std::uint16_t, 0x0B>;
using SectorsPerCluster = LeField<std::uint8_t, 0x0D>;
using MftCluster = LeField<std::uint64_t, 0x30>;  // first cluster of the MFT
// 0x40: clusters per record, a signed byte; a negative n means 2^-n bytes.
// Otherwise the reader takes the 32-bit value there (the byte and the three
// unused bytes after it) as a count of clusters.
using ClustersPerRecord = LeField<std::int8_t, 0x40>;
using ClustersPerRecordWide = LeField<std::uint32_t, 0x40>;
static_assert(OemId::kEnd <= BytesPerSector::kOffset);
static_assert(BytesPerSector::kEnd == SectorsPerCluster::kOffset);
static_assert(MftCluster::kEnd <= ClustersPerRecord::kOffset);
}  // namespace boot
inline constexpr char kOemIdText[] = "NTFS    ";
static_assert(sizeof(kOemIdText) - 1 == boot::OemId::kSize);

// File record of the master file table; $Volume is record 3.
inline constexpr std::uint64_t kVolumeRecord = 3;
namespace record {
using FirstAttribute = LeField<std::uint16_t, 0x14>;  // offset of the first attribute
}  // namespace record

// Attribute header, at the attribute's first byte within the record.
namespace attribute {
using Type = LeField<std::uint32_t, 0x00>;         // kTypeEnd ends the list
using Length = LeField<std::uint32_t, 0x04>;       // whole attribute: the step to the next
using ValueLength = LeField<std::uint32_t, 0x10>;  // resident value's length
// The resident header ends at 0x18 and the reader takes the value there; the
// header's own value-offset field (0x14) is not consulted.
inline constexpr std::uint32_t kResidentHeaderSize = 0x18;
static_assert(Type::kEnd <= Length::kOffset && ValueLength::kEnd <= kResidentHeaderSize);
}  // namespace attribute
inline constexpr std::uint32_t kTypeEnd = 0xFFFFFFFF;
inline constexpr std::uint32_t kTypeVolumeName = 0x60;

}  // namespace tavu::ntfs
