#include "check/wim_version.h"

#include "common/file_api.h"
#include "common/heap_block.h"
#include "common/platform.h"
#include "common/read_up_to.h"
#include "common/unique_handle.h"

namespace tavu::check {

namespace {

// A resource header's flag for data stored compressed.
constexpr std::uint8_t kResourceCompressed = 0x04;

// The XML as 16-bit units, looked at only for ASCII markup and digits.
class Utf16Text {
 public:
  Utf16Text(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), count_(size / 2) {
    if (count_ > 0 && At(0) == 0xFEFF) begin_ = 1;
  }
  [[nodiscard]] std::size_t begin() const { return begin_; }
  [[nodiscard]] std::size_t end() const { return count_; }
  [[nodiscard]] std::uint16_t At(std::size_t i) const {
    return static_cast<std::uint16_t>(bytes_[2 * i] | bytes_[2 * i + 1] << 8);
  }
  // Whether the ASCII text starts at i, ASCII letters compared as given.
  [[nodiscard]] bool StartsAt(std::size_t i, const char* text) const {
    for (; *text != '\0'; ++text, ++i) {
      if (i >= count_ || At(i) != static_cast<unsigned char>(*text)) return false;
    }
    return true;
  }
  // The first position in [from, to) where text starts, or to.
  [[nodiscard]] std::size_t Find(std::size_t from, std::size_t to, const char* text) const {
    for (std::size_t i = from; i < to; ++i) {
      if (StartsAt(i, text)) return i;
    }
    return to;
  }

 private:
  const std::uint8_t* bytes_;
  std::size_t count_;
  std::size_t begin_ = 0;
};

struct Span {
  std::size_t tag = 0;   // at the opening tag's '<'
  std::size_t from = 0;  // after the opening tag
  std::size_t to = 0;    // at the closing tag
  bool found = false;
};

std::size_t Length(const char* text) {
  std::size_t n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

// The content of the first element <name ...>...</name> within [from, to).
// A tag whose name only starts so ("<VERSIONS>") is another element; an empty
// one ("<BUILD/>") has no content.
Span Element(const Utf16Text& x, std::size_t from, std::size_t to, const char* name) {
  const std::size_t n = Length(name);
  for (std::size_t i = from; i + 1 + n < to; ++i) {
    if (!x.StartsAt(i, "<") || !x.StartsAt(i + 1, name)) continue;
    const std::uint16_t after = x.At(i + 1 + n);
    if (after != '>' && after != ' ') continue;
    std::size_t j = i + 1 + n;
    while (j < to && x.At(j) != '>') ++j;
    if (j >= to || x.At(j - 1) == '/') continue;
    for (std::size_t k = j + 1; k + 3 + n <= to; ++k) {
      if (x.StartsAt(k, "</") && x.StartsAt(k + 2, name) && x.At(k + 2 + n) == '>') {
        return Span{i, j + 1, k, true};
      }
    }
    return Span{};
  }
  return Span{};
}

// The decimal number that is all of [from, to), blanks around it allowed.
bool Number(const Utf16Text& x, std::size_t from, std::size_t to, std::uint32_t* value) {
  while (from < to && (x.At(from) == ' ' || x.At(from) == '\r' || x.At(from) == '\n')) ++from;
  while (to > from && (x.At(to - 1) == ' ' || x.At(to - 1) == '\r' || x.At(to - 1) == '\n')) --to;
  if (from == to) return false;
  std::uint64_t n = 0;
  for (std::size_t i = from; i < to; ++i) {
    const std::uint16_t c = x.At(i);
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
    if (n > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<std::uint32_t>(n);
  return true;
}

// The INDEX attribute's number of the opening tag that ends before limit.
bool IndexOf(const Utf16Text& x, std::size_t tag, std::size_t limit, std::uint32_t* index) {
  const std::size_t at = x.Find(tag, limit, "INDEX=\"");
  if (at >= limit) return false;
  const std::size_t from = at + 7;
  std::size_t end = from;
  while (end < limit && x.At(end) != '"') ++end;
  return end < limit && Number(x, from, end, index);
}

}  // namespace

WimVersion ParseWimXmlVersion(const std::uint8_t* bytes, std::size_t size, std::uint32_t bootIndex) {
  WimVersion v;
  if (bytes == nullptr) return v;
  const Utf16Text x(bytes, size);
  Span image;
  for (std::size_t from = x.begin(); from < x.end();) {
    const Span s = Element(x, from, x.end(), "IMAGE");
    if (!s.found) break;
    std::uint32_t index = 0;
    if (bootIndex == 0 || (IndexOf(x, s.tag, s.from, &index) && index == bootIndex)) {
      image = s;
      break;
    }
    from = s.to;
  }
  if (!image.found) return v;
  const Span windows = Element(x, image.from, image.to, "WINDOWS");
  if (!windows.found) return v;
  const Span version = Element(x, windows.from, windows.to, "VERSION");
  if (!version.found) return v;
  v.found = true;
  static const char* const kNames[WimVersion::kFields] = {"MAJOR", "MINOR", "BUILD", "SPBUILD"};
  for (int f = 0; f < WimVersion::kFields; ++f) {
    const Span field = Element(x, version.from, version.to, kNames[f]);
    v.has[f] = field.found && Number(x, field.from, field.to, &v.value[f]);
  }
  return v;
}

WimVersion ReadWimVersion(const wchar_t* path, const WimHeader& header) {
  const WimResource& xml = header.xmlData;
  if (path == nullptr || path[0] == L'\0' || xml.storedSize == 0 || xml.storedSize > kMaxWimXmlBytes ||
      (xml.flags & kResourceCompressed) != 0) {
    return WimVersion{};
  }
  wchar_t openable[kPathChars];
  OpenablePath(path, openable);
  FileApi& files = *Sys().files;
  UniqueHandle file(files.OpenFile(openable, FileAccess::Read, FileCreate::OpenExisting));
  const std::size_t size = static_cast<std::size_t>(xml.storedSize);
  HeapBlock bytes = HeapBlock::Uninitialised(size);
  if (!file || !bytes || !files.Seek(file.get(), xml.offset)) return WimVersion{};
  std::size_t have = 0;
  if (!ReadUpTo(file.get(), bytes.get(), size, &have)) return WimVersion{};
  return ParseWimXmlVersion(bytes.get(), have, header.bootIndex);
}

}  // namespace tavu::check
