// Fields of little-endian on-disk structures, each named once with its offset
// and its width, so that a reader cannot take a 16-bit field as a 32-bit one or
// miss the edge of the structure it has read: every field knows where it ends,
// and the layouts check that against the structure's size at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace tavu {

// An integer field: T's width at Offset, least significant byte first.
template <class T, std::size_t Offset>
struct LeField {
  static_assert(std::is_integral_v<T> && sizeof(T) <= 8);
  using Type = T;
  static constexpr std::size_t kOffset = Offset;
  static constexpr std::size_t kEnd = Offset + sizeof(T);
};

// A run of bytes taken as they stand: names, signatures.
template <std::size_t Offset, std::size_t Size>
struct ByteField {
  static constexpr std::size_t kOffset = Offset;
  static constexpr std::size_t kSize = Size;
  static constexpr std::size_t kEnd = Offset + Size;
};

// The field read from the structure that starts at base; byte by byte, so that
// neither alignment nor the host's byte order matters.
template <class Field>
[[nodiscard]] typename Field::Type Read(const std::uint8_t* base) {
  using Unsigned = std::make_unsigned_t<typename Field::Type>;
  const std::uint8_t* p = base + Field::kOffset;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < sizeof(Unsigned); ++i) value |= std::uint64_t{p[i]} << (8 * i);
  return static_cast<typename Field::Type>(static_cast<Unsigned>(value));
}

// Where a run of bytes starts within the structure at base.
template <class Field>
[[nodiscard]] const std::uint8_t* At(const std::uint8_t* base) {
  return base + Field::kOffset;
}

}  // namespace tavu
