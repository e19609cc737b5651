// The boot manager as `bcdedit /enum all` lists it: its settings, whether the
// recovery start is armed in it, and the lines the launcher writes to arm it.
// Element names (default, displayorder, ...) are never localized; the
// identifier's own name and the section headers are, so neither is read.
#pragma once

#include <cstddef>

#include "common/wide_text.h"
#include "launcher/arming/recovery_entry.h"

namespace tavu::check {

inline constexpr std::size_t kMaxListedIds = 16;
inline constexpr std::size_t kIdChars = kMaxEntryIdChars + 1;
inline constexpr std::size_t kArmingLines = 7;

struct BootManagerFacts {
  bool found = false;  // the listing has a {bootmgr} section
  wchar_t defaultId[kIdChars] = {};
  wchar_t displayOrder[kMaxListedIds][kIdChars] = {};
  std::size_t displayCount = 0;  // may exceed kMaxListedIds; only those are kept
  bool hasTimeout = false;
  wchar_t timeout[32] = {};
  // The values of customactions, joined by a space; empty when not set.
  wchar_t customActions[kPathChars] = {};
  // custom:5400000f: the entry the firmware's recovery key starts.
  wchar_t customEntry[kIdChars] = {};
  // Whether that entry starts Windows RE (its next line names the image).
  bool customEntryIsRecovery = false;
  bool displayFirstIsRecovery = false;
};

// Reads the {bootmgr} section of the listing.
void ReadBootManager(const ListingLines& listing, BootManagerFacts* facts);

// The description and device lines of the entry id, as listed; empty when absent.
void ReadEntryLines(const ListingLines& listing, const wchar_t* id, wchar_t (&description)[kPathChars],
                    wchar_t (&device)[kPathChars]);

// customactions carries 0x5400000f, the element the launcher binds the
// recovery key to.
[[nodiscard]] bool CustomActionsArmed(const BootManagerFacts& facts);

// The launcher's arming is in place: customactions carries 0x5400000f, which
// custom:5400000f points at a recovery entry, and that entry leads the menu.
[[nodiscard]] bool BootManagerArmed(const BootManagerFacts& facts);

// The batch lines the launcher's worker writes to arm entryId, in order.
struct ArmingLines {
  wchar_t line[kArmingLines][kPathChars] = {};
};
[[nodiscard]] bool FormatArmingLines(const wchar_t* entryId, ArmingLines* lines);

}  // namespace tavu::check
