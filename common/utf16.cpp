#include "common/utf16.h"

#include <type_traits>

namespace tavu {

namespace {
void PutUnit(std::string& out, std::uint32_t unit) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>((unit >> 8) & 0xFF));
}
}  // namespace

void AppendUtf16Le(std::string& out, const wchar_t* text, std::size_t len) {
  for (std::size_t i = 0; i < len; ++i) {
    auto c = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i]));
    if constexpr (sizeof(wchar_t) > 2) {
      if (c > 0xFFFF && c <= 0x10FFFF) {
        c -= 0x10000;
        PutUnit(out, 0xD800 + (c >> 10));
        PutUnit(out, 0xDC00 + (c & 0x3FF));
        continue;
      }
      if (c > 0x10FFFF) c = 0xFFFD;
    }
    PutUnit(out, c);
  }
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
