// wchar_t is UTF-16 on Windows and UTF-32 on Linux; the files and records the
// system writes and reads are UTF-16LE on both. These convert at that boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavu {

// Appends the UTF-16LE bytes of text (len characters) to out.
void AppendUtf16Le(std::string& out, const wchar_t* text, std::size_t len);

// Decodes at most byteCount bytes of UTF-16LE into out (capacity characters,
// always terminated). Stops at a zero unit. Returns the characters written.
std::size_t DecodeUtf16Le(const std::uint8_t* bytes, std::size_t byteCount, wchar_t* out,
                          std::size_t capacity);

}  // namespace tavu
