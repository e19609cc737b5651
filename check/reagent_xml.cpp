#include "check/reagent_xml.h"

#include "common/heap_block.h"
#include "common/utf16.h"

namespace tavu::check {

namespace {

constexpr std::size_t kMaxNameChars = 64;

// The text as wide characters, at most kMaxReAgentBytes of them.
class WideText {
 public:
  WideText(const std::uint8_t* bytes, std::size_t size) {
    if (size > kMaxReAgentBytes) size = kMaxReAgentBytes;
    block_ = HeapBlock::Uninitialised((size + 1) * sizeof(wchar_t));
    if (!block_) return;
    wchar_t* out = block_.As<wchar_t>();
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
      length_ = DecodeUtf16Le(bytes + 2, size - 2, out, size + 1);
      return;
    }
    std::size_t at = size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    while (at < size) out[length_++] = NextUtf8(bytes, size, &at);
    out[length_] = L'\0';
  }
  [[nodiscard]] std::size_t length() const { return length_; }
  [[nodiscard]] wchar_t At(std::size_t i) const { return i < length_ ? block_.As<wchar_t>()[i] : L'\0'; }

 private:
  // One character; a malformed sequence gives U+FFFD for its first byte.
  static wchar_t NextUtf8(const std::uint8_t* b, std::size_t size, std::size_t* at) {
    const std::uint8_t lead = b[(*at)++];
    if (lead < 0x80) return static_cast<wchar_t>(lead);
    std::size_t more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (more == 0 || lead >= 0xF8 || *at + more > size) return L'\xFFFD';
    std::uint32_t c = lead & (0x3Fu >> more);
    for (std::size_t k = 0; k < more; ++k) {
      if ((b[*at + k] & 0xC0) != 0x80) return L'\xFFFD';
      c = (c << 6) | (b[*at + k] & 0x3Fu);
    }
    *at += more;
    // Outside the 16-bit plane (or a surrogate) nothing this file names can lie.
    return c > 0xFFFF || (c >= 0xD800 && c <= 0xDFFF) ? L'\xFFFD' : static_cast<wchar_t>(c);
  }

  HeapBlock block_;
  std::size_t length_ = 0;
};

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
bool IsNameChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
         c == L'-' || c == L'.' || c == L':';
}

