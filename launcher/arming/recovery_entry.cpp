#include "launcher/arming/recovery_entry.h"

#include <cstdint>
#include <utility>

#include "common/file_api.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/wide_text.h"

namespace tavu {

ListingLines& ListingLines::operator=(ListingLines&& other) noexcept {
  if (this == &other) return *this;
  block_ = std::move(other.block_);
  feeds_ = other.feeds_;
  text_ = other.text_;
  feedCount_ = other.feedCount_;
  textLength_ = other.textLength_;
  lineCount_ = other.lineCount_;
  complete_ = other.complete_;
  lastLineEnded = other.lastLineEnded;
  other.feeds_ = nullptr;
  other.text_ = nullptr;
  other.feedCount_ = other.textLength_ = other.lineCount_ = 0;
  other.lastLineEnded = true;
  return *this;
}

LineView ListingLines::Line(std::size_t i) const {
  if (i >= lineCount_) return {};
  std::size_t begin = i == 0 ? 0 : feeds_[i - 1] + 1;
  std::size_t end = i < feedCount_ ? feeds_[i] : textLength_;
  if (i < feedCount_ && end > begin && text_[end - 1] == L'\r') --end;
  return {text_ + begin, end - begin};
}

namespace {

// std::getline over a wide text stream, reproduced exactly: a read that finds
// the stream already at its end (after a last line without LF) or already
// failed leaves the caller's text untouched; a read that starts in a good state
// and finds nothing empties it.
class LineReader {
 public:
  explicit LineReader(const ListingLines& listing) : listing_(listing) {}

  bool Read(LineView& out) {
    if (failed_ || atEnd_) {
      failed_ = true;
      return false;
    }
    if (next_ < listing_.size()) {
      out = listing_.Line(next_++);
      atEnd_ = next_ == listing_.size() && !listing_.lastLineEnded;
      return true;
    }
    out = {};
    failed_ = true;
    return false;
  }

