// Every rule of a GUID partition table that an image breaks, one sentence
// each, counted the way GPT fdisk's verify step counts them: per copy its
// signature, header size, header CRC, own LBA and entries CRC; the backup's
// place; and whether the two copies agree.
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "sim/formats/disk_layout.h"

namespace tavu::sim {

namespace {

constexpr std::size_t kHdrSize = 12, kHdrCrc = 16, kMyLba = 24, kAlternateLba = 32, kFirstUsable = 40,
                      kLastUsable = 48, kDiskGuid = 56, kEntriesLba = 72, kEntryCount = 80, kEntrySize = 84,
                      kEntriesCrc = 88;
constexpr std::uint64_t kMaxArrayBytes = 4u << 20;

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  return static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), data, static_cast<uInt>(size)));
}

std::string Format(const char* format, unsigned long long a, unsigned long long b = 0) {
  char text[200];
  // The sentences are far shorter than the buffer; a cut one would still read.
  (void)std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// One copy's own rules; *array gets its entries when they could be read.
void VerifyCopy(const DiskImage& image, std::uint64_t lba, const char* which, std::vector<std::string>* problems,
                std::uint8_t* header, std::vector<std::uint8_t>* array) {
  const std::string name = which;
  const std::uint32_t sector = image.sectorSize();
  if (!image.Read(lba * sector, header, sector)) {
    problems->push_back("The " + name + " GPT header's sector cannot be read");
    return;
  }
  if (std::memcmp(header, "EFI PART", 8) != 0) {
    problems->push_back("The " + name + " GPT header's signature is not \"EFI PART\"");
    return;
  }
  const std::uint32_t size = Le32(header + kHdrSize);
  if (size < 92 || size > sector) {
    problems->push_back("The " + name +
                        Format(" GPT header's size is %llu bytes, not 92 to %llu", size, sector));
    return;
  }
  std::uint8_t copy[kLargeSectorSize];
  std::memcpy(copy, header, size);
  PutLe32(copy + kHdrCrc, 0);
  if (Crc32(copy, size) != Le32(header + kHdrCrc)) problems->push_back("The CRC of the " + name + " GPT header is wrong");
  const std::uint64_t my = Le64(header + kMyLba);
  if (my != lba) {
    problems->push_back("The " + name + Format(" GPT header says it lies at LBA %llu, not at LBA %llu", my, lba));
  }
  const std::uint64_t entriesLba = Le64(header + kEntriesLba);
  const std::uint64_t bytes = static_cast<std::uint64_t>(Le32(header + kEntryCount)) * Le32(header + kEntrySize);
  if (bytes == 0 || bytes > kMaxArrayBytes || entriesLba >= image.sectors() ||
      (bytes + sector - 1) / sector > image.sectors() - entriesLba) {
    problems->push_back("The " + name + " partition table lies outside the disk or is no table");
    return;
  }
  array->resize(static_cast<std::size_t>(bytes));
  if (!image.Read(entriesLba * sector, array->data(), array->size())) {
    problems->push_back("The " + name + " partition table cannot be read");
    array->clear();
    return;
  }
  if (Crc32(array->data(), array->size()) != Le32(header + kEntriesCrc)) {
    problems->push_back("The CRC of the " + name + " partition table is wrong");
  }
}

}  // namespace

std::vector<std::string> VerifyGpt(const DiskImage& image) {
  std::vector<std::string> problems;
  if (image.sectors() < 3) return {"The disk is too small to hold a GPT"};
  const std::uint64_t last = image.sectors() - 1;
  std::uint8_t main[kLargeSectorSize] = {};
  std::uint8_t backup[kLargeSectorSize] = {};
  std::vector<std::uint8_t> mainArray;
  std::vector<std::uint8_t> backupArray;
  VerifyCopy(image, 1, "main", &problems, main, &mainArray);
  const std::size_t mainProblems = problems.size();
  VerifyCopy(image, last, "backup", &problems, backup, &backupArray);
  const bool mainSound = mainProblems == 0;
  const bool backupSound = problems.size() == mainProblems;
  if (mainSound && Le64(main + kAlternateLba) != last) {
    problems.push_back(Format("The main GPT header places its backup at LBA %llu, not in the disk's last sector "
                              "(LBA %llu)",
                              Le64(main + kAlternateLba), last));
  }
  if (mainSound && backupSound) {
    if (std::memcmp(main + kDiskGuid, backup + kDiskGuid, 16) != 0 ||
        Le64(main + kFirstUsable) != Le64(backup + kFirstUsable) ||
        Le64(main + kLastUsable) != Le64(backup + kLastUsable) ||
        Le32(main + kEntryCount) != Le32(backup + kEntryCount) || Le32(main + kEntrySize) != Le32(backup + kEntrySize)) {
      problems.push_back("The backup GPT header does not agree with the main one (disk GUID, usable area or entries)");
    } else if (mainArray != backupArray) {
      problems.push_back("The backup partition table differs from the main one");
    }
  }
  // Which copy Windows presents, as the layout reader chooses.
  const SimLayout layout = ReadLayout(image);
  if (layout.source == GptSource::Backup && mainProblems != 0) problems[0] += "; the backup header was used";
  if (layout.source == GptSource::None && !problems.empty()) problems.back() += "; neither copy is usable";
  return problems;
}

}  // namespace tavu::sim
