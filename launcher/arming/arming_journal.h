// What the arming changes, written down before it changes anything, so that
// the next start of Windows (the task's /CHECK), /DISABLE, a restart that did
// not happen or an abort can put the machine back exactly as it was, however
// far the arming got before a power cut.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavu {

// The file, beside the launcher that the logon task starts.
inline constexpr wchar_t kJournalName[] = L"TAVU Recovery.journal";

// A value goes back into a bcdedit line of at most 260 characters, after
// "bcdedit /set {bootmgr} custom:5400000f ".
inline constexpr std::size_t kJournalValueChars = 200;
// The whole text; larger files are not ours.
inline constexpr std::size_t kJournalBytes = 2048;

enum class JournalRoute : std::uint8_t { BootManager, PartitionTable };

// The boot-store elements the boot-manager route sets, in the order the undo
// puts them back: the menu first, then the F9 binding before the element it
// names.
enum JournalElement : std::uint8_t {
  kJournalDisplayOrder,
  kJournalCustomActions,
  kJournalCustomEntry,
  kJournalExtendedInput,
  kJournalIsolatedContext,
  kJournalElementCount,
};
struct JournalElementName {
  const wchar_t* entry;  // "{bootmgr}" or "{current}"
  const wchar_t* name;   // as bcdedit lists and sets it
};
extern const JournalElementName kJournalElements[kJournalElementCount];

struct JournalValue {
  bool present = false;  // absent: the element was not set; the undo deletes it
  wchar_t text[kJournalValueChars] = {};
};

struct ArmingJournal {
  JournalRoute route = JournalRoute::BootManager;
  bool taskExisted = false;
  // Boot-manager route.
  JournalValue values[kJournalElementCount];
  // Partition-table route: the disk by its signature, the partitions by where
  // they start (their numbers may change with the table).
  std::uint32_t diskSignature = 0;
  std::int64_t recoveryOffset = 0;
  std::uint8_t recoveryType = 0;
  bool hadActive = false;
  std::int64_t activeOffset = 0;
};

// Whether a value may be written down: it is put back through cmd.exe, so it
// holds nothing but letters, digits, blanks and "{}-:." (identifiers, numbers,
// Yes/No). Anything else is refused before the arming changes anything.
[[nodiscard]] bool JournalValueAllowed(const wchar_t* text);

// The journal as ASCII text with CR LF line ends; its length, or 0 when a
// value cannot be written down.
std::size_t FormatJournal(const ArmingJournal& journal, char (&out)[kJournalBytes]);
// False for anything but a whole journal as FormatJournal writes it.
[[nodiscard]] bool ParseJournal(const char* bytes, std::size_t size, ArmingJournal* journal);

}  // namespace tavu