 private:
  const ListingLines& listing_;
  std::size_t next_ = 0;
  bool atEnd_ = false;
  bool failed_ = false;
};

bool HasChar(const LineView& line, wchar_t c) {
  for (std::size_t i = 0; i < line.length; ++i) {
    if (line.text[i] == c) return true;
  }
  return false;
}

// Whether the line, upper-cased in ASCII, holds the upper-case pattern.
bool HasUpperCasePattern(const LineView& line, const wchar_t* pattern, std::size_t patternLength) {
  if (line.length < patternLength) return false;
  for (std::size_t at = 0; at + patternLength <= line.length; ++at) {
    std::size_t k = 0;
    while (k < patternLength && UpperAscii(line.text[at + k]) == pattern[k]) ++k;
    if (k == patternLength) return true;
  }
  return false;
}

// The identifier goes into batch lines run with administrator rights. Real
// identifiers are braced GUIDs; anything the command processor would treat as
// an operator, a variable or a quote, or that is not plain ASCII, is refused
// rather than passed on.
bool UsableAsIdentifier(const wchar_t* id, std::size_t length) {
  if (length < 2 || length > kMaxEntryIdChars) return false;
  for (std::size_t i = 0; i < length; ++i) {
    wchar_t c = id[i];
    if (c < 0x20 || c > 0x7E) return false;
    switch (c) {
      case L'"': case L'%': case L'&': case L'<': case L'>': case L'^': case L'|':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool IsIdentifierLine(const LineView& line) {
  return HasChar(line, L'{') && HasChar(line, L'}') && HasChar(line, L'-');
}

// The upper-cased text from the line's first '{' to its last '}', into
// candidate when it is short enough to be usable at all; *length gets its
// length either way ("}-{" encloses nothing and gives 0).
void TakeCandidate(const LineView& line, wchar_t (&candidate)[kMaxEntryIdChars + 1], std::size_t* length) {
  std::size_t first = 0;
  while (first < line.length && line.text[first] != L'{') ++first;
  std::size_t last = line.length;
  while (last > 0 && line.text[last - 1] != L'}') --last;
  *length = last > first + 1 ? last - first : 0;
  candidate[0] = L'\0';
  if (*length > kMaxEntryIdChars) return;
  for (std::size_t i = 0; i < *length; ++i) candidate[i] = UpperAscii(line.text[first + i]);
  candidate[*length] = L'\0';
}

}  // namespace

ListingLines SplitListing(const wchar_t* text, std::size_t length) {
  ListingLines out;
  if (text == nullptr || length == 0) return out;
  std::size_t feeds = 0;
  for (std::size_t i = 0; i < length; ++i) feeds += text[i] == L'\n' ? 1 : 0;
  // The LF positions are 32-bit; a text that long is no listing of anyone's.
  constexpr std::size_t kMaxUnits = 0xFFFFFFFFu / (sizeof(std::uint32_t) + sizeof(wchar_t));
  HeapBlock block;
  if (length <= kMaxUnits) {
    block = HeapBlock::Uninitialised(feeds * sizeof(std::uint32_t) + length * sizeof(wchar_t));
  }
  if (!block) {
    out.complete_ = false;
    return out;
  }
  auto* positions = block.As<std::uint32_t>();
  auto* copy = reinterpret_cast<wchar_t*>(block.get() + feeds * sizeof(std::uint32_t));
  std::size_t n = 0;
  for (std::size_t i = 0; i < length; ++i) {
    copy[i] = text[i];
    if (text[i] == L'\n') positions[n++] = static_cast<std::uint32_t>(i);
  }
  out.block_ = std::move(block);
  out.feeds_ = positions;
  out.text_ = copy;
  out.feedCount_ = feeds;
  out.textLength_ = length;
  out.lastLineEnded = text[length - 1] == L'\n';
  out.lineCount_ = feeds + (out.lastLineEnded ? 0 : 1);
  return out;
}

bool FindRecoveryEntryId(const ListingLines& listing, wchar_t (&id)[kMaxEntryIdChars + 1]) {
  constexpr std::size_t kPatternLength = sizeof kRecoveryImagePattern / sizeof kRecoveryImagePattern[0] - 1;
  LineReader reader(listing);
  LineView line;
  while (reader.Read(line)) {
    if (!IsIdentifierLine(line)) continue;
    wchar_t candidate[kMaxEntryIdChars + 1];
    std::size_t candidateLength = 0;
    TakeCandidate(line, candidate, &candidateLength);
    // Into the same view: a failed read leaves the identifier line there.
    reader.Read(line);
    if (HasUpperCasePattern(line, kRecoveryImagePattern, kPatternLength) &&
        UsableAsIdentifier(candidate, candidateLength)) {
      CopyBounded(id, kMaxEntryIdChars + 1, candidate);
      return true;
    }
  }
  return false;
}

bool ReadListing(const wchar_t* path, ListingLines* listing) {
  FileApi& files = *Sys().files;
  UniqueHandle file(files.OpenFile(path, FileAccess::Read, FileCreate::OpenExisting));
  if (!file) return false;
  std::uint64_t size = 0;
  if (!files.Size(file.get(), &size) || size > kMaxListingBytes) return false;
  const auto byteCapacity = static_cast<std::size_t>(size);
  // The bytes first, then their conversion behind them, aligned for wide
  // characters: one byte never gives more than one UTF-16 unit in an ANSI code page.
  const std::size_t wideAt = (byteCapacity + alignof(wchar_t) - 1) / alignof(wchar_t) * alignof(wchar_t);
  HeapBlock block = HeapBlock::Uninitialised(wideAt + byteCapacity * sizeof(wchar_t));
  if (!block) return false;
  auto* bytes = reinterpret_cast<char*>(block.get());
  std::size_t have = 0;
  while (have < byteCapacity) {
    std::uint32_t got = 0;
    if (!files.Read(file.get(), bytes + have, static_cast<std::uint32_t>(byteCapacity - have), &got)) {
      return false;
    }
    if (got == 0) break;
    have += got;
  }
  // Text mode ends the input at Ctrl-Z. No ANSI code page uses 0x1A as a trail
  // byte, so the bytes can be cut before they are converted.
  for (std::size_t i = 0; i < have; ++i) {
    if (bytes[i] == '\x1A') {
      have = i;
      break;
    }
  }

  std::size_t wideLength = 0;
  wchar_t* wide = nullptr;
  if (have > 0) {
    wide = reinterpret_cast<wchar_t*>(block.get() + wideAt);
    int n = Sys().system->AnsiToWide(bytes, static_cast<int>(have), wide, static_cast<int>(have));
    if (n <= 0) return false;
    wideLength = static_cast<std::size_t>(n);
  }
  ListingLines lines = SplitListing(wide, wideLength);
  if (!lines.complete()) return false;
  *listing = std::move(lines);
  return true;
}

}  // namespace tavu
