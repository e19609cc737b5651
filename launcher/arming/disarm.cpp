#include "launcher/arming/disarm.h"

#include "common/com_api.h"
#include "common/log_writer.h"
#include "common/wide_text.h"
#include "launcher/arming/arming_undo.h"
#include "launcher/arming/journal_file.h"
#include "launcher/services/fw_mode_tool.h"
#include "launcher/services/scheduled_task.h"
#include "launcher/services/trusted_launcher.h"
#include "launcher/startup/globals.h"
#include "launcher/startup/launcher_log.h"

namespace tavu {

namespace {

void LogUndo(const wchar_t* message) { WriteLog(g_log, g_logFileName, L"Undo", message); }

}  // namespace

bool UndoWithJournal(const ArmingJournal& journal, const wchar_t* journalPath, ToolScripts& scripts,
                     bool deleteTask) {
  // F9 must no longer count as pressed before anything else is put back; a
  // tool that did not start leaves the mode on, and the journal and the task
  // for the next start to switch it off.
  const bool modeOff = SwitchFirmwareMode(false) != kFirmwareToolFailed;
  const bool undone = UndoArming(journal, scripts) && modeOff;
  scripts.DeleteTemporaryFiles();
  if (!undone) {
    LogUndo(L"The machine is not back as it was; the journal and the task are kept for the next start");
    return false;
  }
  if (!DeleteJournalFile(journalPath)) return false;
  if (deleteTask) DeleteTask();
  LogUndo(L"The machine is back as it was before the recovery was prepared");
  return true;
}

DisarmResult Disarm() {
  // The task operations enter an apartment of their own on this thread.
  if (g_comReady == 1) Sys().com->Uninitialize();

  wchar_t launcher[kPathChars] = {};
  wchar_t journalPath[kPathChars] = {};
  ArmingJournal journal;
  JournalState state = JournalState::Absent;
  if (TrustedLauncher(launcher, kPathChars) && JournalPathBeside(launcher, journalPath, kPathChars)) {
    state = ReadJournalFile(journalPath, &journal);
  }
  if (state == JournalState::Absent) {
    SwitchFirmwareMode(false);
    DeleteTask();
    return DisarmResult::NothingArmed;
  }
  if (state != JournalState::Present) {
    // Following a journal someone else could have written would change the
    // boot store or a table as they say, with administrator's rights.
    SwitchFirmwareMode(false);
    FormatBounded(g_logMessage, kPathChars, L"%ls is %ls; nothing is changed", journalPath,
                  state == JournalState::Untrusted ? L"not ours" : L"not a whole journal");
    LogUndo(g_logMessage);
    return DisarmResult::JournalRefused;
  }
  ToolScripts scripts;
  if (!scripts.Prepare()) return DisarmResult::NotUndone;
  return UndoWithJournal(journal, journalPath, scripts, true) ? DisarmResult::Undone : DisarmResult::NotUndone;
}

}  // namespace tavu
