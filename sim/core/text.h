// The text rules that the simulated Windows and its programs share. Windows
// compares file, object and command names case-insensitively, and for the names
// these programs meet only ASCII letters fold; everything else stays as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavu::sim {

namespace text_detail {

template <class C>
constexpr C Upper(C c) {
  return (c >= C('a') && c <= C('z')) ? static_cast<C>(c - C('a') + C('A')) : c;
}

template <class C>
constexpr C Lower(C c) {
  return (c >= C('A') && c <= C('Z')) ? static_cast<C>(c - C('A') + C('a')) : c;
}

template <class C>
bool EqualNoCase(std::basic_string_view<C> a, std::basic_string_view<C> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

// Cuts text at each separator: a last piece without one counts, a separator
// at the very end starts no further piece; dropCr drops one CR that ends a piece.
template <class C>
std::vector<std::basic_string<C>> Cut(std::basic_string_view<C> text, std::basic_string_view<C> separator,
                                      bool dropCr) {
  std::vector<std::basic_string<C>> pieces;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t at = text.find(separator, start);
    std::size_t end = at == std::basic_string_view<C>::npos ? text.size() : at;
    if (dropCr && end > start && text[end - 1] == C('\r')) --end;
    pieces.emplace_back(text.substr(start, end - start));
    if (at == std::basic_string_view<C>::npos) break;
    start = at + separator.size();
  }
  return pieces;
}

template <class C>
std::vector<std::basic_string<C>> Words(std::basic_string_view<C> text) {
  std::vector<std::basic_string<C>> words;
  std::basic_string<C> cur;
  for (C c : text) {
    if (c == C(' ') || c == C('\t')) {
      if (!cur.empty()) words.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) words.push_back(cur);
  return words;
}

template <class C>
bool Digits(std::basic_string_view<C> text, unsigned base, std::uint64_t max, std::uint64_t* value) {
  if (text.empty()) return false;
  std::uint64_t v = 0;
  for (C c : text) {
    unsigned d;
    if (c >= C('0') && c <= C('9')) {
      d = static_cast<unsigned>(c - C('0'));
    } else if (base == 16 && Lower(c) >= C('a') && Lower(c) <= C('f')) {
      d = static_cast<unsigned>(Lower(c) - C('a') + 10);
    } else {
      return false;
    }
    if (d > max || v > (max - d) / base) return false;
    v = v * base + d;
  }
  *value = v;
  return true;
}

}  // namespace text_detail

constexpr char AsciiUpper(char c) { return text_detail::Upper(c); }
constexpr wchar_t AsciiUpper(wchar_t c) { return text_detail::Upper(c); }
constexpr char AsciiLower(char c) { return text_detail::Lower(c); }
constexpr wchar_t AsciiLower(wchar_t c) { return text_detail::Lower(c); }

inline std::string AsciiUpper(std::string s) {
  for (char& c : s) c = AsciiUpper(c);
  return s;
}
inline std::wstring AsciiUpper(std::wstring s) {
  for (wchar_t& c : s) c = AsciiUpper(c);
  return s;
}
inline std::string AsciiLower(std::string s) {
  for (char& c : s) c = AsciiLower(c);
  return s;
}
inline std::wstring AsciiLower(std::wstring s) {
  for (wchar_t& c : s) c = AsciiLower(c);
  return s;
}

inline bool AsciiEqualNoCase(std::string_view a, std::string_view b) { return text_detail::EqualNoCase(a, b); }
inline bool AsciiEqualNoCase(std::wstring_view a, std::wstring_view b) { return text_detail::EqualNoCase(a, b); }

// The lines of a text cut at each LF, as the command interpreters read a
// script: a CR before the LF (or at the very end) is dropped unless asked to be
// kept, a last line without LF counts, and an LF at the very end starts no
// further line.
inline std::vector<std::string> Lines(std::string_view text, bool keepCr = false) {
  return text_detail::Cut(text, std::string_view("\n"), !keepCr);
}
inline std::vector<std::wstring> Lines(std::wstring_view text, bool keepCr = false) {
  return text_detail::Cut(text, std::wstring_view(L"\n"), !keepCr);
}

// The lines of a text cut only at CR LF, the way the log writer ends them; a
// lone CR or LF stays inside its line.
inline std::vector<std::string> CrLfLines(std::string_view text) {
  return text_detail::Cut(text, std::string_view("\r\n"), false);
}

// The words of a text between blanks and tabs.
inline std::vector<std::string> Words(std::string_view text) { return text_detail::Words(text); }
inline std::vector<std::wstring> Words(std::wstring_view text) { return text_detail::Words(text); }

inline std::wstring TrimLeft(const std::wstring& s) {
  const std::size_t b = s.find_first_not_of(L" \t");
  return b == std::wstring::npos ? std::wstring() : s.substr(b);
}
inline std::wstring TrimRight(const std::wstring& s) {
  const std::size_t e = s.find_last_not_of(L" \t");
  return e == std::wstring::npos ? std::wstring() : s.substr(0, e + 1);
}
inline std::wstring Trim(const std::wstring& s) { return TrimRight(TrimLeft(s)); }

// A whole text of digits in base 10 or 16 (either case) whose value stays
// within max at every digit; false for an empty text or any other character.
inline bool ParseDigits(std::string_view text, unsigned base, std::uint64_t max, std::uint64_t* value) {
  return text_detail::Digits(text, base, max, value);
}
inline bool ParseDigits(std::wstring_view text, unsigned base, std::uint64_t max, std::uint64_t* value) {
  return text_detail::Digits(text, base, max, value);
}

}  // namespace tavu::sim
