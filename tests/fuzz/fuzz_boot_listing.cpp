// A boot-configuration listing as bcdedit may print it in any language, or as
// a damaged file: split into lines, then searched for the recovery entry. An
// identifier that is found must be one the arming batch can carry unchanged,
// and must stand in the listing right above a line naming the recovery image.
// seeds/boot_listing/last_line_both.txt is such a last line, found by this fuzzer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "launcher/arming/recovery_entry.h"
#include "tests/fixtures/listing_text.h"
#include "tests/fuzz/fuzz_text.h"

namespace {

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = tavu::fuzz::WideFromFuzz(data, size);
  const tavu::ListingLines listing = tavu::test::SplitText(text);
  const std::vector<std::wstring> lines = tavu::test::LinesOf(listing);
  std::size_t feeds = 0;
  for (wchar_t c : text) feeds += c == L'\n' ? 1 : 0;
  // One line per LF, and one more for text after the last LF.
  const bool tail = !text.empty() && text.back() != L'\n';
  if (lines.size() != feeds + (tail ? 1 : 0)) __builtin_trap();
  if (listing.lastLineEnded == tail) __builtin_trap();
  for (const std::wstring& line : lines) {
    if (line.find(L'\n') != std::wstring::npos) __builtin_trap();
  }

  std::wstring id = L"unchanged";
  if (!tavu::test::FindEntryId(listing, &id)) return 0;
  if (id.size() < 2 || id.size() > tavu::kMaxEntryIdChars || id.front() != L'{' || id.back() != L'}') {
    __builtin_trap();
  }
  for (wchar_t c : id) {
    if ((c >= L'a' && c <= L'z') || c < 0x20 || c > 0x7E || c == L'&' || c == L'|' || c == L'<' || c == L'>' || c == L'^' ||
        c == L'%' || c == L'"') {
      __builtin_trap();
    }
  }
  bool placed = false;
  for (std::size_t i = 0; i + 1 < lines.size() && !placed; ++i) {
    placed = Upper(lines[i]).find(id) != std::wstring::npos &&
             Upper(lines[i + 1]).find(tavu::kRecoveryImagePattern) != std::wstring::npos;
  }
  // A last line without its LF is read as its own next line, as a text
  // stream's failed read leaves the buffer: it may hold both.
  if (!placed && !listing.lastLineEnded) {
    const std::wstring last = Upper(lines.back());
    placed = last.find(id) != std::wstring::npos && last.find(tavu::kRecoveryImagePattern) != std::wstring::npos;
  }
  if (!placed) __builtin_trap();
  return 0;
}
