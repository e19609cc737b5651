// Undoing an arming: at the next start of Windows (the task's "/CHECK"), on
// "/DISABLE", and in the launcher itself when the restart it asked for did
// not happen or its work stopped after it had changed something.
#pragma once

#include <cstdint>

#include "launcher/arming/arming_journal.h"
#include "launcher/arming/tool_scripts.h"

namespace tavu {

enum class DisarmResult : std::uint8_t {
  NothingArmed,    // no journal: the task was deleted, as after every logon
  Undone,          // the machine is as the journal says; journal and task gone
  JournalRefused,  // a journal that is not ours, or not whole: nothing changed, the task kept
  NotUndone,       // the undo did not take: journal and task kept for the next run
};

// The firmware mode off, the boot store or the table back, the journal
// deleted, the task deleted last: a cut anywhere leaves what the next run
// needs to finish.
DisarmResult Disarm();

// The same steps for a journal already in hand, whose file is journalPath.
// deleteTask: the task goes too (it did not exist before the arming, or the
// arming is being undone for good).
bool UndoWithJournal(const ArmingJournal& journal, const wchar_t* journalPath, ToolScripts& scripts,
                     bool deleteTask);

}  // namespace tavu
