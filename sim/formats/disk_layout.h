// A disk's partition table as Windows presents it through
// IOCTL_DISK_GET_DRIVE_LAYOUT_EX, read from the image, and the write of
// IOCTL_DISK_SET_DRIVE_LAYOUT_EX back into it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/win_records.h"
#include "sim/formats/disk_image.h"

namespace tavu::sim {

// Where an MBR entry lives: the sector of its table (0 for the MBR, an EBR's
// own sector for a logical partition) and its slot there (0..3).
struct MbrSlot {
  std::uint64_t tableLba = 0;
  std::uint32_t slot = 0;
  bool used = false;  // a partition (or a link) sits there
};

// One GPT header as found on the disk.
struct GptHeader {
  bool valid = false;
  std::uint64_t lba = 0;
  std::uint8_t bytes[kLargeSectorSize] = {};  // the header's whole sector
  std::uint32_t headerSize = 0;
  std::uint64_t entriesLba = 0;
  std::uint32_t entryCount = 0;
  std::uint32_t entrySize = 0;
};

enum class GptSource : std::uint8_t { None, Primary, Backup };

struct SimLayout {
  std::uint32_t style = PARTITION_STYLE_RAW;
  DRIVE_LAYOUT_INFORMATION_MBR mbr{};
  DRIVE_LAYOUT_INFORMATION_GPT gpt{};
  std::vector<PARTITION_INFORMATION_EX> entries;

  // MBR: one slot per entry.
  std::vector<MbrSlot> mbrSlots;

  // GPT: both headers as found, the one whose table is presented, the entry
  // array of that table, and the table slot of each presented entry.
  GptHeader primary;
  GptHeader backup;
  GptSource source = GptSource::None;
  std::vector<std::uint8_t> entryArray;
  std::vector<std::uint32_t> gptSlots;
};

// Reads the table the way Windows does: a protective MBR (type 0xEE) leads to
// the GPT (primary header, else the backup in the last sector), a valid MBR to
// its four primary entries and the logical partitions of a clean extended
// chain; anything else is RAW.
SimLayout ReadLayout(const DiskImage& image);

// The file system whose boot sector lies at byte 0 of a disk without a
// partition table ("NTFS", "exFAT", "FAT32", "FAT"), or nullptr: an image of
// one partition, or a stick formatted without a table (a superfloppy).
const char* FileSystemAtStart(const DiskImage& image);

// How Windows presents a superfloppy on removable or USB media: an MBR
// layout of one partition over the whole medium, which no table holds and no
// layout write changes. The RAW layout when FileSystemAtStart finds nothing.
SimLayout SuperfloppyLayout(const DiskImage& image);

// Writes a layout given to IOCTL_DISK_SET_DRIVE_LAYOUT_EX into the image.
// GPT: the entry array (both copies), its CRC and both headers with their CRCs;
// a damaged header is rebuilt from the good one. MBR: the type byte and boot
// indicator of each entry. Only changed fields are written, so every other
// byte of the image stays as it was. False with *error (a Windows error code)
// when the layout cannot be applied.
bool WriteLayout(DiskImage& image, const void* buffer, std::uint32_t size, std::uint32_t* error);
// The same, with the layout the image holds now already read (ReadLayout).
bool WriteLayout(DiskImage& image, const SimLayout& now, const void* buffer, std::uint32_t size,
                 std::uint32_t* error);

// Every rule of the GPT that the image breaks, one sentence each (empty for a
// sound table), ending with which copy Windows then presents.
std::vector<std::string> VerifyGpt(const DiskImage& image);

// Windows' IsRecognizedPartition for an MBR type byte.
bool IsRecognizedMbrType(std::uint8_t type);

// Parts of the readers, shared by both files.
SimLayout ReadMbrLayout(const DiskImage& image, const std::uint8_t* mbr);
SimLayout ReadGptLayout(const DiskImage& image, const std::uint8_t* mbr);
bool WriteMbrLayout(DiskImage& image, const SimLayout& now, const DRIVE_LAYOUT_INFORMATION_EX* in,
                    std::uint32_t* error);
bool WriteGptLayout(DiskImage& image, const SimLayout& now, const DRIVE_LAYOUT_INFORMATION_EX* in,
                    std::uint32_t* error);

}  // namespace tavu::sim
