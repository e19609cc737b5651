#include "launcher/arming/arming_undo.h"

#include "common/searchable_disks.h"
#include "common/wide_text.h"
#include "launcher/arming/boot_store_values.h"
#include "launcher/arming/mbr_table_state.h"
#include "launcher/arming/partition_locator.h"

namespace tavu {

namespace {

bool BootStoreAsJournalled(const ListingLines& listing, const ArmingJournal& journal) {
  for (std::size_t e = 0; e < kJournalElementCount; ++e) {
    wchar_t now[kJournalValueChars] = {};
    const ElementRead read =
        ReadEntryElement(listing, kJournalElements[e].entry, kJournalElements[e].name, now, kJournalValueChars);
    const JournalValue& was = journal.values[e];
    const bool same = was.present ? read == ElementRead::Present && EqualsIgnoreAsciiCase(now, was.text)
                                  : read == ElementRead::Absent;
    if (!same) return false;
  }
  return true;
}

bool UndoBootStore(const ArmingJournal& journal, ToolScripts& scripts) {
  wchar_t lines[kJournalElementCount][kPathChars] = {};
  const wchar_t* batch[kJournalElementCount] = {};
  for (std::size_t e = 0; e < kJournalElementCount; ++e) {
    const JournalElementName& element = kJournalElements[e];
    const JournalValue& was = journal.values[e];
    // The menu goes back the way the arming set it: bcdedit's own command for it.
    const bool menu = e == kJournalDisplayOrder;
    const int written =
        !was.present ? FormatBounded(lines[e], kPathChars, L"bcdedit /deletevalue %ls %ls", element.entry,
                                     element.name)
        : menu       ? FormatBounded(lines[e], kPathChars, L"bcdedit /displayorder %ls", was.text)
                     : FormatBounded(lines[e], kPathChars, L"bcdedit /set %ls %ls %ls", element.entry,
                                     element.name, was.text);
    if (written < 0) return false;
    batch[e] = lines[e];
  }
  if (!scripts.RunBatch(batch, kJournalElementCount)) return false;
  ListingLines listing;
  return scripts.ListBootStore(&listing) && BootStoreAsJournalled(listing, journal);
}

// The disk that carries the journalled signature, among the disks the
// launcher searches; -1 when none does.
std::int32_t DiskWithSignature(std::uint32_t signature, MbrTableState* state) {
  SearchableDisks disks(false);
  while (disks.Next()) {
    if (!disks.Searched()) continue;
    MbrTableState read;
    if (ReadMbrTableState(disks.Number(), -1, &read) == kLocateFound && read.signature == signature) {
      *state = read;
      return disks.Number();
    }
  }
  return -1;
}

bool TableAsJournalled(const MbrTableState& table, const ArmingJournal& journal) {
  const MbrTableState::Entry* recovery = table.At(journal.recoveryOffset);
  if (recovery == nullptr || recovery->type != journal.recoveryType) return false;
  if (!journal.hadActive) return !recovery->active;
  const MbrTableState::Entry* active = table.At(journal.activeOffset);
  return active != nullptr && active->active && (recovery->active == (active == recovery));
}

bool UndoPartitionTable(const ArmingJournal& journal, ToolScripts& scripts) {
  MbrTableState table;
  const std::int32_t disk = DiskWithSignature(journal.diskSignature, &table);
  if (disk < 0) return false;
  const MbrTableState::Entry* recovery = table.At(journal.recoveryOffset);
  const MbrTableState::Entry* active = journal.hadActive ? table.At(journal.activeOffset) : nullptr;
  if (recovery == nullptr || (journal.hadActive && active == nullptr)) return false;

  wchar_t diskLine[32];
  wchar_t activeLine[32];
  wchar_t recoveryLine[32];
  wchar_t typeLine[32];
  FormatBounded(diskLine, 32, L"sel disk %d", static_cast<int>(disk));
  FormatBounded(recoveryLine, 32, L"sel par %d", static_cast<int>(recovery->number));
  FormatBounded(typeLine, 32, L"set id=%02x override", static_cast<unsigned>(journal.recoveryType));
  const wchar_t* lines[6] = {diskLine};
  std::size_t count = 1;
  if (active != nullptr) {
    // diskpart's active takes the flag from every other partition of the disk
    // in the same write: there is never a moment with none.
    FormatBounded(activeLine, 32, L"sel par %d", static_cast<int>(active->number));
    lines[count++] = activeLine;
    lines[count++] = L"active";
    lines[count++] = recoveryLine;
  } else {
    // Nothing was active before the arming: that is how it is left.
    lines[count++] = recoveryLine;
    lines[count++] = L"inactive noerr";
  }
  lines[count++] = typeLine;
  if (!scripts.RunDiskScript(lines, count)) return false;
  MbrTableState after;
  return ReadMbrTableState(disk, -1, &after) == kLocateFound && TableAsJournalled(after, journal);
}

}  // namespace

bool UndoArming(const ArmingJournal& journal, ToolScripts& scripts) {
  return journal.route == JournalRoute::BootManager ? UndoBootStore(journal, scripts)
                                                    : UndoPartitionTable(journal, scripts);
}

bool RecordBootStore(const ListingLines& listing, ArmingJournal* journal) {
  for (std::size_t e = 0; e < kJournalElementCount; ++e) {
    JournalValue& value = journal->values[e];
    const ElementRead read = ReadEntryElement(listing, kJournalElements[e].entry, kJournalElements[e].name,
                                              value.text, kJournalValueChars);
    if (read == ElementRead::Absent) {
      value = JournalValue{};
    } else if (read == ElementRead::Present && JournalValueAllowed(value.text)) {
      value.present = true;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace tavu
