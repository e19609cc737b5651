// FAT32: the label is the root directory's entry whose attribute byte is
// exactly 0x08.
//
// Boot sector: 0x0B bytes per sector (16), 0x0D sectors per cluster (8),
// 0x0E reserved sectors (16), 0x24 sectors per FAT (32), 0x2C root cluster (32).
// Two FATs are assumed; the second copy is read whole. Cluster c starts at
// ((c - 2) * sectors per cluster + reserved + 2 * sectors per FAT) sectors.
#include <cstring>

#include "common/little_endian.h"
#include "launcher/arming/label_reading.h"
#include "launcher/arming/partition_locator.h"
#include "launcher/arming/volume_label.h"

namespace tavu {

namespace {

using namespace label_detail;

constexpr std::uint32_t kEndOfChain = 0x0FFFFFFF;
constexpr std::uint8_t kDeleted = 0xE5;
constexpr std::uint8_t kVolumeLabelAttribute = 0x08;
constexpr std::uint32_t kDirEntrySize = 32;
constexpr std::uint32_t kFirstDataCluster = 2;
// FAT32 addresses at most 2^28 clusters: a FAT of 4-byte entries is never
// larger than 1 GiB.
constexpr std::uint64_t kMaxFatBytes = std::uint64_t{1} << 30;
// A directory holds at most 65,536 entries of 32 bytes; a root chain longer
// than that is a loop or a damaged FAT.
constexpr std::uint64_t kMaxDirectoryBytes = 65536u * kDirEntrySize;

}  // namespace

int ReadFat32VolumeLabelFrom(SectorSource& source, wchar_t* label, std::int64_t offset) {
  if (label == nullptr) return kLocateBadArgument;
  label[0] = L'\0';
  if (offset < 0) return kLocateFailed;
  const auto base = static_cast<std::uint64_t>(offset);

  std::uint8_t boot[kBootSectorSize];
  if (!ReadExact(source, base, boot, kBootSectorSize)) return kLocateFailed;

  const std::uint64_t bytesPerSector = Le16(boot + 0x0B);
  const std::uint64_t sectorsPerCluster = boot[0x0D];
  const std::uint64_t reservedSectors = Le16(boot + 0x0E);
  const std::uint64_t sectorsPerFat = Le32(boot + 0x24);
  const std::uint32_t rootCluster = Le32(boot + 0x2C);
  if (!ValidBytesPerSector(static_cast<std::uint32_t>(bytesPerSector)) ||
      !IsPowerOfTwo(sectorsPerCluster)) {
    return kLocateNotFound;
  }
  const std::uint64_t fatBytes = sectorsPerFat * bytesPerSector;
  if (fatBytes == 0 || fatBytes > kMaxFatBytes) return kLocateNotFound;
  const std::uint64_t clusterBytes = sectorsPerCluster * bytesPerSector;

  // The second FAT, whole, in one read.
  std::uint64_t fatPosition = 0;
  if (!AddChecked(base, (reservedSectors + sectorsPerFat) * bytesPerSector, &fatPosition)) {
    return kLocateFailed;
  }
  HeapBlock fat(static_cast<std::size_t>(fatBytes));
  if (!fat) return kLocateFailed;
  if (!ReadExact(source, fatPosition, fat.get(), static_cast<std::uint32_t>(fatBytes))) {
    return kLocateFailed;
  }
  const std::uint64_t fatEntries = fatBytes / 4;
  if (rootCluster < kFirstDataCluster || rootCluster >= fatEntries) return kLocateNotFound;

  // The root directory's chain, built whole before any cluster is read. Values
  // at or above the number of entries (the end marks among them) end it.
  std::uint64_t maxChain = kMaxDirectoryBytes / clusterBytes;
  if (maxChain == 0) maxChain = 1;
  HeapBlock chainBlock(static_cast<std::size_t>(maxChain) * sizeof(std::uint32_t));
  if (!chainBlock) return kLocateFailed;
  auto* chain = reinterpret_cast<std::uint32_t*>(chainBlock.get());
  std::uint64_t chainLength = 0;
  for (std::uint32_t cluster = rootCluster;;) {
    if (chainLength == maxChain) return kLocateNotFound;
    chain[chainLength++] = cluster;
    const std::uint32_t next = Le32(fat.get() + std::uint64_t{cluster} * 4);
    if (next >= fatEntries || next == kEndOfChain) break;
    // Entries 0 and 1 are no clusters: a chain that leads there is damaged.
    if (next < kFirstDataCluster) return kLocateNotFound;
    cluster = next;
  }

  HeapBlock clusterData(static_cast<std::size_t>(clusterBytes));
  if (!clusterData) return kLocateFailed;
  const std::uint64_t dataStartSectors = reservedSectors + 2 * sectorsPerFat;
  for (std::uint64_t i = 0; i < chainLength; ++i) {
    std::uint64_t sectors = (chain[i] - std::uint64_t{kFirstDataCluster}) * sectorsPerCluster +
                            dataStartSectors;
    std::uint64_t position = 0;
    if (!AddChecked(base, sectors * bytesPerSector, &position)) return kLocateFailed;
    if (!ReadExact(source, position, clusterData.get(), static_cast<std::uint32_t>(clusterBytes))) {
      return kLocateFailed;
    }
    // Every entry is looked at: a zero first byte does not end the scan.
    for (std::uint64_t at = 0; at + kDirEntrySize <= clusterBytes; at += kDirEntrySize) {
      const std::uint8_t* entry = clusterData.get() + at;
      if (entry[0] == kDeleted || entry[11] != kVolumeLabelAttribute) continue;
      char name[12];
      std::memcpy(name, entry, 11);
      name[11] = '\0';
      // Trailing blanks go, down to the second byte; the first always stays.
      for (int k = 10; k >= 1 && name[k] == ' '; --k) name[k] = '\0';
      if (source.AnsiToWide(name, label, static_cast<int>(kVolumeLabelChars)) == 0) {
        label[0] = L'\0';
        return kLocateFailed;
      }
      return kLocateFound;
    }
  }
  return kLocateNotFound;
}

}  // namespace tavu
