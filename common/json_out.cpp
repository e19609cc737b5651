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

// The escape JSON needs for one byte of UTF-8, or null when it stands as it is.
const char* Escape(unsigned char c, char (&unicode)[7]) {
  static const char kHex[] = "0123456789abcdef";
  switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: break;
  }
  if (c >= 0x20) return nullptr;
  const char text[7] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15], '\0'};
  std::memcpy(unicode, text, sizeof text);
  return unicode;
}

// Passes UTF-8 on with every byte escaped as the inside of a JSON string.
class EscapingSink : public TextSink {
 public:
  explicit EscapingSink(TextSink& out) : out_(out) {}
  void Write(const char* bytes, std::size_t count) override {
    if (count == 0) return;
    std::size_t start = 0;
    for (std::size_t i = 0; i < count; ++i) {
      char unicode[7];
      const char* escape = Escape(static_cast<unsigned char>(bytes[i]), unicode);
      if (escape == nullptr) continue;
      out_.Write(bytes + start, i - start);
      out_.Write(escape, std::strlen(escape));
      start = i + 1;
    }
    out_.Write(bytes + start, count - start);
  }

 private:
  TextSink& out_;
};

void Quoted(TextSink& out, const char* utf8, std::size_t count) {
  out.Write("\"", 1);
  EscapingSink inside(out);
  inside.Write(utf8, count);
  out.Write("\"", 1);
}

}  // namespace

void WriteUtf8(TextSink& out, const wchar_t* text, std::size_t count) {
  if (text == nullptr) return;
  count = Length(text, count);
  for (std::size_t i = 0; i < count; ++i) {
    auto c = Unit(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
      auto low = Unit(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        PutCodePoint(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) c = 0xFFFD;
    PutCodePoint(out, c);
  }
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
  EscapingSink inside(out_);
  WriteUtf8(inside, text, count);
  out_.Write("\"", 1);
  return *this;
}

}  // namespace tavu
