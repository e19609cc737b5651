#include "common/utf16.h"

#include <type_traits>

namespace tavu {

namespace {
void PutUnit(std::uint8_t* at, std::uint32_t unit) {
  at[0] = static_cast<std::uint8_t>(unit & 0xFF);
  at[1] = static_cast<std::uint8_t>((unit >> 8) & 0xFF);
}
}  // namespace

std::size_t AppendUtf16Le(std::uint8_t* out, std::size_t capacity, const wchar_t* text, std::size_t len) {
  if (out == nullptr || text == nullptr) return 0;
  std::size_t used = 0;
  for (std::size_t i = 0; i < len; ++i) {
    auto c = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i]));
    if constexpr (sizeof(wchar_t) > 2) {
      if (c > 0xFFFF && c <= 0x10FFFF) {
        if (capacity - used < 4) break;
        c -= 0x10000;
        PutUnit(out + used, 0xD800 + (c >> 10));
        PutUnit(out + used + 2, 0xDC00 + (c & 0x3FF));
        used += 4;
        continue;
      }
      if (c > 0x10FFFF) c = 0xFFFD;
    }
    if (capacity - used < 2) break;
    PutUnit(out + used, c);
    used += 2;
  }
  return used;
}

std::size_t DecodeUtf16Le(const std::uint8_t* bytes, std::size_t byteCount, wchar_t* out,
                          std::size_t capacity) {
  if (out == nullptr || capacity == 0) return 0;
  std::size_t n = 0;
  for (std::size_t i = 0; i + 1 < byteCount && n + 1 < capacity; i += 2) {
    std::uint32_t unit = bytes[i] | (static_cast<std::uint32_t>(bytes[i + 1]) << 8);
    if (unit == 0) break;
    if constexpr (sizeof(wchar_t) > 2) {
      if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < byteCount) {
        std::uint32_t low = bytes[i + 2] | (static_cast<std::uint32_t>(bytes[i + 3]) << 8);
        if (low >= 0xDC00 && low < 0xE000) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
    }
    out[n++] = static_cast<wchar_t>(unit);
  }
  out[n] = L'\0';
  return n;
}

}  // namespace tavu
