#include "common/json_out.h"

#include <cstring>
#include <type_traits>

namespace tavu {

namespace {

void PutCodePoint(TextSink& out, std::uint32_t c) {
  char bytes[4];
  std::size_t n = 0;
  if (c < 0x80) {
    bytes[n++] = static_cast<char>(c);
  } else if (c < 0x800) {
    bytes[n++] = static_cast<char>(0xC0 | (c >> 6));
    bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    bytes[n++] = static_cast<char>(0xE0 | (c >> 12));
    bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    bytes[n++] = static_cast<char>(0xF0 | (c >> 18));
    bytes[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
  }
  out.Write(bytes, n);
}

// wchar_t is signed on some platforms; a unit is its unsigned value.
std::uint32_t Unit(wchar_t c) { return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c)); }

std::size_t Length(const wchar_t* text, std::size_t count) {
  if (count != kWholeText) return count;
  std::size_t n = 0;
  while (text[n] != L'\0') ++n;
  return n;
}

// Calls put(c) for each code point of the text (count units); wchar_t is
// UTF-16 on Windows and UTF-32 elsewhere. Broken surrogates and values beyond
// Unicode become U+FFFD.
template <class Put>
void ForEachCodePoint(const wchar_t* text, std::size_t count, Put put) {
  for (std::size_t i = 0; i < count; ++i) {
    auto c = Unit(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
      auto low = Unit(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        put(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) c = 0xFFFD;
    put(c);
  }
}

// The code point of the UTF-8 sequence at text[*i], moving *i past it; a
// sequence that is cut, overlong, a surrogate or beyond Unicode is U+FFFD
// for its first byte.
std::uint32_t NextUtf8(const char* text, std::size_t count, std::size_t* i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(*i);
  ++*i;
  if (lead < 0x80) return lead;
  std::size_t more = lead >= 0xF0 && lead < 0xF5 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : 0;
  if (more == 0 || lead >= 0xF5 || *i + more > count) return 0xFFFD;
  std::uint32_t c = lead & (0x3F >> more);
  for (std::size_t k = 0; k < more; ++k) {
    if ((byte(*i + k) & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (byte(*i + k) & 0x3F);
  }
  static const std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[more] || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) return 0xFFFD;
  *i += more;
  return c;
}

// One code point inside a JSON string, in ASCII only: a console that decodes
// the bytes in its own code page (PowerShell reads a program's output in the
// OEM code page) still reads the same text.
void PutEscaped(TextSink& out, std::uint32_t c) {
  static const char kHex[] = "0123456789abcdef";
  const char* simple = c == '"'    ? "\\\""
                       : c == '\\' ? "\\\\"
                       : c == '\n' ? "\\n"
                       : c == '\r' ? "\\r"
                       : c == '\t' ? "\\t"
                                   : nullptr;
  if (simple != nullptr) {
    out.Write(simple, 2);
    return;
  }
  if (c >= 0x20 && c < 0x7F) {
    const char ascii = static_cast<char>(c);
    out.Write(&ascii, 1);
    return;
  }
  // Beyond the basic plane: the UTF-16 surrogate pair, each escaped.
  const std::uint32_t units[2] = {c < 0x10000 ? c : 0xD800 + ((c - 0x10000) >> 10), 0xDC00 + (c & 0x3FF)};
  for (std::size_t k = 0; k < (c < 0x10000 ? 1u : 2u); ++k) {
    const std::uint32_t u = units[k];
    const char text[6] = {'\\',        'u', kHex[(u >> 12) & 15], kHex[(u >> 8) & 15], kHex[(u >> 4) & 15],
                          kHex[u & 15]};
    out.Write(text, sizeof text);
  }
}

void Quoted(TextSink& out, const char* utf8, std::size_t count) {
  out.Write("\"", 1);
  for (std::size_t i = 0; i < count;) PutEscaped(out, NextUtf8(utf8, count, &i));
  out.Write("\"", 1);
}

}  // namespace

void WriteUtf8(TextSink& out, const wchar_t* text, std::size_t count) {
  if (text == nullptr) return;
  ForEachCodePoint(text, Length(text, count), [&](std::uint32_t c) { PutCodePoint(out, c); });
}

void WriteAscii(TextSink& out, const char* text) { out.Write(text, std::strlen(text)); }

void JsonOut::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (depth_ > 0) {
    bool& has = hasMember_[(depth_ <= kMaxDepth ? depth_ : kMaxDepth) - 1];
    if (has) out_.Write(", ", 2);
    has = true;
  }
}

void JsonOut::Open(char bracket) {
  BeforeValue();
  out_.Write(&bracket, 1);
  ++depth_;
  if (depth_ <= kMaxDepth) hasMember_[depth_ - 1] = false;
}

void JsonOut::Close(char bracket) {
  if (depth_ > 0) --depth_;
  out_.Write(&bracket, 1);
}

JsonOut& JsonOut::BeginObject() {
  Open('{');
  return *this;
}

JsonOut& JsonOut::EndObject() {
  Close('}');
  return *this;
}

JsonOut& JsonOut::BeginArray() {
  Open('[');
  return *this;
}

JsonOut& JsonOut::EndArray() {
  Close(']');
  return *this;
}

JsonOut& JsonOut::Key(const char* key) {
  BeforeValue();
  Quoted(out_, key, std::strlen(key));
  out_.Write(": ", 2);
  afterKey_ = true;
  return *this;
}

JsonOut& JsonOut::Int(std::int64_t value) {
  BeforeValue();
  char digits[24];
  std::size_t n = 0;
  // Negated as unsigned, so the smallest value has its digits too.
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    digits[sizeof digits - 1 - n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[sizeof digits - 1 - n++] = '-';
  out_.Write(digits + sizeof digits - n, n);
  return *this;
}

JsonOut& JsonOut::Bool(bool value) {
  BeforeValue();
  WriteAscii(out_, value ? "true" : "false");
  return *this;
}

JsonOut& JsonOut::Null() {
  BeforeValue();
  WriteAscii(out_, "null");
  return *this;
}

JsonOut& JsonOut::String(const char* utf8, std::size_t count) {
  BeforeValue();
  Quoted(out_, utf8, count);
  return *this;
}

JsonOut& JsonOut::String(const char* utf8) { return String(utf8, std::strlen(utf8)); }

JsonOut& JsonOut::WString(const wchar_t* text, std::size_t count) {
  BeforeValue();
  out_.Write("\"", 1);
  if (text != nullptr)
    ForEachCodePoint(text, Length(text, count), [&](std::uint32_t c) { PutEscaped(out_, c); });
  out_.Write("\"", 1);
  return *this;
}

}  // namespace tavu
