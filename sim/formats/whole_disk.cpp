#include "sim/formats/whole_disk.h"

#include <cstring>
#include <vector>

#include "common/little_endian.h"
#include "sim/formats/disk_layout.h"

namespace tavu::sim {

namespace {

constexpr std::uint64_t kMaxArrayBytes = 4u << 20;

bool HasProtectiveEntry(const std::uint8_t* mbr) {
  for (int i = 0; i < 4; ++i) {
    if (mbr[446 + 16 * i + 4] == 0xEE) return true;
  }
  return false;
}

bool GptSignatureAt(const DiskImage& image, std::uint64_t offset) {
  char text[8];
  return image.Read(offset, text, sizeof text) && std::memcmp(text, "EFI PART", 8) == 0;
}

std::string Number(std::uint64_t v) { return std::to_string(v); }

std::string BeyondEnd(const std::string& what, std::uint64_t endByte, std::uint64_t imageBytes) {
  return what + " ends at byte " + Number(endByte) + ", beyond the image's end at byte " +
         Number(imageBytes) + ": the image is cut short";
}

// The primary GPT as written, read without the checks that make a cut image's
// table unusable: the first partition that runs past the end, or the backup
// header that lies past it.
std::string CutGpt(const DiskImage& image) {
  const std::uint32_t ss = image.sectorSize();
  std::vector<std::uint8_t> header(ss);
  if (!image.Read(ss, header.data(), ss) || std::memcmp(header.data(), "EFI PART", 8) != 0) return "";
  const std::uint64_t sectors = image.sectors();
  const std::uint64_t imageBytes = sectors * ss;
  const std::uint64_t entriesLba = Le64(header.data() + 72);
  const std::uint32_t count = Le32(header.data() + 80);
  const std::uint32_t size = Le32(header.data() + 84);
  if (size >= 128 && size % 8 == 0 && std::uint64_t{count} * size <= kMaxArrayBytes && entriesLba < sectors) {
    std::vector<std::uint8_t> entry(size);
    std::uint32_t number = 0;
    static const std::uint8_t kZero[16] = {};
    for (std::uint32_t slot = 0; slot < count; ++slot) {
      const std::uint64_t at = entriesLba * ss + std::uint64_t{slot} * size;
      if (!image.Read(at, entry.data(), size)) break;
      if (std::memcmp(entry.data(), kZero, 16) == 0) continue;
      ++number;
      const std::uint64_t last = Le64(entry.data() + 40);
      if (last >= sectors) return BeyondEnd("partition " + Number(number), (last + 1) * ss, imageBytes);
    }
  }
  const std::uint64_t backup = Le64(header.data() + 32);
  if (backup >= sectors) {
    return "the backup GPT header lies at LBA " + Number(backup) + ", beyond the image's last sector (LBA " +
           Number(sectors - 1) + "): the image is cut short";
  }
  return "";
}

}  // namespace

std::string WholeDiskProblem(const DiskImage& image, bool superfloppyAllowed) {
  const std::uint32_t ss = image.sectorSize();
  if (image.sectors() == 0) {
    return "shorter than one sector: " + Number(image.size()) + " bytes, and a sector holds " + Number(ss);
  }
  std::uint8_t first[512];
  if (!image.Read(0, first, sizeof first)) return "its first sector cannot be read";
  const bool protective = first[510] == 0x55 && first[511] == 0xAA && HasProtectiveEntry(first);
  if (const char* fs = FileSystemAtStart(image)) {
    if (superfloppyAllowed) return "";
    const bool an = fs[0] == 'N' || fs[0] == 'e';  // "an NTFS", "an exFAT", "a FAT32"
    return std::string("an image of one partition, not of a whole disk (") + (an ? "an " : "a ") + fs +
           " file system starts at byte 0 and there is no partition table)";
  }
  const SimLayout layout = ReadLayout(image);
  const std::uint64_t imageBytes = image.sectors() * ss;
  for (const PARTITION_INFORMATION_EX& e : layout.entries) {
    if (e.PartitionLength <= 0 || e.StartingOffset < 0) continue;
    const std::uint64_t end =
        static_cast<std::uint64_t>(e.StartingOffset) + static_cast<std::uint64_t>(e.PartitionLength);
    if (end <= imageBytes) continue;
    const std::string what = e.PartitionNumber != 0 ? "partition " + Number(e.PartitionNumber)
                                                    : std::string("the extended partition");
    return BeyondEnd(what, end, imageBytes);
  }
  if (protective && layout.style == PARTITION_STYLE_RAW) {
    const std::string cut = CutGpt(image);
    if (!cut.empty()) return cut;
    // A GPT found only where the other sector size puts LBA 1: the disk was
    // given the wrong size.
    const std::uint32_t other = ss == kSectorSize ? kLargeSectorSize : kSectorSize;
    if (!GptSignatureAt(image, ss) && GptSignatureAt(image, other)) {
      return "its GPT header lies at byte " + Number(other) + ", where it lies on a disk of " +
             Number(other) + "-byte sectors, not of the " + Number(ss) +
             "-byte sectors given: use --sector-size " + Number(other);
    }
  }
  return "";
}

}  // namespace tavu::sim
