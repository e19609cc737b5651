// GUID partition tables: the primary header in sector 1, the backup in the
// last sector, each with its own copy of the entry array, all guarded by CRC-32.
// LBAs count the disk's own logical sectors (512 or 4096 bytes).
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "common/little_endian.h"
#include "common/win_errors.h"
#include "sim/formats/disk_layout.h"

namespace tavu::sim {

namespace {

// Header fields (byte offsets).
constexpr std::size_t kHdrSize = 12, kHdrCrc = 16, kMyLba = 24, kAlternateLba = 32,
                      kFirstUsable = 40, kLastUsable = 48, kDiskGuid = 56, kEntriesLba = 72,
                      kEntryCount = 80, kEntrySize = 84, kEntriesCrc = 88;
// Entry fields.
constexpr std::size_t kEntType = 0, kEntId = 16, kEntStart = 32, kEntEnd = 40, kEntAttr = 48,
                      kEntName = 56, kEntNameBytes = 72;
// Larger arrays than this are not a table Windows would read.
constexpr std::uint64_t kMaxArrayBytes = 4u << 20;

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes the length as uInt; arrays here are far below its limit.
  return static_cast<std::uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
}

std::uint32_t HeaderCrc(const std::uint8_t* header, std::uint32_t size) {
  std::uint8_t copy[kLargeSectorSize];
  std::memcpy(copy, header, size);
  PutLe32(copy + kHdrCrc, 0);
  return Crc32(copy, size);
}

std::uint64_t ArraySectors(const GptHeader& h, std::uint32_t sectorSize) {
  std::uint64_t bytes = static_cast<std::uint64_t>(h.entryCount) * h.entrySize;
  return (bytes + sectorSize - 1) / sectorSize;
}

Guid GuidAt(const std::uint8_t* p) {
  Guid g{};
  g.Data1 = Le32(p);
  g.Data2 = Le16(p + 4);
  g.Data3 = Le16(p + 6);
  std::memcpy(g.Data4, p + 8, 8);
  return g;
}

void PutGuid(std::uint8_t* p, const Guid& g) {
  PutLe32(p, g.Data1);
  PutLe16(p + 4, g.Data2);
  PutLe16(p + 6, g.Data3);
  std::memcpy(p + 8, g.Data4, 8);
}

bool SameGuid(const Guid& a, const Guid& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, 8) == 0;
}

// Reads and checks the header in sector lba and its entry array.
GptHeader ReadHeader(const DiskImage& image, std::uint64_t lba, std::vector<std::uint8_t>* array) {
  GptHeader h;
  h.lba = lba;
  const std::uint64_t sectors = image.sectors();
  const std::uint32_t ss = image.sectorSize();
  if (lba >= sectors || !image.Read(lba * ss, h.bytes, ss)) return h;
  if (std::memcmp(h.bytes, "EFI PART", 8) != 0) return h;
  h.headerSize = Le32(h.bytes + kHdrSize);
  if (h.headerSize < 92 || h.headerSize > ss) return h;
  if (HeaderCrc(h.bytes, h.headerSize) != Le32(h.bytes + kHdrCrc)) return h;
  if (Le64(h.bytes + kMyLba) != lba) return h;
  std::uint64_t first = Le64(h.bytes + kFirstUsable);
  std::uint64_t last = Le64(h.bytes + kLastUsable);
  if (last >= sectors || first > last + 1) return h;
  h.entriesLba = Le64(h.bytes + kEntriesLba);
  h.entryCount = Le32(h.bytes + kEntryCount);
  h.entrySize = Le32(h.bytes + kEntrySize);
  if (h.entrySize < 128 || h.entrySize % 8 != 0) return h;
  std::uint64_t bytes = static_cast<std::uint64_t>(h.entryCount) * h.entrySize;
  if (bytes > kMaxArrayBytes) return h;
  if (h.entriesLba >= sectors || ArraySectors(h, ss) > sectors - h.entriesLba) return h;
  std::vector<std::uint8_t> entries(static_cast<std::size_t>(bytes));
  if (!image.Read(h.entriesLba * ss, entries.data(), entries.size())) return h;
  if (Crc32(entries.data(), entries.size()) != Le32(h.bytes + kEntriesCrc)) return h;
  h.valid = true;
  if (array != nullptr) *array = std::move(entries);
  return h;
}

bool IsEmptySlot(const std::uint8_t* entry) {
  static const std::uint8_t kZero[16] = {};
  return std::memcmp(entry + kEntType, kZero, 16) == 0;
}

}  // namespace

