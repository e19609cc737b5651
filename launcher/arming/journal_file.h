// The arming's journal on disk: one file beside the launcher that the logon
// task starts, in a folder only administrators may change, written whole
// under another name and moved into place, so that a power cut leaves either
// no journal or a complete one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "launcher/arming/arming_journal.h"

namespace tavu {

// launcherPath's folder and kJournalName; false when it does not fit.
bool JournalPathBeside(const wchar_t* launcherPath, wchar_t* out, std::size_t capacity);

enum class JournalState : std::uint8_t {
  Absent,
  Present,    // *journal holds it
  Untrusted,  // a link, a folder, or a file someone other than an administrator owns or may change
  Unreadable, // cannot be read, or is not a whole journal
};
JournalState ReadJournalFile(const wchar_t* path, ArmingJournal* journal);

// False when the journal is not on the disk in full (nothing is left then).
bool WriteJournalFile(const wchar_t* path, const ArmingJournal& journal);
// True when no journal is left at path.
bool DeleteJournalFile(const wchar_t* path);

}  // namespace tavu
