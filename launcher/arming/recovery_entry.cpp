#include "launcher/arming/recovery_entry.h"

#include <cstdint>
#include <utility>

#include "common/file_api.h"
#include "common/platform.h"
#include "common/read_up_to.h"
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

namespace {

// Today's rule over the whole listing: each identifier line, in file order,
// whose next line names the recovery image. onMatch gets every such identifier
// and says whether to stop.
template <typename OnMatch>
bool WalkRecoveryLoaders(const ListingLines& listing, OnMatch onMatch) {
  constexpr std::size_t kPatternLength = sizeof kRecoveryImagePattern / sizeof kRecoveryImagePattern[0] - 1;
  LineReader reader(listing);
  LineView line;
  while (reader.Read(line)) {
    if (!IsIdentifierLine(line)) continue;
    wchar_t candidate[kMaxEntryIdChars + 1];
    std::size_t candidateLength = 0;
    TakeCandidate(line, candidate, &candidateLength);
    // A description that firmware or a USB device wrote may hold braces and a
    // dash; only a real identifier makes the line a candidate and takes its
    // next line with it.
    if (!IsBracedGuid(candidate, candidateLength)) continue;
    // Into the same view: a failed read leaves the identifier line there.
    reader.Read(line);
    if (HasUpperCasePattern(line, kRecoveryImagePattern, kPatternLength) && onMatch(candidate)) return true;
  }
  return false;
}

}  // namespace

bool IsUnderline(const LineView& line) {
  std::size_t dashes = 0;
  for (std::size_t i = 0; i < line.length; ++i) {
    if (line.text[i] == L'-') {
      ++dashes;
    } else if (line.text[i] != L' ' && line.text[i] != L'\t') {
      return false;
    }
  }
  return dashes > 0;
}

bool IsBracedGuid(const wchar_t* text, std::size_t length) {
  constexpr std::size_t kDashes[] = {9, 14, 19, 24};
  if (text == nullptr || length != kGuidChars || text[0] != L'{' || text[kGuidChars - 1] != L'}')
    return false;
  for (std::size_t i = 1; i + 1 < kGuidChars; ++i) {
    const bool dash = i == kDashes[0] || i == kDashes[1] || i == kDashes[2] || i == kDashes[3];
    const wchar_t c = text[i];
    const bool hex = (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
    if (dash ? c != L'-' : !hex) return false;
  }
  return true;
}

bool ElementOfLine(const LineView& line, LineView* name, LineView* value) {
  std::size_t at = 0;
  while (at < line.length && line.text[at] != L' ' && line.text[at] != L'\t') ++at;
  *name = {line.text, at};
  while (at < line.length && (line.text[at] == L' ' || line.text[at] == L'\t')) ++at;
  std::size_t end = line.length;
  while (end > at && (line.text[end - 1] == L' ' || line.text[end - 1] == L'\t')) --end;
  *value = {line.text + at, end - at};
  return name->length > 0;
}

bool IsBlankLine(const LineView& line) {
  for (std::size_t i = 0; i < line.length; ++i) {
    if (line.text[i] != L' ' && line.text[i] != L'\t') return false;
  }
  return true;
}

bool SameTextIgnoreCase(const LineView& text, const wchar_t* wanted) {
  std::size_t i = 0;
  for (; i < text.length && wanted[i] != L'\0'; ++i) {
    if (UpperAscii(text.text[i]) != UpperAscii(wanted[i])) return false;
  }
  return i == text.length && wanted[i] == L'\0';
}

bool FindCurrentRecoverySequence(const ListingLines& listing, wchar_t (&id)[kGuidChars + 1]) {
  // The entry the running Windows was started from is listed as {current}.
  // An entry's identifier is its first element, right under the dashes that
  // underline its (localized) heading; other elements that name {current},
  // such as the boot manager's default, are not its identifier. The entry's
  // elements follow up to the blank line before the next heading.
  for (std::size_t i = 1; i < listing.size(); ++i) {
    LineView name;
    LineView value;
    if (!IsUnderline(listing.Line(i - 1)) || !ElementOfLine(listing.Line(i), &name, &value) ||
        !SameTextIgnoreCase(value, L"{current}")) {
      continue;
    }
    for (std::size_t k = i + 1; k < listing.size() && !IsBlankLine(listing.Line(k)); ++k) {
      if (!ElementOfLine(listing.Line(k), &name, &value) || !SameTextIgnoreCase(name, L"recoverysequence") ||
          !IsBracedGuid(value.text, value.length)) {
        continue;
      }
      for (std::size_t c = 0; c < kGuidChars; ++c) id[c] = UpperAscii(value.text[c]);
      id[kGuidChars] = L'\0';
      return true;
    }
  }
  return false;
}

std::size_t ListRecoveryLoaders(const ListingLines& listing, wchar_t (*ids)[kMaxEntryIdChars + 1],
                                std::size_t room) {
  std::size_t count = 0;
  (void)WalkRecoveryLoaders(listing, [&](const wchar_t* candidate) {
    if (count < room && ids != nullptr) CopyBounded(ids[count], kMaxEntryIdChars + 1, candidate);
    ++count;
    return false;
  });
  return count;
}

bool FindRecoveryEntryId(const ListingLines& listing, wchar_t (&id)[kMaxEntryIdChars + 1]) {
  wchar_t first[kMaxEntryIdChars + 1] = {};
  if (!WalkRecoveryLoaders(listing, [&first](const wchar_t* candidate) {
        CopyBounded(first, kMaxEntryIdChars + 1, candidate);
        return true;
      })) {
    return false;
  }
  // Feature updates that add a recovery partition can leave the old loader in
  // the store: the one Windows itself would start is the one {current} names.
  wchar_t live[kGuidChars + 1];
  if (FindCurrentRecoverySequence(listing, live) &&
      WalkRecoveryLoaders(
          listing, [&live](const wchar_t* candidate) { return EqualsIgnoreAsciiCase(candidate, live); })) {
    CopyBounded(id, kMaxEntryIdChars + 1, live);
    return true;
  }
  CopyBounded(id, kMaxEntryIdChars + 1, first);
  return true;
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
  if (!ReadUpTo(file.get(), bytes, byteCapacity, &have)) return false;
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