SimLayout ReadGptLayout(const DiskImage& image, const std::uint8_t* /*mbr*/) {
  SimLayout layout;
  std::vector<std::uint8_t> primaryArray;
  std::vector<std::uint8_t> backupArray;
  layout.primary = ReadHeader(image, 1, &primaryArray);
  if (image.sectors() > 2) layout.backup = ReadHeader(image, image.sectors() - 1, &backupArray);
  const GptHeader* use = nullptr;
  if (layout.primary.valid) {
    use = &layout.primary;
    layout.source = GptSource::Primary;
    layout.entryArray = std::move(primaryArray);
  } else if (layout.backup.valid) {
    use = &layout.backup;
    layout.source = GptSource::Backup;
    layout.entryArray = std::move(backupArray);
  } else {
    SimLayout raw;
    raw.primary = layout.primary;
    raw.backup = layout.backup;
    return raw;
  }
  layout.style = PARTITION_STYLE_GPT;
  const std::uint64_t sector = image.sectorSize();
  std::uint64_t first = Le64(use->bytes + kFirstUsable);
  std::uint64_t last = Le64(use->bytes + kLastUsable);
  layout.gpt.DiskId = GuidAt(use->bytes + kDiskGuid);
  layout.gpt.StartingUsableOffset = static_cast<std::int64_t>(first * sector);
  layout.gpt.UsableLength = static_cast<std::int64_t>((last + 1 - first) * sector);
  layout.gpt.MaxPartitionCount = use->entryCount;

  std::uint32_t number = 0;
  for (std::uint32_t slot = 0; slot < use->entryCount; ++slot) {
    const std::uint8_t* p = layout.entryArray.data() + static_cast<std::size_t>(slot) * use->entrySize;
    if (IsEmptySlot(p)) continue;
    PARTITION_INFORMATION_EX e{};
    e.PartitionStyle = PARTITION_STYLE_GPT;
    std::uint64_t start = Le64(p + kEntStart);
    std::uint64_t end = Le64(p + kEntEnd);
    e.StartingOffset = static_cast<std::int64_t>(start * sector);
    e.PartitionLength = end >= start ? static_cast<std::int64_t>((end - start + 1) * sector) : 0;
    e.PartitionNumber = ++number;
    e.Gpt.PartitionType = GuidAt(p + kEntType);
    e.Gpt.PartitionId = GuidAt(p + kEntId);
    e.Gpt.Attributes = Le64(p + kEntAttr);
    for (int i = 0; i < 36; ++i) e.Gpt.Name[i] = Le16(p + kEntName + 2 * i);
    layout.entries.push_back(e);
    layout.gptSlots.push_back(slot);
  }
  return layout;
}

