// What the next start of the machine does, decided from facts gathered
// beforehand: which disk the firmware starts, what its master boot record's
// code or the Windows boot manager then picks, and whether that is Windows,
// Windows RE or nothing at all. Reads nothing itself, so the simulator's boot
// and the read-only support check give the same answer for the same machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavu {

enum class NextStart : std::uint8_t { Windows, Recovery, None };

// The two readings of the boot manager's menu when the default entry is not in
// the display order: the first entry listed starts, or the default entry does.
enum class MenuRule : std::uint8_t { First, Default };

// "windows", "recovery", "none".
const char* NextStartName(NextStart n);

enum class BootEntryKind : std::uint8_t { WindowsLoader, RecoveryLoader, Other };

struct BootEntryFacts {
  std::wstring id;  // "{current}", "{7c1b...}"
  BootEntryKind kind = BootEntryKind::Other;
  bool imageReady = false;  // RecoveryLoader only: its Winre.wim and boot.sdi exist
};

// {bootmgr}'s elements; a missing element is an empty optional.
struct BootManagerFacts {
  std::optional<std::wstring> defaultId;
  std::optional<std::vector<std::wstring>> displayOrder;
  std::vector<std::wstring> bootSequence;
  std::optional<std::vector<std::wstring>> customActions;  // the listed integers, as text
  // every custom:XXXXXXXX element: name lower-case ("custom:5400000f") -> value (an identifier)
  std::vector<std::pair<std::wstring, std::wstring>> customElements;
  std::vector<BootEntryFacts> entries;
};

struct MbrEntryFacts {
  std::uint8_t bootFlag = 0;
  std::uint8_t type = 0;
  bool signatureOk = false;          // first sector ends 0x55 0xAA
  bool isRecoveryPartition = false;  // the one the launcher finds
  bool goesToBootManager = false;    // holds \bootmgr, or stands for C:
  int partitionNumber = 0;           // for the report
};

enum class StartDiskStyle : std::uint8_t { None, Mbr, Gpt, Raw };

struct BootFacts {
  StartDiskStyle style = StartDiskStyle::None;
  int disk = -1;                   // the first fixed disk not on the USB bus
  std::vector<MbrEntryFacts> mbr;  // MBR only: the table's entries in order; only the first four count
  BootManagerFacts bootManager;    // GPT, and MBR when the active partition goes to the boot manager
  bool firmwareModeOn = false;     // F9 counts as pressed
  MenuRule menuRule = MenuRule::First;
};

struct NextStartReport {
  NextStart next = NextStart::None;
  std::string why;  // one plain English sentence
  // One line per decision, in order, each beginning "firmware: ", "mbr: ",
  // "boot manager: " or "entry: ".
  std::vector<std::string> steps;
  int disk = -1;            // the disk the firmware starts from, -1 when none
  int activePartition = 0;  // MBR: the flagged partition's number, 0 when none or not MBR
  bool bootSequenceUsed = false;
  std::wstring startedEntry;  // the identifier of the entry that starts, empty when none does
};

// Any input gives a defined answer; identifiers in the text keep their ASCII
// characters, every other character becomes '?'.
NextStartReport DecideNextStart(const BootFacts& facts);

}  // namespace tavu
