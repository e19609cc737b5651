#include "sim/formats/disk_layout.h"

#include <cstring>

#include "common/win_errors.h"

namespace tavu::sim {

namespace {

bool HasProtectiveEntry(const std::uint8_t* mbr) {
  for (int i = 0; i < 4; ++i) {
    if (mbr[446 + 16 * i + 4] == 0xEE) return true;
  }
  return false;
}

}  // namespace

const char* FileSystemAtStart(const DiskImage& image) {
  std::uint8_t sector[kSectorSize];
  if (image.sectors() < 1 || !image.Read(0, sector, sizeof sector)) return nullptr;
  if (sector[510] == 0x55 && sector[511] == 0xAA && HasProtectiveEntry(sector)) return nullptr;
  if (std::memcmp(sector + 3, "NTFS    ", 8) == 0) return "NTFS";
  if (std::memcmp(sector + 3, "EXFAT   ", 8) == 0) return "exFAT";
  if (std::memcmp(sector + 82, "FAT32   ", 8) == 0) return "FAT32";
  if (std::memcmp(sector + 54, "FAT12   ", 8) == 0 || std::memcmp(sector + 54, "FAT16   ", 8) == 0)
    return "FAT";
  return nullptr;
}

SimLayout SuperfloppyLayout(const DiskImage& image) {
  SimLayout layout;
  const char* fs = FileSystemAtStart(image);
  if (fs == nullptr) return layout;
  layout.style = PARTITION_STYLE_MBR;
  PARTITION_INFORMATION_EX e{};
  e.PartitionStyle = PARTITION_STYLE_MBR;
  e.StartingOffset = 0;
  e.PartitionLength = static_cast<std::int64_t>(image.sectors() * image.sectorSize());
  e.PartitionNumber = 1;
  const bool fat32 = std::strcmp(fs, "FAT32") == 0;
  const bool fat = std::strcmp(fs, "FAT") == 0;
  e.Mbr.PartitionType = fat32 ? 0x0C : fat ? 0x06 : 0x07;
  e.Mbr.RecognizedPartition = 1;
  layout.entries.push_back(e);
  // No slot holds it: a layout write finds nothing to change.
  layout.mbrSlots.push_back(MbrSlot{});
  return layout;
}

bool IsRecognizedMbrType(std::uint8_t type) {
  // The types the disk driver hands to a file system; with the NTFT bits (0x80,
  // 0x40) set they are members of a fault-tolerant set and count as well.
  auto plain = [](std::uint8_t t) {
    return t == 0x01 || t == 0x04 || t == 0x06 || t == 0x07 || t == 0x0B || t == 0x0C || t == 0x0E;
  };
  if (plain(type)) return true;
  if ((type & 0x80) != 0) {
    std::uint8_t base = static_cast<std::uint8_t>(type & ~0xC0);
    return base != 0x04 && plain(base);
  }
  return false;
}

SimLayout ReadLayout(const DiskImage& image) {
  std::uint8_t mbr[kSectorSize];
  if (image.sectors() < 1 || !image.Read(0, mbr, sizeof(mbr))) return SimLayout{};
  if (mbr[510] != 0x55 || mbr[511] != 0xAA) return SimLayout{};
  if (HasProtectiveEntry(mbr)) return ReadGptLayout(image, mbr);
  return ReadMbrLayout(image, mbr);
}

bool WriteLayout(DiskImage& image, const void* buffer, std::uint32_t size, std::uint32_t* error) {
  return WriteLayout(image, ReadLayout(image), buffer, size, error);
}

bool WriteLayout(DiskImage& image, const SimLayout& now, const void* buffer, std::uint32_t size,
                 std::uint32_t* error) {
  if (buffer == nullptr || size < kDriveLayoutHeaderSize) {
    *error = kErrorInvalidParameter;
    return false;
  }
  const auto* in = static_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer);
  if (in->PartitionCount > (size - kDriveLayoutHeaderSize) / sizeof(PARTITION_INFORMATION_EX)) {
    *error = kErrorInvalidParameter;
    return false;
  }
  // The simulated disks keep their style: a layout of another style (a
  // conversion, or a RAW disk being initialised) is refused.
  if (in->PartitionStyle != now.style || now.style == PARTITION_STYLE_RAW) {
    *error = kErrorNotSupported;
    return false;
  }
  if (now.style == PARTITION_STYLE_MBR) return WriteMbrLayout(image, now, in, error);
  return WriteGptLayout(image, now, in, error);
}

}  // namespace tavu::sim
