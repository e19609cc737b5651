// NTFS: the label is the value of the volume-name attribute (type 0x60) in
// record 3 ($Volume) of the master file table.
//
// Boot sector: 0x0B bytes per sector (16), 0x0D sectors per cluster (8),
// 0x30 first cluster of the MFT (64), 0x40 clusters per record (signed 8; a
// negative n means 2^-n bytes, otherwise the 32-bit value counts clusters).
// Record: 0x14 offset of the first attribute (16). Attribute: 0 type (32),
// 4 length (32), 0x10 value length (32), value at 0x18.
#include <cstring>

#include "common/little_endian.h"
#include "common/utf16.h"
#include "launcher/arming/label_reading.h"
#include "launcher/arming/partition_locator.h"
#include "launcher/arming/volume_label.h"

namespace tavu {

namespace {

using namespace label_detail;

constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;
constexpr std::uint32_t kAttrVolumeName = 0x60;
constexpr std::uint64_t kVolumeRecord = 3;
constexpr std::size_t kWorkAreaBytes = 1024;
// Smallest attribute header (a resident one); a length below it cannot lead
// to the next attribute.
constexpr std::uint32_t kMinAttributeLength = 0x18;
// NTFS records are a few kilobytes; outside these bounds the boot sector is
// not one we can trust.
constexpr std::uint64_t kMinRecordSize = 512;
constexpr std::uint64_t kMaxRecordSize = 64 * 1024;

// The record size, or 0 when the boot sector gives none that makes sense.
std::uint64_t RecordSize(const std::uint8_t* boot, std::uint64_t clusterSize) {
  auto clusters = static_cast<std::int8_t>(boot[0x40]);
  std::uint64_t size = 0;
  if (clusters < 0) {
    int shift = -clusters;
    if (shift >= 32) return 0;
    size = std::uint64_t{1} << shift;
  } else if (!MulChecked(Le32(boot + 0x40), clusterSize, &size)) {
    return 0;
  }
  return size >= kMinRecordSize && size <= kMaxRecordSize ? size : 0;
}

}  // namespace

int ReadNtfsVolumeLabelFrom(SectorSource& source, wchar_t* label, std::int64_t offset) {
  if (label == nullptr) return kLocateBadArgument;
  label[0] = L'\0';
  if (offset < 0) return kLocateFailed;
  const auto base = static_cast<std::uint64_t>(offset);

  std::uint8_t boot[kBootSectorSize];
  if (!ReadExact(source, base, boot, kBootSectorSize)) return kLocateFailed;

  const std::uint32_t bytesPerSector = Le16(boot + 0x0B);
  const std::uint32_t sectorsPerCluster = boot[0x0D];
  if (!ValidBytesPerSector(bytesPerSector) || !IsPowerOfTwo(sectorsPerCluster)) {
    return kLocateNotFound;
  }
  const std::uint64_t clusterSize = std::uint64_t{bytesPerSector} * sectorsPerCluster;
  const std::uint64_t recordSize = RecordSize(boot, clusterSize);
  if (recordSize == 0) return kLocateNotFound;

  // A position past the end of any disk is a read that cannot succeed.
  std::uint64_t mftStart = 0;
  std::uint64_t position = 0;
  if (!MulChecked(Le64(boot + 0x30), clusterSize, &mftStart) ||
      !AddChecked(base, mftStart, &position) ||
      !AddChecked(position, kVolumeRecord * recordSize, &position)) {
    return kLocateFailed;
  }

  HeapBlock record(static_cast<std::size_t>(recordSize));
  if (!record) return kLocateFailed;
  const std::uint8_t* rec = record.get();
  if (!ReadExact(source, position, record.get(), static_cast<std::uint32_t>(recordSize))) {
    return kLocateFailed;
  }

  // Every step stays inside the record that was read; each one advances by at
  // least a header's length, so the walk ends.
  std::uint64_t at = Le16(rec + 0x14);
  for (;;) {
    if (at + 4 > recordSize) return kLocateNotFound;
    const std::uint32_t type = Le32(rec + at);
    if (type == kAttrEnd) return kLocateNotFound;
    if (at + 8 > recordSize) return kLocateNotFound;
    if (type == kAttrVolumeName) {
      if (at + 0x18 > recordSize) return kLocateNotFound;
      const std::uint32_t valueLength = Le32(rec + at + 0x10);
      if (valueLength > kWorkAreaBytes || at + 0x18 + valueLength > recordSize) {
        return kLocateNotFound;
      }
      std::uint8_t work[kWorkAreaBytes] = {};
      std::memcpy(work, rec + at + 0x18, valueLength);
      // The name ends at its first zero character or after valueLength / 2
      // characters, whichever comes first.
      DecodeUtf16Le(work, valueLength, label, kVolumeLabelChars);
      return kLocateFound;
    }
    const std::uint32_t length = Le32(rec + at + 4);
    if (length < kMinAttributeLength) return kLocateNotFound;
    at += length;
  }
}

}  // namespace tavu
