#include "launcher/arming/recovery_worker.h"

#include <cwchar>

#include "common/com_api.h"
#include "common/pinned_file.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/ui_api.h"
#include "common/volume_arrival.h"
#include "common/wide_text.h"
#include "launcher/arming/arming_journal.h"
#include "launcher/arming/arming_undo.h"
#include "launcher/arming/disarm.h"
#include "launcher/arming/journal_file.h"
#include "launcher/arming/mbr_table_state.h"
#include "launcher/arming/partition_locator.h"
#include "launcher/arming/recovery_entry.h"
#include "launcher/arming/recovery_image.h"
#include "launcher/arming/system_checks.h"
#include "launcher/arming/tool_scripts.h"
#include "launcher/arming/volume_offline.h"
#include "launcher/services/fw_mode_tool.h"
#include "launcher/services/scheduled_task.h"
#include "launcher/services/trusted_launcher.h"
#include "launcher/startup/globals.h"
#include "launcher/startup/process_runner.h"

namespace tavu {

namespace {

const wchar_t kRestartTool[] = L"shutdown.exe";

const wchar_t kAbortTitle[] = L"Recovery Aborted";
const wchar_t kBitLockerMessage[] = L"Please disable BitLocker and try again.";
const wchar_t kNotFoundMessage[] =
    L"Recovery partition cannot be found! Recovery process is aborted. Please contact TAVU Service Center "
    L"for further assistance.";
const wchar_t kPendingMessage[] =
    L"The recovery was prepared before and is not undone yet. Recovery process is aborted. Restart the "
    L"computer, or run \"TAVU Recovery.exe\" /DISABLE, and try again.";
const wchar_t kNoTaskMessage[] =
    L"The task that undoes the recovery preparation cannot be registered. Recovery process is aborted; "
    L"nothing was changed. Please contact TAVU Service Center for further assistance.";
const wchar_t kNoRestartMessage[] =
    L"The computer did not restart. Recovery process is aborted; nothing was changed.";

constexpr std::uint8_t kShown = 1;
// How long after the restart's own 10 seconds the session must have begun
// to end before the restart counts as called off.
constexpr std::uint32_t kRestartWaitMilliseconds = (10 + 60) * 1000;

struct WorkerState {
  ToolScripts scripts;
  std::int32_t diskNumber = 0;
  std::int32_t partitionNumber = 0;
  // Where the hidden recovery partition starts, as the search found it.
  std::int64_t recoveryOffset = 0;
  int found = 0;
  wchar_t recoveryEntryId[kMaxEntryIdChars + 1] = {};
  wchar_t volumeRoot[kPathChars] = {};
  wchar_t letter[kPathChars] = {};
  wchar_t launcherPath[kPathChars] = {};
  wchar_t journalPath[kPathChars] = {};
  ArmingJournal journal;
  // The task's program, held from its trust test until the worker is done:
  // the file the task names is the file that was tested.
  PinnedFile launcherPin;
};

std::uint32_t Abort(const wchar_t* message) {
  Sys().ui->ShowMessage(g_mainWindow, message, kAbortTitle, kMbOk);
  Sys().ui->PostDestroy(g_mainWindow);
  return 1;
}

std::uint32_t AbortNotFound(WorkerState& s) {
  s.scripts.DeleteTemporaryFiles();
  return Abort(kNotFoundMessage);
}

// Before the journal: only the task was registered, and it goes again unless
// it was there before.
std::uint32_t AbortBeforeChanges(WorkerState& s, const wchar_t* message) {
  if (!s.journal.taskExisted) DeleteTask();
  s.scripts.DeleteTemporaryFiles();
  return Abort(message);
}

// After the first change: the journal puts it back, then journal and task go.
std::uint32_t AbortAndUndo(WorkerState& s, const wchar_t* message) {
  static_cast<void>(UndoWithJournal(s.journal, s.journalPath, s.scripts, !s.journal.taskExisted));
  return Abort(message);
}

// What the boot-manager route changes, read before anything is changed; the
// loader to arm. False, with nothing changed, where it cannot be armed or
// could not be put back.
bool PrepareBootManager(WorkerState& s) {
  ListingLines listing;
  if (!s.scripts.ListBootStore(&listing) || !FindRecoveryEntryId(listing, s.recoveryEntryId)) return false;
  s.found = 1;
  // Never a restart into a recovery that cannot start: an image or boot.sdi
  // that Windows says is not there, or an image that is no WIM. Whatever
  // cannot be told (a device Windows lists as unknown, a refused open) arms.
  RecoveryImageFacts image;
  if (ResolveRecoveryImage(listing, s.recoveryEntryId, &image)) TestRecoveryImage(&image);
  if (RecoveryImageRefused(image)) return false;
  s.journal.route = JournalRoute::BootManager;
  // Nothing is changed that could not be put back.
  return RecordBootStore(listing, &s.journal);
}

bool ArmBootManager(WorkerState& s) {
  if (g_debugSwitch == 1) Sys().ui->ShowMessage(g_mainWindow, s.recoveryEntryId, L"GUID", kMbOk);
  const wchar_t* id = s.recoveryEntryId;
  wchar_t customLine[kPathChars];
  wchar_t orderLine[kPathChars];
  if (FormatBounded(customLine, kPathChars, L"bcdedit /set {bootmgr} custom:5400000f %ls", id) < 0 ||
      FormatBounded(orderLine, kPathChars, L"bcdedit /displayorder %ls", id) < 0) {
    return false;
  }
  // With the firmware mode still off, no prefix of these lines leaves a store
  // that starts nothing: F9 does not count until the mode is switched on.
  const wchar_t* lines[] = {L"bcdedit /set {bootmgr} customactions 0x1000043000001 0x5400000f", customLine,
                            L"bcdedit /set {bootmgr} extendedinput Yes ", L"bcdedit /set {current} isolatedcontext No",
                            orderLine};
  return s.scripts.RunBatch(lines, sizeof lines / sizeof lines[0]);
}

void FormatSelection(std::int32_t disk, std::int32_t partition, wchar_t (&diskLine)[32],
                     wchar_t (&partitionLine)[32]) {
  FormatBounded(diskLine, 32, L"sel disk %d", static_cast<int>(disk));
  FormatBounded(partitionLine, 32, L"sel par %d", static_cast<int>(partition));
}

bool PreparePartitionTable(WorkerState& s) {
  // The firmware starts the active partition's first sector only when it ends
  // with the boot signature; without it the notebook would not start at all.
  bool bootable = false;
  if (ReadBootSignature(s.diskNumber, s.recoveryOffset, &bootable) == kLocateFound && !bootable) return false;
  MbrTableState before;
  if (ReadMbrTableState(s.diskNumber, s.recoveryOffset, &before) != kLocateFound) return false;
  s.journal.route = JournalRoute::PartitionTable;
  s.journal.diskSignature = before.signature;
  s.journal.recoveryOffset = s.recoveryOffset;
  s.journal.recoveryType = before.recoveryType;
  s.journal.hadActive = before.activePartition != 0;
  s.journal.activeOffset = before.activeOffset;
  return true;
}

// False after a change the journal must undo.
bool ArmPartitionTable(WorkerState& s) {
  wchar_t diskLine[32];
  wchar_t partitionLine[32];
  FormatSelection(s.diskNumber, s.partitionNumber, diskLine, partitionLine);
  // Visible first, active second: a cut between the two leaves Windows the
  // active partition.
  const wchar_t* arm[] = {diskLine, partitionLine, L"set id=0c override", L"active"};
  if (!s.scripts.RunDiskScript(arm, 4)) return false;
  // Windows presents the now visible partition's volume, and gives it a drive
  // letter, a moment after diskpart has ended. Without automatic mounting it
  // arrives without one; if it does not arrive in time, the worker goes on.
  static_cast<void>(WaitForVolumeArrival(static_cast<std::uint32_t>(s.diskNumber), s.recoveryOffset));
  // The partition that boots next is FAT32, which keeps no permissions: every
  // user may write to it through its letter or its volume name for as long
  // as it is mounted. Taken offline first, nothing reaches it until the
  // restart. Where Windows refuses, the arming goes on; the support check
  // finds the volume still reachable.
  static_cast<void>(TakeVolumeOffline(static_cast<std::uint32_t>(s.diskNumber), s.recoveryOffset));

  // The partition just made visible, and no other: a recovery stick labelled
  // RECOVERY is never the one. Its letter comes from the mount manager, which
  // still knows it for an offline volume.
  if (FindRecoveryVolumeAt(s.diskNumber, s.recoveryOffset, &s.partitionNumber, s.volumeRoot) != kLocateFound) {
    return false;
  }
  if (s.volumeRoot[0] == L'\0') {
    static_cast<void>(LetterRootOfVolume(static_cast<std::uint32_t>(s.diskNumber), s.recoveryOffset,
                                         s.volumeRoot, kPathChars));
  }
  // "E:\" gives "E"; an empty root an empty letter.
  std::size_t rootLength = std::wcslen(s.volumeRoot);
  std::size_t letterLength = rootLength >= 2 ? rootLength - 2 : 0;
  for (std::size_t i = 0; i < letterLength; ++i) s.letter[i] = s.volumeRoot[i];
  s.letter[letterLength] = L'\0';

  wchar_t removeLine[kPathChars];
  FormatSelection(s.diskNumber, s.partitionNumber, diskLine, partitionLine);
  if (FormatBounded(removeLine, kPathChars, L"remove letter=%ls noerr", s.letter) < 0) return false;
  const wchar_t* remove[] = {diskLine, partitionLine, removeLine};
  return s.scripts.RunDiskScript(remove, 3);
}

// The restart was asked for; whether it happens is Windows' to tell. Where it
// does not, the machine must not stay armed for whatever restart comes next.
std::uint32_t AwaitRestart(WorkerState& s) {
  if (Sys().ui->WaitForSessionEnd(g_mainWindow, kRestartWaitMilliseconds) == SessionEnd::Ending) {
    Sys().ui->PostDestroy(g_mainWindow);
    return 0;
  }
  static_cast<void>(UndoWithJournal(s.journal, s.journalPath, s.scripts, !s.journal.taskExisted));
  return Abort(kNoRestartMessage);
}

}  // namespace

std::uint32_t RecoveryWorker(void* /*parameter*/) {
  if (Sys().system->StdOutputInvalid()) return 1;

  // A protected machine is never armed, not even when the box telling the
  // user so cannot be shown.
  if (IsVolumeProtected() == 1) return Abort(kBitLockerMessage);

  WorkerState s;
  if (!s.scripts.Prepare()) return Abort(kNotFoundMessage);

  // The task that undoes the arming at the next start, and the journal it
  // follows, both belong beside a launcher no standard user can change.
  if (!TrustedLauncher(s.launcherPath, kPathChars) || !s.launcherPin.PinIfThere(s.launcherPath) ||
      !NoUserCanChange(s.launcherPath) || !JournalPathBeside(s.launcherPath, s.journalPath, kPathChars)) {
    return Abort(kNoTaskMessage);
  }
  ArmingJournal earlier;
  if (ReadJournalFile(s.journalPath, &earlier) != JournalState::Absent) return Abort(kPendingMessage);

  LocateDetail found;
  if (FindRecoveryPartition(&s.partitionNumber, &s.diskNumber, &found) != kLocateFound)
    return Abort(kNotFoundMessage);
  s.recoveryOffset = found.foundOffset;

  const bool mbr = QueryPartitionStyle(s.diskNumber) == kStyleMbr;
  if (!(mbr ? PreparePartitionTable(s) : PrepareBootManager(s))) return AbortNotFound(s);

  // The undo is in place before the first change: the task first, on the
  // disk, then the journal.
  if (g_comReady == 1) Sys().com->Uninitialize();
  s.journal.taskExisted = IsTaskRegistered() == 1;
  if (AddTask(s.launcherPath) != kTaskDone) return AbortBeforeChanges(s, kNoTaskMessage);
  if (!WriteJournalFile(s.journalPath, s.journal)) return AbortBeforeChanges(s, kNotFoundMessage);

  if (!(mbr ? ArmPartitionTable(s) : ArmBootManager(s))) return AbortAndUndo(s, kNotFoundMessage);

  s.scripts.DeleteTemporaryFiles();
  // Last, just before the restart: the mode cannot be read back, so it is the
  // first thing the undo switches off.
  SwitchFirmwareMode(true);
  RunSystemTool(kRestartTool, L"-r -t 10", kShown);
  return AwaitRestart(s);
}

}  // namespace tavu
