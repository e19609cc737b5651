// Puts the machine back as the arming's journal says it was.
#pragma once

#include "launcher/arming/arming_journal.h"
#include "launcher/arming/tool_scripts.h"

namespace tavu {

// Every step sets what the journal says, whatever is there now, so the undo
// may run again after a cut part way, or after Windows lost boot-store
// changes it had not written yet. The partition table never passes through a
// state the firmware cannot start: the partition that was active becomes
// active again first (which takes the flag from the recovery partition in the
// same write), and only then does the recovery partition get its hidden type
// back. True when a fresh look shows the machine as the journal says it was.
[[nodiscard]] bool UndoArming(const ArmingJournal& journal, ToolScripts& scripts);

// The boot store's elements, read from a listing, into the journal's values;
// false when one of them cannot be written down (then nothing may be armed).
[[nodiscard]] bool RecordBootStore(const ListingLines& listing, ArmingJournal* journal);

}  // namespace tavu
