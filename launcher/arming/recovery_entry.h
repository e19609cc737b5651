// Picks the recovery environment's loader entry out of a `bcdedit /enum all`
// listing. Only the braces, the dash and the image path of a line count, so a
// listing in any display language serves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "common/heap_block.h"

namespace tavu {

// One line of a listing: length characters at text, not terminated (a zero
// character may stand inside a line).
struct LineView {
  const wchar_t* text = nullptr;
  std::size_t length = 0;
};

// The listing as a text-mode wide stream hands it out: lines without their LF.
// One heap block holds the whole text behind the positions of its LFs; a line
// is cut out of it when asked for.
class ListingLines {
 public:
  ListingLines() = default;
  // A listing that has been moved from has no lines, rather than views into
  // a block it no longer owns.
  ListingLines(ListingLines&& other) noexcept { *this = std::move(other); }
  ListingLines& operator=(ListingLines&& other) noexcept;

  // False when the heap could not hold the text: then there are no lines.
  [[nodiscard]] bool complete() const { return complete_; }
  [[nodiscard]] std::size_t size() const { return lineCount_; }
  // Line i (below size()), without its LF and the CR right before it.
  [[nodiscard]] LineView Line(std::size_t i) const;

  // False when the input stopped inside the last line, before any LF.
  bool lastLineEnded = true;

 private:
  friend ListingLines SplitListing(const wchar_t* text, std::size_t length);

  HeapBlock block_;
  const std::uint32_t* feeds_ = nullptr;  // positions of the LFs in text_
  const wchar_t* text_ = nullptr;
  std::size_t feedCount_ = 0;
  std::size_t textLength_ = 0;
  std::size_t lineCount_ = 0;
  bool complete_ = true;
};

// The line after an identifier line must hold this (upper case, comma included).
inline constexpr wchar_t kRecoveryImagePattern[] = L"\\RECOVERY\\WINDOWSRE\\WINRE.WIM,";

// The longest identifier that still fits, unchanged, into every batch line built
// with it: "bcdedit /set {bootmgr} custom:5400000f " (39 characters) plus the
// identifier plus the line end must stay within a 260-character line buffer.
inline constexpr std::size_t kMaxEntryIdChars = 260 - 1 - 1 - 39;

// Listings larger than this are not a boot store's listing; they are refused.
inline constexpr std::size_t kMaxListingBytes = 4u << 20;

// Splits wide text (length characters) as text mode delivers it: lines end at
// LF, a CR right before an LF belongs to the line end.
[[nodiscard]] ListingLines SplitListing(const wchar_t* text, std::size_t length);

// Entry identifiers are braced GUIDs: "{" 8-4-4-4-12 hexadecimal digits "}".
inline constexpr std::size_t kGuidChars = 38;
[[nodiscard]] bool IsBracedGuid(const wchar_t* text, std::size_t length);

// The recovery loader to arm. A candidate is a line whose text from its first
// "{" to its last "}" is a braced GUID; the line after it must name the
// recovery image. Of those, the one that {current}'s recoverysequence names,
// else the first in file order. id gets it in upper case; it is left as it was
// when none is found.
[[nodiscard]] bool FindRecoveryEntryId(const ListingLines& listing, wchar_t (&id)[kMaxEntryIdChars + 1]);

// Every recovery loader the listing holds, by the same rule, in file order and
// upper case: up to room of them into ids; returns how many there are.
[[nodiscard]] std::size_t ListRecoveryLoaders(const ListingLines& listing,
                                              wchar_t (*ids)[kMaxEntryIdChars + 1], std::size_t room);

// The recoverysequence of the entry whose identifier is {current}, upper
// case; false when that entry is not listed or has no such element.
[[nodiscard]] bool FindCurrentRecoverySequence(const ListingLines& listing, wchar_t (&id)[kGuidChars + 1]);

// A listing line "name   value": the element name (the first run without
// blanks) and its value (the rest, blanks around it cut). False for a line
// that starts with a blank or is empty.
bool ElementOfLine(const LineView& line, LineView* name, LineView* value);
// A line of dashes alone: what underlines an entry's (localized) heading, so
// the element right below it is the entry's identifier.
[[nodiscard]] bool IsUnderline(const LineView& line);
// An empty line, or one of blanks only: what ends an entry in the listing.
[[nodiscard]] bool IsBlankLine(const LineView& line);
// text equals wanted, ASCII letters without regard to case.
[[nodiscard]] bool SameTextIgnoreCase(const LineView& text, const wchar_t* wanted);

// Reads a listing file as a text-mode stream in the user's ANSI code page would:
// bytes up to the first Ctrl-Z, converted through the ANSI code page, split into
// lines. False when the file cannot be opened or read, or is absurdly large.
[[nodiscard]] bool ReadListing(const wchar_t* path, ListingLines* listing);

}  // namespace tavu
