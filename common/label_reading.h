// Small pieces the file-system label readers share: the first read of a
// partition, exact reads and positions that cannot wrap around.
#pragma once

#include <cstdint>

#include "common/volume_label.h"

namespace tavu::label_detail {

// The first read of a partition is always this long, whatever its sectors are.
inline constexpr std::uint32_t kBootSectorSize = 512;

// A read that delivers fewer bytes than asked for has not read the structure.
[[nodiscard]] inline bool ReadExact(SectorSource& source, std::uint64_t offset, void* buffer,
                                    std::uint32_t size) {
  std::uint32_t got = 0;
  return source.ReadAt(offset, buffer, size, &got) && got == size;
}

// How every reader starts: the label emptied, then the partition's first sector
// read into boot. kLocateFound when boot holds it; otherwise the reader's result.
[[nodiscard]] inline int ReadBootSector(SectorSource& source, wchar_t* label, std::int64_t offset,
                                        std::uint8_t (&boot)[kBootSectorSize]) {
  if (label == nullptr) return kLocateBadArgument;
  label[0] = L'\0';
  // A negative position is one SetFilePointerEx refuses.
  if (offset < 0) return kLocateFailed;
  if (!ReadExact(source, static_cast<std::uint64_t>(offset), boot, kBootSectorSize)) return kLocateFailed;
  return kLocateFound;
}

[[nodiscard]] inline bool AddChecked(std::uint64_t a, std::uint64_t b, std::uint64_t* out) {
  if (b > UINT64_MAX - a) return false;
  *out = a + b;
  return true;
}

[[nodiscard]] inline bool MulChecked(std::uint64_t a, std::uint64_t b, std::uint64_t* out) {
  if (a != 0 && b > UINT64_MAX / a) return false;
  *out = a * b;
  return true;
}

inline bool IsPowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Sector sizes that a disk or file system can have.
inline bool ValidBytesPerSector(std::uint32_t v) { return IsPowerOfTwo(v) && v >= 512 && v <= 4096; }

}  // namespace tavu::label_detail
