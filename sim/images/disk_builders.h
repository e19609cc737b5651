// Disk images made in code, byte by byte from the on-disk formats: the exact
// edge cases that real tools never produce, for the tests, and the machines of
// tavu-sim demo. Every builder writes its structures itself and uses nothing
// of the simulated machine's readers, so the tests can check those against it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tavu::images {

using Bytes = std::vector<std::uint8_t>;
using Guid16 = std::array<std::uint8_t, 16>;

// Type GUIDs in their stored byte order.
extern const Guid16 kEfiSystemType;
extern const Guid16 kMsReservedType;
extern const Guid16 kBasicDataType;
extern const Guid16 kRecoveryType;

inline constexpr std::uint32_t kSector = 512;
inline constexpr std::uint64_t kMiB = 1024 * 1024;

void PutLe16(Bytes& b, std::size_t at, std::uint16_t v);
void PutLe32(Bytes& b, std::size_t at, std::uint32_t v);
void PutLe64(Bytes& b, std::size_t at, std::uint64_t v);
std::uint32_t GetLe32(const Bytes& b, std::size_t at);
std::uint64_t GetLe64(const Bytes& b, std::size_t at);
// zlib's CRC-32, as the GPT uses it.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);

// Copies a volume into a disk image at a byte offset (growing nothing).
void Place(Bytes& disk, std::uint64_t offset, const Bytes& volume);

struct GptEntryParams {
  Guid16 type{};
  std::uint64_t firstLba = 0;
  std::uint64_t lastLba = 0;
  std::uint64_t attributes = 0;
  std::u16string name;
  Guid16 id{};  // zero: made from the entry's position
};

// A GPT disk: protective MBR, primary header (LBA 1) and entries (from LBA 2:
// 32 sectors of 512 bytes, 4 of 4096), backup entries and header at the end,
// all CRCs right. LBAs count sectors of sectorSize bytes (512, or 4096 for a
// disk of 4096-byte logical sectors).
class GptBuilder {
 public:
  explicit GptBuilder(std::uint64_t diskSectors, std::uint32_t sectorSize = kSector)
      : sectors_(diskSectors), sectorSize_(sectorSize) {}
  GptBuilder& Add(const Guid16& type, std::uint64_t firstLba, std::uint64_t sectorCount,
                  std::uint64_t attributes = 0, std::u16string name = u"");
  // Leaves table slot i empty (the next Add goes to the slot after it).
  GptBuilder& SkipSlot();
  GptBuilder& DiskGuid(const Guid16& g) {
    diskGuid_ = g;
    return *this;
  }
  Bytes Build() const;

  // Positions in the built image.
  static constexpr std::uint32_t kEntryCount = 128;
  static constexpr std::uint32_t kEntrySize = 128;
  static constexpr std::uint64_t kPrimaryEntriesLba = 2;
  std::uint64_t ArraySectors() const { return (kEntryCount * kEntrySize + sectorSize_ - 1) / sectorSize_; }
  std::uint64_t BackupHeaderLba() const { return sectors_ - 1; }
  std::uint64_t BackupEntriesLba() const { return sectors_ - 1 - ArraySectors(); }
  std::uint64_t FirstUsableLba() const { return kPrimaryEntriesLba + ArraySectors(); }
  std::uint64_t LastUsableLba() const { return sectors_ - 2 - ArraySectors(); }
  std::uint32_t SectorSize() const { return sectorSize_; }

 private:
  std::uint64_t sectors_;
  std::uint32_t sectorSize_;
  std::vector<GptEntryParams> slots_;  // an entry with a zero type is an empty slot
  Guid16 diskGuid_{{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD,
                    0xEE, 0xF0, 0x01}};
};

// Recomputes both headers' entry-array and header CRCs after a test changed
// bytes of a GPT image on purpose.
void FixGptCrcs(Bytes& disk, std::uint64_t headerLba, std::uint32_t sectorSize = kSector);