// The five predefined entities; anything else after '&' stays as written.
std::size_t Entity(const WideText& t, std::size_t at, wchar_t* c) {
  struct Known {
    const wchar_t* name;
    wchar_t c;
  };
  static constexpr Known kKnown[] = {
      {L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&apos;", L'\''}};
  for (const Known& k : kKnown) {
    std::size_t n = 0;
    while (k.name[n] != L'\0' && t.At(at + n) == k.name[n]) ++n;
    if (k.name[n] == L'\0') {
      *c = k.c;
      return n;
    }
  }
  *c = L'&';
  return 1;
}

struct Attribute {
  wchar_t name[kMaxNameChars] = {};
  wchar_t value[kPathChars] = {};
};

class Parser {
 public:
  explicit Parser(const WideText& t) : t_(t) {}

  // Moves to the next element's start tag and reads its name; false at the end.
  bool NextElement(wchar_t (&name)[kMaxNameChars]) {
    while (at_ < t_.length()) {
      if (t_.At(at_++) != L'<') continue;
      wchar_t first = t_.At(at_);
      if (first == L'?' || first == L'!' || first == L'/') continue;
      ReadName(name);
      if (name[0] != L'\0') return true;
    }
    return false;
  }

  // The next attribute of the current start tag; false at its end.
  bool NextAttribute(Attribute* a) {
    for (;;) {
      while (IsSpace(t_.At(at_))) ++at_;
      wchar_t c = t_.At(at_);
      if (at_ >= t_.length() || c == L'>' || c == L'<') return false;
      if (c == L'/') {
        ++at_;
        continue;
      }
      ReadName(a->name);
      if (a->name[0] == L'\0') {
        ++at_;  // a stray character: no attribute starts there
        continue;
      }
      while (IsSpace(t_.At(at_))) ++at_;
      if (t_.At(at_) != L'=') {
        a->value[0] = L'\0';
        return true;
      }
      ++at_;
      while (IsSpace(t_.At(at_))) ++at_;
      ReadValue(a->value);
      return true;
    }
  }

 private:
  // Names longer than the room are cut; they match none of the names asked for.
  void ReadName(wchar_t (&name)[kMaxNameChars]) {
    std::size_t n = 0;
    for (; IsNameChar(t_.At(at_)); ++at_) {
      if (n + 1 < kMaxNameChars) name[n++] = t_.At(at_);
    }
    name[n] = L'\0';
  }

  void ReadValue(wchar_t (&value)[kPathChars]) {
    std::size_t n = 0;
    const wchar_t quote = t_.At(at_);
    if (quote != L'"' && quote != L'\'') {
      value[0] = L'\0';
      return;
    }
    for (++at_; at_ < t_.length() && t_.At(at_) != quote;) {
      wchar_t c = t_.At(at_);
      at_ += c == L'&' ? Entity(t_, at_, &c) : 1;
      if (n + 1 < kPathChars) value[n++] = c;
    }
    if (at_ < t_.length()) ++at_;
    value[n] = L'\0';
  }

  const WideText& t_;
  std::size_t at_ = 0;
};

bool Same(const wchar_t* a, const wchar_t* b) { return EqualsIgnoreAsciiCase(a, b); }

// A decimal number without sign, below limit; false for anything else.
bool ParseDecimal(const wchar_t* text, std::uint64_t limit, std::uint64_t* value) {
  std::uint64_t v = 0;
  if (*text == L'\0') return false;
  for (; *text != L'\0'; ++text) {
    if (*text < L'0' || *text > L'9') return false;
    std::uint64_t digit = static_cast<std::uint64_t>(*text - L'0');
    if (v > (limit - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

void ReadLocation(Parser& p, ReAgentXml* out) {
  out->hasLocation = true;
  Attribute a;
  while (p.NextAttribute(&a)) {
    std::uint64_t v = 0;
    if (Same(a.name, L"path")) {
      CopyBounded(out->path, kPathChars, a.value);
    } else if (Same(a.name, L"offset")) {
      out->hasOffset = ParseDecimal(a.value, ~std::uint64_t{0} >> 1, &v);
      out->offset = out->hasOffset ? v : 0;
    } else if (Same(a.name, L"id")) {
      out->hasId = ParseDecimal(a.value, 0xFFFFFFFFu, &v);
      out->id = out->hasId ? static_cast<std::uint32_t>(v) : 0;
    } else if (Same(a.name, L"guid")) {
      out->hasGuid = ParseGuidText(a.value, &out->guid);
    }
  }
}

}  // namespace

bool ParseGuidText(const wchar_t* text, Guid* guid) {
  // Hex digit positions inside "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
  std::uint8_t bytes[16] = {};
  std::size_t nibble = 0;
  if (text[0] != L'{') return false;
  std::size_t i = 1;
  for (; nibble < 32; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (text[i] != L'-') return false;
      continue;
    }
    int d = HexDigit(text[i]);
    if (d < 0) return false;
    bytes[nibble / 2] = static_cast<std::uint8_t>((bytes[nibble / 2] << 4) | d);
    ++nibble;
  }
  if (text[i] != L'}' || text[i + 1] != L'\0') return false;
  guid->Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                (std::uint32_t{bytes[2]} << 8) | bytes[3];
  guid->Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  guid->Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (std::size_t k = 0; k < 8; ++k) guid->Data4[k] = bytes[8 + k];
  return true;
}

bool IsZeroGuid(const Guid& guid) {
  std::uint8_t any = 0;
  for (std::uint8_t b : guid.Data4) any |= b;
  return guid.Data1 == 0 && guid.Data2 == 0 && guid.Data3 == 0 && any == 0;
}

bool ParseReAgentXml(const std::uint8_t* bytes, std::size_t size, ReAgentXml* out) {
  *out = ReAgentXml{};
  if (bytes == nullptr) return false;
  WideText text(bytes, size);
  Parser p(text);
  wchar_t name[kMaxNameChars] = {};
  bool root = false;
  while (p.NextElement(name)) {
    Attribute a;
    if (Same(name, L"WindowsRE")) {
      root = true;
    } else if (Same(name, L"WinreBCD")) {
      out->hasBcd = false;
      while (p.NextAttribute(&a)) {
        if (Same(a.name, L"id")) out->hasBcd = CopyBounded(out->bcdId, kReAgentValueChars, a.value);
      }
    } else if (Same(name, L"WinreLocation")) {
      ReadLocation(p, out);
    } else if (Same(name, L"InstallState")) {
      while (p.NextAttribute(&a)) {
        std::uint64_t v = 0;
        if (Same(a.name, L"state"))
          out->installState = ParseDecimal(a.value, 0x7FFFFFFF, &v) ? static_cast<int>(v) : -1;
      }
    }
  }
  return root;
}

}  // namespace tavu::check
