// FAT32: the label is the root directory's entry whose attribute byte is
// exactly the volume-label bit. Two FATs are assumed; the second copy is read
// whole. Cluster c starts at ((c - 2) * sectors per cluster + reserved + 2 *
// sectors per FAT) sectors.
#include <cstring>

#include "common/fat32_layout.h"
#include "common/heap_block.h"
#include "common/label_reading.h"
#include "common/little_endian.h"
#include "common/volume_label.h"

namespace tavu {

namespace {

using namespace label_detail;
using namespace fat32;

static_assert(boot::FileSystemType::kEnd <= kBootSectorSize);

// FAT32 addresses at most 2^28 clusters: a FAT of 4-byte entries is never
// larger than 1 GiB.
constexpr std::uint64_t kMaxFatBytes = std::uint64_t{1} << 30;
// A directory holds at most 65,536 entries of 32 bytes; a root chain longer
// than that is a loop or a damaged FAT.
constexpr std::uint64_t kMaxDirectoryBytes = 65536u * kDirEntrySize;

}  // namespace

int ReadFat32VolumeLabelFrom(SectorSource& source, wchar_t* label, std::int64_t offset) {
  std::uint8_t sector[kBootSectorSize];
  const int started = ReadBootSector(source, label, offset, sector);
  if (started != kLocateFound) return started;
  const auto base = static_cast<std::uint64_t>(offset);

  const std::uint64_t bytesPerSector = Read<boot::BytesPerSector>(sector);
  const std::uint64_t sectorsPerCluster = Read<boot::SectorsPerCluster>(sector);
  const std::uint64_t reservedSectors = Read<boot::ReservedSectors>(sector);
  const std::uint64_t sectorsPerFat = Read<boot::SectorsPerFat>(sector);
  const std::uint32_t rootCluster = Read<boot::RootCluster>(sector);
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
  HeapBlock fat = HeapBlock::Uninitialised(static_cast<std::size_t>(fatBytes));
  if (!fat) return kLocateFailed;
  if (!ReadExact(source, fatPosition, fat.get(), static_cast<std::uint32_t>(fatBytes))) {
    return kLocateFailed;
  }
  const std::uint64_t fatEntries = fatBytes / kFatEntrySize;
  if (rootCluster < kFirstDataCluster || rootCluster >= fatEntries) return kLocateNotFound;

  // The root directory's chain, built whole before any cluster is read. Values
  // at or above the number of entries (the end marks among them) end it.
  std::uint64_t maxChain = kMaxDirectoryBytes / clusterBytes;
  if (maxChain == 0) maxChain = 1;
  HeapBlock chainBlock = HeapBlock::Uninitialised(static_cast<std::size_t>(maxChain) * sizeof(std::uint32_t));
  if (!chainBlock) return kLocateFailed;
  auto* chain = chainBlock.As<std::uint32_t>();
  std::uint64_t chainLength = 0;
  for (std::uint32_t cluster = rootCluster;;) {
    if (chainLength == maxChain) return kLocateNotFound;
    chain[chainLength++] = cluster;
    const std::uint32_t next = Le32(fat.get() + std::uint64_t{cluster} * kFatEntrySize);
    if (next >= fatEntries || next == kEndOfChain) break;
    // Entries 0 and 1 are no clusters: a chain that leads there is damaged.
    if (next < kFirstDataCluster) return kLocateNotFound;
    cluster = next;
  }

  HeapBlock clusterData = HeapBlock::Uninitialised(static_cast<std::size_t>(clusterBytes));
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
      const std::uint8_t* name = At<dir_entry::Name>(entry);
      if (name[0] == kDeletedMark || Read<dir_entry::Attributes>(entry) != kAttributeVolumeLabel) continue;
      char text[dir_entry::Name::kSize + 1];
      std::memcpy(text, name, dir_entry::Name::kSize);
      text[dir_entry::Name::kSize] = '\0';
      // Trailing blanks go, down to the second byte; the first always stays.
      for (std::size_t k = dir_entry::Name::kSize - 1; k >= 1 && text[k] == ' '; --k) text[k] = '\0';
      if (source.AnsiToWide(text, label, static_cast<int>(kVolumeLabelChars)) == 0) {
        label[0] = L'\0';
        return kLocateFailed;
      }
      return kLocateFound;
    }
  }
  return kLocateNotFound;
}

}  // namespace tavu