// An MBR disk with primary entries and, optionally, logical partitions inside
// an extended partition (one EBR in the sector before each logical). LBAs
// count sectors of sectorSize bytes.
class MbrBuilder {
 public:
  explicit MbrBuilder(std::uint64_t diskSectors, std::uint32_t signature = 0x0D15EA5E,
                      std::uint32_t sectorSize = kSector)
      : sectors_(diskSectors), signature_(signature), sectorSize_(sectorSize) {}
  MbrBuilder& Primary(int slot, std::uint8_t type, std::uint32_t startLba, std::uint32_t sectorCount,
                      bool active = false);
  // A logical partition of sectorCount sectors whose EBR sits at ebrLba; its
  // data starts at ebrLba + 2048 (relative start 2048). Logicals chain in the
  // order added; the extended partition must have been added as a primary.
  MbrBuilder& Logical(std::uint8_t type, std::uint32_t ebrLba, std::uint32_t sectorCount);
  Bytes Build() const;

 private:
  struct Slot {
    std::uint8_t boot = 0;
    std::uint8_t type = 0;
    std::uint32_t start = 0;
    std::uint32_t count = 0;
  };
  struct LogicalParams {
    std::uint8_t type;
    std::uint32_t ebr;
    std::uint32_t count;
  };
  std::uint64_t sectors_;
  std::uint32_t signature_;
  std::uint32_t sectorSize_;
  Slot slots_[4];
  std::vector<LogicalParams> logicals_;
};

// ---- NTFS ----------------------------------------------------------------
struct NtfsParams {
  std::uint16_t bytesPerSector = 512;
  std::uint8_t sectorsPerCluster = 8;
  // Byte 0x40: negative n means 2^-n bytes per record, positive n clusters.
  std::int8_t clustersPerRecord = -10;
  std::uint64_t mftCluster = 4;
  // The record size the builder lays records out with (what the boot sector
  // is meant to say); the builder does not derive it.
  std::uint32_t recordSize = 1024;
  std::u16string label = u"Recovery";
  bool withLabelAttribute = true;
  std::uint64_t volumeBytes = 0;  // 0: just large enough
};

struct NtfsImage {
  Bytes bytes;
  std::uint64_t recordOffset = 0;      // record 3, from the volume's start
  std::uint32_t firstAttribute = 0;    // within the record
  std::uint32_t nameAttribute = 0;     // within the record (volume-name attribute)
  std::uint32_t endMarker = 0;         // within the record
};

NtfsImage BuildNtfs(const NtfsParams& params);
// Writes a record whose volume name is `label` at a byte offset of a volume
// (a decoy where a reader that got the record size wrong would look).
void PutNtfsDecoyRecord(Bytes& volume, std::uint64_t offset, std::uint32_t recordSize,
                        const std::u16string& label);

// ---- FAT32 ---------------------------------------------------------------
struct DirEntry {
  std::string name11;  // exactly 11 bytes used, padded with blanks
  std::uint8_t attributes = 0x20;
};

struct Fat32Params {
  std::uint16_t bytesPerSector = 512;
  std::uint8_t sectorsPerCluster = 1;
  std::uint16_t reservedSectors = 32;
  std::uint32_t sectorsPerFat = 1;
  std::uint32_t rootCluster = 2;
  // The root directory's clusters, in chain order, and the entries of each.
  std::vector<std::uint32_t> rootChain = {2};
  std::vector<std::vector<DirEntry>> rootEntries = {{DirEntry{"RECOVERY   ", 0x08}}};
  std::uint32_t dataClusters = 64;
};

struct Fat32Image {
  Bytes bytes;
  std::uint64_t fat1Offset = 0;
  std::uint64_t fat2Offset = 0;
  std::uint32_t clusterBytes = 0;
  std::uint64_t ClusterOffset(std::uint32_t cluster) const;
  std::uint64_t dataOffset = 0;
};

Fat32Image BuildFat32(const Fat32Params& params);

}  // namespace tavu::images
