#include "common/wide_text.h"

#include <cstdarg>
#include <cwchar>

#include "common/platform.h"
#include "common/system_api.h"

namespace tavu {

bool CopyBounded(wchar_t* dst, std::size_t capacity, const wchar_t* src) {
  if (dst == nullptr || capacity == 0) return false;
  std::size_t i = 0;
  if (src != nullptr) {
    for (; i + 1 < capacity && src[i] != L'\0'; ++i) dst[i] = src[i];
  }
  dst[i] = L'\0';
  return src == nullptr || src[i] == L'\0';
}

bool AppendBounded(wchar_t* dst, std::size_t capacity, const wchar_t* src) {
  if (dst == nullptr || capacity == 0) return false;
  std::size_t used = 0;
  while (used < capacity && dst[used] != L'\0') ++used;
  if (used == capacity) {
    dst[capacity - 1] = L'\0';
    return false;
  }
  return CopyBounded(dst + used, capacity - used, src);
}

int FormatBounded(wchar_t* dst, std::size_t capacity, const wchar_t* format, ...) {
  if (dst == nullptr || capacity == 0) return -1;
  va_list args;
  va_start(args, format);
#if defined(_WIN32)
  // The system's own formatter. MinGW's C++ headers turn vswprintf into
  // MinGW's printf family, which brings its own number conversions into every
  // program; msvcrt's means the same for the directives used here (%ls, %d,
  // %u, %x with widths) and answers a count that fits exactly, or -1 when the
  // text is longer, without terminating it.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started just above.
  int n = _vsnwprintf(dst, capacity, format, args);
#else
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started just above.
  int n = std::vswprintf(dst, capacity, format, args);
#endif
  va_end(args);
  // The formatters leave the buffer's end unterminated or unspecified on
  // overflow; terminate it either way so callers never read past it.
  dst[capacity - 1] = L'\0';
  if (n < 0 || static_cast<std::size_t>(n) >= capacity) return -1;
  return n;
}

void UpperAscii(wchar_t* text, std::size_t capacity) {
  if (text == nullptr) return;
  for (std::size_t i = 0; i < capacity && text[i] != L'\0'; ++i) {
    text[i] = UpperAscii(text[i]);
  }
}

bool EqualsIgnoreAsciiCase(const wchar_t* a, const wchar_t* b) {
  if (a == nullptr || b == nullptr) return a == b;
  for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
    if (UpperAscii(*a) != UpperAscii(*b)) return false;
  }
  return *a == *b;
}

bool Contains(const wchar_t* text, const wchar_t* part) {
  if (text == nullptr || part == nullptr) return false;
  return std::wcsstr(text, part) != nullptr;
}

void DirectoryOfPath(const wchar_t* path, wchar_t* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return;
  out[0] = L'\0';
  if (path == nullptr) return;
  std::size_t len = std::wcslen(path);
  for (std::size_t i = len; i > 0; --i) {
    wchar_t c = path[i - 1];
    if (c == L'\\' || c == L'/' || c == L':') {
      std::size_t keep = (c == L':') ? i : i - 1;
      if (keep >= capacity) keep = capacity - 1;
      for (std::size_t k = 0; k < keep; ++k) out[k] = path[k];
      out[keep] = L'\0';
      return;
    }
  }
}

void ModuleDirectory(wchar_t* out, std::size_t capacity) {
  wchar_t path[kPathChars] = {};
  if (Sys().system == nullptr ||
      Sys().system->ModulePath(path, static_cast<std::uint32_t>(kPathChars)) == 0) {
    if (out != nullptr && capacity > 0) out[0] = L'\0';
    return;
  }
  DirectoryOfPath(path, out, capacity);
}

}  // namespace tavu
