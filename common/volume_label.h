// Reads a volume's label straight from its partition's sectors: the NTFS
// volume-name attribute of the master file table's record 3, or the FAT32 root
// directory's volume-label entry. Results: 0 label read, 1 null disk or label,
// 4 no known file system or no label, 5 a read failed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/platform.h"

namespace tavu {

// The results of the readers; the partition locator answers in the same
// terms, so a label read's result passes through it unchanged.
inline constexpr int kLocateFound = 0;
inline constexpr int kLocateBadArgument = 1;
inline constexpr int kLocateNotFound = 4;
inline constexpr int kLocateFailed = 5;

// The label buffer the readers fill: the NTFS reader copies the name through a
// 1,024-byte work area, so at most 512 characters and the terminator.
inline constexpr std::size_t kVolumeLabelChars = 513;

// Anything that can hand out a partition's sectors: the physical disk through
// the platform seam, or (in the simulated machine and the fuzzer) an image.
class SectorSource {
 public:
  // Reads size bytes at the byte offset; *read receives the count delivered.
  virtual bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size,
                      std::uint32_t* read) = 0;
  // Converts a zero-terminated ANSI text, terminator included, into out;
  // characters written or 0 on failure (MultiByteToWideChar(CP_ACP) semantics).
  virtual int AnsiToWide(const char* text, wchar_t* out, int capacity) = 0;

 protected:
  ~SectorSource() = default;
};

// label: kVolumeLabelChars characters. offset: the partition's StartingOffset.
[[nodiscard]] int ReadVolumeLabel(Handle disk, wchar_t* label, std::int64_t offset);
[[nodiscard]] int ReadNtfsVolumeLabel(Handle disk, wchar_t* label, std::int64_t offset);
[[nodiscard]] int ReadFat32VolumeLabel(Handle disk, wchar_t* label, std::int64_t offset);

// The same reads from any source of sectors.
[[nodiscard]] int ReadVolumeLabelFrom(SectorSource& source, wchar_t* label, std::int64_t offset);
[[nodiscard]] int ReadNtfsVolumeLabelFrom(SectorSource& source, wchar_t* label, std::int64_t offset);
[[nodiscard]] int ReadFat32VolumeLabelFrom(SectorSource& source, wchar_t* label, std::int64_t offset);

// Which file system the first sector of a partition names, tested as
// ReadVolumeLabel tests it.
enum class LabelFileSystem : std::uint8_t { None, Ntfs, Fat32 };
[[nodiscard]] LabelFileSystem FileSystemOfBootSector(const std::uint8_t* sector512);

}  // namespace tavu
