#include "launcher/arming/recovery_entry.h"

#include <cstdint>
#include <string>

#include "common/file_api.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/unique_handle.h"

namespace tavu {

namespace {

// std::getline over a wide text stream, reproduced exactly: a read that finds
// the stream already at its end (after a last line without LF) or already
// failed leaves the caller's text untouched; a read that starts in a good state
// and finds nothing empties it.
class LineReader {
 public:
  explicit LineReader(const ListingLines& listing) : listing_(listing) {}

  bool Read(std::wstring& out) {
    if (failed_ || atEnd_) {
      failed_ = true;
      return false;
    }
    if (next_ < listing_.lines.size()) {
      out = listing_.lines[next_++];
      atEnd_ = next_ == listing_.lines.size() && !listing_.lastLineEnded;
      return true;
    }
    out.clear();
    failed_ = true;
    return false;
  }

 private:
  const ListingLines& listing_;
  std::size_t next_ = 0;
  bool atEnd_ = false;
  bool failed_ = false;
};

void UpperAsciiInPlace(std::wstring& text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
}

// The identifier goes into batch lines run with administrator rights. Real
// identifiers are braced GUIDs; anything the command processor would treat as
// an operator, a variable or a quote, or that is not plain ASCII, is refused
// rather than passed on.
bool UsableAsIdentifier(const std::wstring& id) {
  if (id.size() < 2 || id.size() > kMaxEntryIdChars) return false;
  for (wchar_t c : id) {
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

bool IsIdentifierLine(const std::wstring& line) {
  return line.find(L'{') != std::wstring::npos && line.find(L'}') != std::wstring::npos &&
         line.find(L'-') != std::wstring::npos;
}

}  // namespace

ListingLines SplitListing(const std::wstring& text) {
  ListingLines out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t lf = text.find(L'\n', start);
    if (lf == std::wstring::npos) {
      out.lines.push_back(text.substr(start));
      out.lastLineEnded = false;
      break;
    }
    std::size_t end = lf;
    if (end > start && text[end - 1] == L'\r') --end;
    out.lines.push_back(text.substr(start, end - start));
    start = lf + 1;
  }
  return out;
}

bool FindRecoveryEntryId(const ListingLines& listing, std::wstring* id) {
  LineReader reader(listing);
  std::wstring line;
  while (reader.Read(line)) {
    UpperAsciiInPlace(line);
    if (!IsIdentifierLine(line)) continue;
    std::size_t first = line.find(L'{');
    std::size_t last = line.rfind(L'}');
    // "}-{" holds all three marks but encloses nothing; it still consumes the
    // next line, as every identifier line does.
    std::wstring candidate = last > first ? line.substr(first, last - first + 1) : std::wstring();
    // Into the same text: a failed read leaves the identifier line there.
    reader.Read(line);
    UpperAsciiInPlace(line);
    if (line.find(kRecoveryImagePattern) != std::wstring::npos && UsableAsIdentifier(candidate)) {
      if (id != nullptr) *id = candidate;
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
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::size_t have = 0;
  while (have < bytes.size()) {
    std::uint32_t got = 0;
    if (!files.Read(file.get(), bytes.data() + have, static_cast<std::uint32_t>(bytes.size() - have), &got)) {
      return false;
    }
    if (got == 0) break;
    have += got;
  }
  bytes.resize(have);
  // Text mode ends the input at Ctrl-Z. No ANSI code page uses 0x1A as a trail
  // byte, so the bytes can be cut before they are converted.
  std::size_t sub = bytes.find('\x1A');
  if (sub != std::string::npos) bytes.resize(sub);

  std::wstring wide;
  if (!bytes.empty()) {
    // One byte never gives more than one UTF-16 unit in an ANSI code page.
    wide.assign(bytes.size(), L'\0');
    int n = Sys().system->AnsiToWide(bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                                     static_cast<int>(wide.size()));
    if (n <= 0) return false;
    wide.resize(static_cast<std::size_t>(n));
  }
  *listing = SplitListing(wide);
  return true;
}

}  // namespace tavu
