// NTFS: the label is the value of the volume-name attribute in record 3
// ($Volume) of the master file table.
#include <cstring>

#include "common/heap_block.h"
#include "common/label_reading.h"
#include "common/ntfs_layout.h"
#include "common/utf16.h"
#include "common/volume_label.h"

namespace tavu {

namespace {

using namespace label_detail;
using namespace ntfs;

static_assert(boot::ClustersPerRecordWide::kEnd <= kBootSectorSize);

constexpr std::size_t kWorkAreaBytes = 1024;
// NTFS records are a few kilobytes; outside these bounds the boot sector is
// not one we can trust.
constexpr std::uint64_t kMinRecordSize = 512;
constexpr std::uint64_t kMaxRecordSize = 64 * 1024;
static_assert(record::FirstAttribute::kEnd <= kMinRecordSize);

// The record size, or 0 when the boot sector gives none that makes sense.
std::uint64_t RecordSize(const std::uint8_t* sector, std::uint64_t clusterSize) {
  const std::int8_t clusters = Read<boot::ClustersPerRecord>(sector);
  std::uint64_t size = 0;
  if (clusters < 0) {
    int shift = -clusters;
    if (shift >= 32) return 0;
    size = std::uint64_t{1} << shift;
  } else if (!MulChecked(Read<boot::ClustersPerRecordWide>(sector), clusterSize, &size)) {
    return 0;
  }
  return size >= kMinRecordSize && size <= kMaxRecordSize ? size : 0;
}

}  // namespace

int ReadNtfsVolumeLabelFrom(SectorSource& source, wchar_t* label, std::int64_t offset) {
  std::uint8_t sector[kBootSectorSize];
  const int started = ReadBootSector(source, label, offset, sector);
  if (started != kLocateFound) return started;
  const auto base = static_cast<std::uint64_t>(offset);

  const std::uint32_t bytesPerSector = Read<boot::BytesPerSector>(sector);
  const std::uint32_t sectorsPerCluster = Read<boot::SectorsPerCluster>(sector);
  if (!ValidBytesPerSector(bytesPerSector) || !IsPowerOfTwo(sectorsPerCluster)) {
    return kLocateNotFound;
  }
  const std::uint64_t clusterSize = std::uint64_t{bytesPerSector} * sectorsPerCluster;
  const std::uint64_t recordSize = RecordSize(sector, clusterSize);
  if (recordSize == 0) return kLocateNotFound;

  // A position past the end of any disk is a read that cannot succeed.
  std::uint64_t mftStart = 0;
  std::uint64_t position = 0;
  if (!MulChecked(Read<boot::MftCluster>(sector), clusterSize, &mftStart) ||
      !AddChecked(base, mftStart, &position) ||
      !AddChecked(position, kVolumeRecord * recordSize, &position)) {
    return kLocateFailed;
  }

  HeapBlock recordBlock = HeapBlock::Uninitialised(static_cast<std::size_t>(recordSize));
  if (!recordBlock) return kLocateFailed;
  const std::uint8_t* rec = recordBlock.get();
  if (!ReadExact(source, position, recordBlock.get(), static_cast<std::uint32_t>(recordSize))) {
    return kLocateFailed;
  }

  // Every step stays inside the record that was read; each one advances by at
  // least a resident header's length, so the walk ends.
  std::uint64_t at = Read<record::FirstAttribute>(rec);
  for (;;) {
    if (at + attribute::Type::kEnd > recordSize) return kLocateNotFound;
    const std::uint8_t* header = rec + at;
    const std::uint32_t type = Read<attribute::Type>(header);
    if (type == kTypeEnd) return kLocateNotFound;
    if (at + attribute::Length::kEnd > recordSize) return kLocateNotFound;
    if (type == kTypeVolumeName) {
      if (at + attribute::kResidentHeaderSize > recordSize) return kLocateNotFound;
      const std::uint32_t valueLength = Read<attribute::ValueLength>(header);
      if (valueLength > kWorkAreaBytes || at + attribute::kResidentHeaderSize + valueLength > recordSize) {
        return kLocateNotFound;
      }
      std::uint8_t work[kWorkAreaBytes] = {};
      std::memcpy(work, header + attribute::kResidentHeaderSize, valueLength);
      // The name ends at its first zero character or after valueLength / 2
      // characters, whichever comes first.
      DecodeUtf16Le(work, valueLength, label, kVolumeLabelChars);
      return kLocateFound;
    }
    // A length below the smallest header cannot lead to the next attribute.
    const std::uint32_t length = Read<attribute::Length>(header);
    if (length < attribute::kResidentHeaderSize) return kLocateNotFound;
    at += length;
  }
}

}  // namespace tavu
