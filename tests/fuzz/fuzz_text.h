// Fuzz bytes as a wide text: each byte is one character, except that 0xFF
// followed by two bytes is one UTF-16 unit (low byte first). Seeds stay
// readable ASCII while the fuzzer still reaches every unit, such as U+0131 or
// U+FF41, that a careless upper-casing would turn into ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavu::fuzz {

inline std::wstring WideFromFuzz(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && i + 2 < size) {
      text.push_back(static_cast<wchar_t>(data[i + 1] | (data[i + 2] << 8)));
      i += 2;
    } else {
      text.push_back(static_cast<wchar_t>(data[i]));
    }
  }
  return text;
}

}  // namespace tavu::fuzz
