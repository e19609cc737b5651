// Small pieces the file-system label readers share: exact reads, positions
// that cannot wrap around, and heap blocks that are given back on every path.
#pragma once

#include <cstdint>
#include <new>

#include "launcher/arming/volume_label.h"

namespace tavu::label_detail {

inline constexpr std::uint32_t kBootSectorSize = 512;

// A read that delivers fewer bytes than asked for has not read the structure.
inline bool ReadExact(SectorSource& source, std::uint64_t offset, void* buffer, std::uint32_t size) {
  std::uint32_t got = 0;
  return source.ReadAt(offset, buffer, size, &got) && got == size;
}

inline bool AddChecked(std::uint64_t a, std::uint64_t b, std::uint64_t* out) {
  if (b > UINT64_MAX - a) return false;
  *out = a + b;
  return true;
}

inline bool MulChecked(std::uint64_t a, std::uint64_t b, std::uint64_t* out) {
  if (a != 0 && b > UINT64_MAX / a) return false;
  *out = a * b;
  return true;
}

inline bool IsPowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Sector sizes that a disk or file system can have.
inline bool ValidBytesPerSector(std::uint32_t v) { return IsPowerOfTwo(v) && v >= 512 && v <= 4096; }

// An uninitialised heap block; empty when the allocation failed.
class HeapBlock {
 public:
  explicit HeapBlock(std::size_t size) : p_(new (std::nothrow) std::uint8_t[size]) {}
  ~HeapBlock() { delete[] p_; }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  std::uint8_t* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  std::uint8_t* p_;
};

}  // namespace tavu::label_detail
