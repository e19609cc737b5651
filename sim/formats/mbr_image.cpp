// MBR partition tables: the four primary slots of sector 0 and the chain of
// extended boot records behind an extended partition. LBAs count the disk's
// own logical sectors; the table itself fills the first 512 bytes of one.
#include <cstring>
#include <set>
#include <vector>

#include "common/little_endian.h"
#include "common/win_errors.h"
#include "sim/formats/disk_layout.h"

namespace tavu::sim {

namespace {

constexpr std::size_t kTableOffset = 446;
// Windows presents at most this many extended boot records' worth of entries;
// a longer chain is taken for a damaged one.
constexpr int kMaxLogicalTables = 128;

bool IsContainerType(std::uint8_t type) { return type == 0x05 || type == 0x0F; }

bool HasBootSignature(const std::uint8_t* sector) {
  return sector[510] == 0x55 && sector[511] == 0xAA;
}

// A table whose boot indicators are neither 0 nor 0x80 is not a partition table
// (a file system's boot sector also ends in 55 AA).
bool BootIndicatorsValid(const std::uint8_t* sector) {
  for (int i = 0; i < 4; ++i) {
    std::uint8_t boot = sector[kTableOffset + 16 * i];
    if (boot != 0x00 && boot != 0x80) return false;
  }
  return true;
}

struct RawSlot {
  std::uint8_t boot;
  std::uint8_t type;
  std::uint32_t start;
  std::uint32_t sectors;
};

RawSlot SlotAt(const std::uint8_t* sector, int i) {
  const std::uint8_t* p = sector + kTableOffset + 16 * i;
  return RawSlot{p[0], p[4], Le32(p + 8), Le32(p + 12)};
}

// Appends the four slots of one table. base: the sector that a slot's start
// counts from (the table's own sector for partitions, the extended
// partition's first sector for links in a logical table).
void AppendTable(SimLayout& layout, const std::uint8_t* sector, std::uint64_t sectorSize,
                 std::uint64_t tableLba, std::uint64_t partitionBase, std::uint64_t linkBase,
                 std::uint32_t* number, std::uint64_t* nextLink) {
  for (int i = 0; i < 4; ++i) {
    RawSlot raw = SlotAt(sector, i);
    PARTITION_INFORMATION_EX e{};
    e.PartitionStyle = PARTITION_STYLE_MBR;
    MbrSlot where{tableLba, static_cast<std::uint32_t>(i), false};
    if (raw.type != 0 && raw.sectors != 0) {
      where.used = true;
      bool container = IsContainerType(raw.type);
      std::uint64_t base = container ? linkBase : partitionBase;
      e.StartingOffset = static_cast<std::int64_t>((base + raw.start) * sectorSize);
      e.PartitionLength = static_cast<std::int64_t>(static_cast<std::uint64_t>(raw.sectors) * sectorSize);
      e.Mbr.PartitionType = raw.type;
      e.Mbr.BootIndicator = raw.boot == 0x80 ? 1 : 0;
      e.Mbr.RecognizedPartition = IsRecognizedMbrType(raw.type) ? 1 : 0;
      e.Mbr.HiddenSectors = raw.start;
      if (container) {
        if (nextLink != nullptr && *nextLink == 0) *nextLink = base + raw.start;
      } else {
        e.PartitionNumber = ++*number;
      }
    }
    layout.entries.push_back(e);
    layout.mbrSlots.push_back(where);
  }
}

}  // namespace

SimLayout ReadMbrLayout(const DiskImage& image, const std::uint8_t* mbr) {
  if (!BootIndicatorsValid(mbr)) return SimLayout{};
  SimLayout layout;
  layout.style = PARTITION_STYLE_MBR;
  layout.mbr.Signature = Le32(mbr + 440);
  // The checksum Windows reports is the two's complement of the sum of the
  // sector's 128 double words.
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < kSectorSize; i += 4) sum += Le32(mbr + i);
  layout.mbr.CheckSum = 0u - sum;

  std::uint32_t number = 0;
  std::uint64_t extendedStart = 0;
  const std::uint64_t sectorSize = image.sectorSize();
  AppendTable(layout, mbr, sectorSize, 0, 0, 0, &number, &extendedStart);

  // Logical partitions: each extended boot record holds one partition (counted
  // from the record's own sector) and a link to the next record (counted from
  // the extended partition's first sector). A broken or looping chain ends
  // where it breaks, as the partitions before the break are still valid.
  std::set<std::uint64_t> seen;
  std::uint64_t ebr = extendedStart;
  for (int tables = 0; ebr != 0 && tables < kMaxLogicalTables; ++tables) {
    if (ebr >= image.sectors() || !seen.insert(ebr).second) break;
    std::uint8_t sector[kSectorSize];
    if (!image.Read(ebr * sectorSize, sector, sizeof(sector))) break;
    if (!HasBootSignature(sector) || !BootIndicatorsValid(sector)) break;
    std::uint64_t next = 0;
    AppendTable(layout, sector, sectorSize, ebr, ebr, extendedStart, &number, &next);
    ebr = next;
  }
  return layout;
}

bool WriteMbrLayout(DiskImage& image, const SimLayout& now, const DRIVE_LAYOUT_INFORMATION_EX* in,
                    std::uint32_t* error) {
  // The simulation changes types and active flags; it does not move, create or
  // delete partitions.
  if (in->PartitionCount != now.entries.size()) {
    *error = kErrorInvalidParameter;
    return false;
  }
  struct Change {
    std::size_t entry;
    bool type;
    bool boot;
  };
  std::vector<Change> changes;
  for (std::size_t i = 0; i < now.entries.size(); ++i) {
    const PARTITION_INFORMATION_EX& want = *LayoutEntry(in, i);
    const PARTITION_INFORMATION_EX& cur = now.entries[i];
    if (want.PartitionStyle != PARTITION_STYLE_MBR || want.StartingOffset != cur.StartingOffset ||
        want.PartitionLength != cur.PartitionLength) {
      *error = kErrorInvalidParameter;
      return false;
    }
    bool typeChanged = want.Mbr.PartitionType != cur.Mbr.PartitionType;
    bool bootChanged = (want.Mbr.BootIndicator != 0) != (cur.Mbr.BootIndicator != 0);
    if (!typeChanged && !bootChanged) continue;
    if (!now.mbrSlots[i].used) {
      *error = kErrorInvalidParameter;
      return false;
    }
    changes.push_back(Change{i, typeChanged, bootChanged});
  }
  for (const Change& c : changes) {
    const PARTITION_INFORMATION_EX& want = *LayoutEntry(in, c.entry);
    const MbrSlot& where = now.mbrSlots[c.entry];
    // The whole sector is written back, since the disk writes no less.
    std::vector<std::uint8_t> sector(image.sectorSize());
    if (!image.Read(where.tableLba * image.sectorSize(), sector.data(), sector.size())) {
      *error = kErrorGenFailure;
      return false;
    }
    std::uint8_t* slot = sector.data() + kTableOffset + 16 * where.slot;
    if (c.boot) slot[0] = want.Mbr.BootIndicator != 0 ? 0x80 : 0x00;
    if (c.type) slot[4] = want.Mbr.PartitionType;
    if (!image.Write(where.tableLba * image.sectorSize(), sector.data(), sector.size())) {
      *error = kErrorGenFailure;
      return false;
    }
  }
  return true;
}

}  // namespace tavu::sim
