// A boot-configuration listing as bcdedit may print it in any language, or as
// a damaged file: split into lines, then searched for the recovery entry. An
// identifier that is found must be a braced GUID, which the arming batch can
// carry unchanged, and must stand in the listing right above a line naming the
// recovery image; the paths resolved from its device line are ones the
// launcher can open, or none.
// seeds/boot_listing/last_line_both.txt is such a last line, found by this fuzzer;
// seeds/boot_listing/device_case.txt a device named in another case.
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>

#include "launcher/arming/recovery_entry.h"
#include "launcher/arming/recovery_image.h"
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
  if (!tavu::IsBracedGuid(id.c_str(), id.size())) __builtin_trap();

  // Where the entry's image and boot.sdi lie: each path empty or of a form the
  // launcher can open, and always terminated inside its buffer.
  tavu::RecoveryImageFacts facts;
  static_cast<void>(tavu::ResolveRecoveryImage(listing, id.c_str(), &facts));
  for (const wchar_t* path : {facts.imagePath, facts.sdiPath}) {
    const std::wstring p(path, wcsnlen(path, tavu::kPathChars));
    if (p.size() == tavu::kPathChars) __builtin_trap();
    // Win32 names reach the object manager without regard to case.
    const bool volume = Upper(p).rfind(L"\\\\?\\GLOBALROOT\\DEVICE\\", 0) == 0;
    const bool drive = p.size() >= 3 && p[1] == L':' && p[2] == L'\\';
    if (!p.empty() && !volume && !drive) __builtin_trap();
  }
  if (wcsnlen(facts.device, tavu::kPathChars) == tavu::kPathChars) __builtin_trap();
  return 0;
}
