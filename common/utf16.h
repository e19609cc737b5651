// wchar_t is UTF-16 on Windows and UTF-32 on Linux; the files and records the
// system writes and reads are UTF-16LE on both. These convert at that boundary.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavu {

// Writes the UTF-16LE bytes of text (len characters) to out, at most capacity
// bytes and never half a character: a text that does not fit stops before the
// first character that would not. Returns the bytes written.
std::size_t AppendUtf16Le(std::uint8_t* out, std::size_t capacity, const wchar_t* text, std::size_t len);

// The most bytes AppendUtf16Le writes for len characters.
constexpr std::size_t Utf16LeBytesFor(std::size_t len) { return len * (sizeof(wchar_t) > 2 ? 4 : 2); }

// Decodes at most byteCount bytes of UTF-16LE into out (capacity characters,
// always terminated). Stops at a zero unit. Returns the characters written.
std::size_t DecodeUtf16Le(const std::uint8_t* bytes, std::size_t byteCount, wchar_t* out,
                          std::size_t capacity);

}  // namespace tavu
