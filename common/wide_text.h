// Bounded wide-text helpers. Every copy or format into a fixed buffer goes through
// these, so no caller can run past its buffer, whatever the input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavu {

inline constexpr std::size_t kPathChars = 260;
inline constexpr std::size_t kLongTextChars = 1024;

// Copies at most capacity - 1 characters and always terminates. Returns false
// when src had to be cut.
bool CopyBounded(wchar_t* dst, std::size_t capacity, const wchar_t* src);
// Appends within capacity; false when cut.
bool AppendBounded(wchar_t* dst, std::size_t capacity, const wchar_t* src);
// vswprintf into dst; the result is always terminated. Returns the length written,
// or -1 when the text did not fit (dst then holds the cut text). Wide string
// arguments are given as %ls so the format means the same on every platform.
int FormatBounded(wchar_t* dst, std::size_t capacity, const wchar_t* format, ...);

// 'a'..'z' become 'A'..'Z'; every other unit stays as it is.
void UpperAscii(wchar_t* text, std::size_t capacity);
// One character in ASCII upper case; every other character is left as it is.
constexpr wchar_t UpperAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }
bool EqualsIgnoreAsciiCase(const wchar_t* a, const wchar_t* b);
bool Contains(const wchar_t* text, const wchar_t* part);

// The directory of a program path: cut at the last '\' or '/' (the separator is
// removed) or just behind the last ':' (the colon stays), scanning from the end.
// A path with none of these, or an empty one, gives an empty text.
void DirectoryOfPath(const wchar_t* path, wchar_t* out, std::size_t capacity);

// ModuleDirectory: the directory of the running program's own file.
void ModuleDirectory(wchar_t* out, std::size_t capacity);

}  // namespace tavu
