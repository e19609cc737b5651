// Picks the recovery environment's loader entry out of a `bcdedit /enum all`
// listing. Only the braces, the dash and the image path of a line count, so a
// listing in any display language serves.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tavu {

// The listing as a text-mode wide stream hands it out: lines without their LF.
struct ListingLines {
  std::vector<std::wstring> lines;
  // False when the input stopped inside the last line, before any LF.
  bool lastLineEnded = true;
};

// The line after an identifier line must hold this (upper case, comma included).
inline constexpr wchar_t kRecoveryImagePattern[] = L"\\RECOVERY\\WINDOWSRE\\WINRE.WIM,";

// The longest identifier that still fits, unchanged, into every batch line built
// with it: "bcdedit /set {bootmgr} custom:5400000f " (39 characters) plus the
// identifier plus the line end must stay within a 260-character line buffer.
inline constexpr std::size_t kMaxEntryIdChars = 260 - 1 - 1 - 39;

// Listings larger than this are not a boot store's listing; they are refused.
inline constexpr std::size_t kMaxListingBytes = 4u << 20;

// Splits wide text as text mode delivers it: lines end at LF, a CR right before
// an LF belongs to the line end.
[[nodiscard]] ListingLines SplitListing(const std::wstring& text);

// The first identifier, in file order, whose line is directly followed by a line
// naming the recovery image. *id gets it with its braces, in upper case. An
// identifier that could not be written into the arming batch unchanged (too
// long, or holding characters the command processor would act on) is passed
// over, as if its next line had not matched.
[[nodiscard]] bool FindRecoveryEntryId(const ListingLines& listing, std::wstring* id);

// Reads a listing file as a text-mode stream in the user's ANSI code page would:
// bytes up to the first Ctrl-Z, converted through the ANSI code page, split into
// lines. False when the file cannot be opened or read, or is absurdly large.
[[nodiscard]] bool ReadListing(const wchar_t* path, ListingLines* listing);

}  // namespace tavu