bool WriteGptLayout(DiskImage& image, const SimLayout& now, const DRIVE_LAYOUT_INFORMATION_EX* in,
                    std::uint32_t* error) {
  const GptHeader& use = now.source == GptSource::Primary ? now.primary : now.backup;
  const std::uint64_t sector = image.sectorSize();
  if (in->PartitionCount > use.entryCount) {
    *error = kErrorInvalidParameter;
    return false;
  }
  std::vector<std::uint8_t> array = now.entryArray;
  auto slotBytes = [&](std::uint32_t slot) {
    return array.data() + static_cast<std::size_t>(slot) * use.entrySize;
  };

  // Entries keep the slots they were read from; added ones take free slots,
  // dropped ones leave theirs empty.
  std::vector<bool> taken(use.entryCount, false);
  std::vector<std::uint32_t> slots;
  for (std::uint32_t i = 0; i < in->PartitionCount; ++i) {
    if (i < now.gptSlots.size()) {
      slots.push_back(now.gptSlots[i]);
      taken[now.gptSlots[i]] = true;
    }
  }
  for (std::uint32_t i = static_cast<std::uint32_t>(slots.size()); i < in->PartitionCount; ++i) {
    std::uint32_t s = 0;
    while (s < use.entryCount && (taken[s] || !IsEmptySlot(slotBytes(s)))) ++s;
    if (s == use.entryCount) {
      *error = kErrorInvalidParameter;
      return false;
    }
    taken[s] = true;
    slots.push_back(s);
  }
  for (std::size_t i = in->PartitionCount; i < now.gptSlots.size(); ++i) {
    std::memset(slotBytes(now.gptSlots[i]), 0, use.entrySize);
  }

  for (std::uint32_t i = 0; i < in->PartitionCount; ++i) {
    const PARTITION_INFORMATION_EX& want = *LayoutEntry(in, i);
    if (want.PartitionStyle != PARTITION_STYLE_GPT || want.StartingOffset < 0 || want.PartitionLength <= 0 ||
        want.StartingOffset % sector != 0 || want.PartitionLength % sector != 0) {
      *error = kErrorInvalidParameter;
      return false;
    }
    std::uint8_t* p = slotBytes(slots[i]);
    const PARTITION_INFORMATION_EX* cur = i < now.entries.size() ? &now.entries[i] : nullptr;
    // Only fields that differ from what was read are written, so a layout
    // written back unchanged leaves the entry's bytes exactly as they were.
    if (cur == nullptr || !SameGuid(cur->Gpt.PartitionType, want.Gpt.PartitionType))
      PutGuid(p + kEntType, want.Gpt.PartitionType);
    if (cur == nullptr || !SameGuid(cur->Gpt.PartitionId, want.Gpt.PartitionId))
      PutGuid(p + kEntId, want.Gpt.PartitionId);
    if (cur == nullptr || cur->StartingOffset != want.StartingOffset ||
        cur->PartitionLength != want.PartitionLength) {
      std::uint64_t start = static_cast<std::uint64_t>(want.StartingOffset) / sector;
      std::uint64_t count = static_cast<std::uint64_t>(want.PartitionLength) / sector;
      PutLe64(p + kEntStart, start);
      PutLe64(p + kEntEnd, start + count - 1);
    }
    if (cur == nullptr || cur->Gpt.Attributes != want.Gpt.Attributes)
      PutLe64(p + kEntAttr, want.Gpt.Attributes);
    if (cur == nullptr || std::memcmp(cur->Gpt.Name, want.Gpt.Name, kEntNameBytes) != 0) {
      for (int k = 0; k < 36; ++k) PutLe16(p + kEntName + 2 * k, want.Gpt.Name[k]);
    }
  }
  const std::uint32_t arrayCrc = Crc32(array.data(), array.size());
  const std::uint64_t arraySectors = ArraySectors(use, image.sectorSize());
  const std::uint64_t lastLba = image.sectors() - 1;

  // Both headers are written; one that was damaged is rebuilt from the other,
  // in its own place, with its own copy of the array.
  GptHeader primary = now.primary.valid ? now.primary : use;
  GptHeader backup = now.backup.valid ? now.backup : use;
  if (!now.primary.valid) {
    primary.lba = 1;
    primary.entriesLba = 2;
    PutLe64(primary.bytes + kMyLba, 1);
    PutLe64(primary.bytes + kAlternateLba, lastLba);
    PutLe64(primary.bytes + kEntriesLba, 2);
  }
  if (!now.backup.valid) {
    backup.lba = lastLba;
    backup.entriesLba = lastLba - arraySectors;
    PutLe64(backup.bytes + kMyLba, lastLba);
    PutLe64(backup.bytes + kAlternateLba, 1);
    PutLe64(backup.bytes + kEntriesLba, backup.entriesLba);
  }
  for (GptHeader* h : {&primary, &backup}) {
    std::uint8_t* b = h->bytes;
    if (!SameGuid(now.gpt.DiskId, in->Gpt.DiskId)) PutGuid(b + kDiskGuid, in->Gpt.DiskId);
    if (now.gpt.StartingUsableOffset != in->Gpt.StartingUsableOffset ||
        now.gpt.UsableLength != in->Gpt.UsableLength) {
      std::uint64_t first = static_cast<std::uint64_t>(in->Gpt.StartingUsableOffset) / sector;
      std::uint64_t length = static_cast<std::uint64_t>(in->Gpt.UsableLength) / sector;
      PutLe64(b + kFirstUsable, first);
      PutLe64(b + kLastUsable, first + length - 1);
    }
    PutLe32(b + kEntriesCrc, arrayCrc);
    PutLe32(b + kHdrCrc, HeaderCrc(b, h->headerSize));
  }

  // The array copies: whole sectors, the bytes past the array's end kept.
  std::vector<std::uint8_t> span(static_cast<std::size_t>(arraySectors * sector));
  for (const GptHeader* h : {&primary, &backup}) {
    if (h->entriesLba + arraySectors > image.sectors() ||
        !image.Read(h->entriesLba * sector, span.data(), span.size())) {
      *error = kErrorGenFailure;
      return false;
    }
    std::memcpy(span.data(), array.data(), array.size());
    if (!image.Write(h->entriesLba * sector, span.data(), span.size()) ||
        !image.Write(h->lba * sector, h->bytes, static_cast<std::size_t>(sector))) {
      *error = kErrorGenFailure;
      return false;
    }
  }
  return true;
}

}  // namespace tavu::sim
