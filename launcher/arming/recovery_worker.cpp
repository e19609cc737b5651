#include "launcher/arming/recovery_worker.h"

#include <cwchar>
#include <initializer_list>

#include "common/claimed_file.h"
#include "common/file_api.h"
#include "common/in_use_retry.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/system_folders.h"
#include "common/ui_api.h"
#include "common/volume_arrival.h"
#include "common/wide_text.h"
#include "launcher/arming/mbr_table_state.h"
#include "launcher/arming/partition_locator.h"
#include "launcher/arming/recovery_entry.h"
#include "launcher/arming/recovery_image.h"
#include "launcher/arming/script_writer.h"
#include "launcher/arming/system_checks.h"
#include "launcher/arming/volume_offline.h"
#include "launcher/services/fw_mode_tool.h"
#include "launcher/startup/globals.h"
#include "launcher/startup/process_runner.h"

namespace tavu {

namespace {

// Under the Windows folder.
const wchar_t kBatchName[] = L"Temp\\RcvBoot.cmd";
const wchar_t kEnumName[] = L"Temp\\RcvBoot.txt";
const wchar_t kDiskScriptName[] = L"Temp\\RcvBootDisk.txt";
// Windows' own tools in C:\Windows\System32, each run from there.
const wchar_t kCommandProcessor[] = L"cmd.exe";
const wchar_t kPartitionTool[] = L"diskpart.exe";
const wchar_t kRestartTool[] = L"shutdown.exe";
const wchar_t kListingCommand[] = L"bcdedit /enum all > \"%ls\"";
// /d: without it cmd.exe first runs the AutoRun command that the owner's
// account keeps in its own registry, with the launcher's rights.
const wchar_t kBatchParameters[] = L"/d /c \"%ls\"";
const wchar_t kScriptParameters[] = L"/s \"%ls\"";

const wchar_t kAbortTitle[] = L"Recovery Aborted";
const wchar_t kBitLockerMessage[] = L"Please disable BitLocker and try again.";
const wchar_t kNotFoundMessage[] =
    L"Recovery partition cannot be found! Recovery process is aborted. Please contact TAVU Service Center "
    L"for further assistance.";

constexpr std::uint8_t kHidden = 0;
constexpr std::uint8_t kShown = 1;

struct WorkerState {
  wchar_t command[kPathChars] = {};
  wchar_t parameters[kPathChars] = {};
  // The names each file is first tried under; the listing's name as made.
  wchar_t batchPath[kPathChars] = {};
  wchar_t enumPreferred[kPathChars] = {};
  wchar_t enumPath[kPathChars] = {};
  wchar_t diskScriptPath[kPathChars] = {};
  std::int32_t diskNumber = 0;
  std::int32_t partitionNumber = 0;
  // Where the hidden recovery partition starts, as the search found it.
  std::int64_t recoveryOffset = 0;
  int found = 0;
  wchar_t recoveryEntryId[kMaxEntryIdChars + 1] = {};
  wchar_t volumeRoot[kPathChars] = {};
  wchar_t letter[kPathChars] = {};
  // Destroyed in reverse order: the batch writer first.
  ScriptWriter diskWriter;
  ScriptWriter batchWriter;
};

std::uint32_t Abort(const wchar_t* message) {
  Sys().ui->ShowMessage(g_mainWindow, message, kAbortTitle, kMbOk);
  Sys().ui->PostDestroy(g_mainWindow);
  return 1;
}

// A scanner that opened a file after the tool read it may hold it for
// seconds; the window's progress line moves on meanwhile.
void DeleteTemporaryFiles(const WorkerState& s) {
  FileApi& files = *Sys().files;
  for (const wchar_t* path : {s.batchWriter.path(), s.enumPath, s.diskWriter.path()}) {
    if (path[0] == L'\0') continue;
    (void)RetryWhileOwnFileInUse([&files, path] { return files.Remove(path); });
  }
  // What an earlier run left under the usual names goes too.
  for (const wchar_t* path : {s.batchPath, s.enumPreferred, s.diskScriptPath}) {
    (void)RetryWhileInUse([&files, path] { return files.Remove(path); });
  }
}

std::uint32_t AbortNotFound(const WorkerState& s) {
  DeleteTemporaryFiles(s);
  return Abort(kNotFoundMessage);
}

// A script is only worth running when every line of it reached the file.
bool WriteScript(ScriptWriter& writer, const wchar_t* path, std::initializer_list<const wchar_t*> lines) {
  if (!writer.Create(path)) return false;
  for (const wchar_t* line : lines) {
    if (!writer.AppendLine(line)) return false;
  }
  return true;
}

// Fills s.command; false when the text would not fit (it is never cut).
bool FormatCommand(WorkerState& s, const wchar_t* format, const wchar_t* text) {
  return FormatBounded(s.command, kPathChars, format, text) >= 0;
}

// On 64-bit Windows the tools must be the native ones: a 32-bit command
// processor finds no bcdedit.
void RunTool(WorkerState& s, const wchar_t* tool, const wchar_t* parametersFormat, const wchar_t* script) {
  FormatBounded(s.parameters, kPathChars, parametersFormat, script);
  RunSystemTool(tool, s.parameters, kHidden);
}

std::uint32_t BootManagerRoute(WorkerState& s) {
  // The redirection in the batch empties and keeps whatever file holds this
  // name; make sure it is ours, so no one else can hand us a listing.
  if (!ClaimAdminsOnlyFile(s.enumPreferred, kForeignFileWaitMilliseconds, s.enumPath, kPathChars) ||
      !FormatCommand(s, kListingCommand, s.enumPath) ||
      !WriteScript(s.batchWriter, s.batchPath, {L"@ECHO OFF", L"CHCP 437", s.command})) {
    return AbortNotFound(s);
  }
  RunTool(s, kCommandProcessor, kBatchParameters, s.batchWriter.path());

  ListingLines listing;
  if (ReadListing(s.enumPath, &listing) && FindRecoveryEntryId(listing, s.recoveryEntryId)) s.found = 1;
  if (s.found == 0) return AbortNotFound(s);
  // Never a restart into a recovery that cannot start: an image or boot.sdi
  // that Windows says is not there, or an image that is no WIM. Whatever
  // cannot be told (a device Windows lists as unknown, a refused open) arms.
  RecoveryImageFacts image;
  if (ResolveRecoveryImage(listing, s.recoveryEntryId, &image)) TestRecoveryImage(&image);
  if (RecoveryImageRefused(image)) return AbortNotFound(s);
  if (g_debugSwitch == 1) Sys().ui->ShowMessage(g_mainWindow, s.recoveryEntryId, L"GUID", kMbOk);

  const wchar_t* id = s.recoveryEntryId;
  wchar_t customLine[kPathChars];
  wchar_t orderLine[kPathChars];
  if (FormatBounded(customLine, kPathChars, L"bcdedit /set {bootmgr} custom:5400000f %ls", id) < 0 ||
      FormatBounded(orderLine, kPathChars, L"bcdedit /displayorder %ls", id) < 0 ||
      !WriteScript(
          s.batchWriter, s.batchPath,
          {L"@ECHO OFF", L"CHCP 437", L"bcdedit /set {bootmgr} customactions 0x1000043000001 0x5400000f",
           customLine, L"bcdedit /set {bootmgr} extendedinput Yes ",
           L"bcdedit /set {current} isolatedcontext No", orderLine})) {
    return AbortNotFound(s);
  }
  RunTool(s, kCommandProcessor, kBatchParameters, s.batchWriter.path());
  return 0;
}

void FormatSelection(std::int32_t disk, std::int32_t partition, wchar_t (&diskLine)[32],
                     wchar_t (&partitionLine)[32]) {
  FormatBounded(diskLine, 32, L"sel disk %d", static_cast<int>(disk));
  FormatBounded(partitionLine, 32, L"sel par %d", static_cast<int>(partition));
}

// Puts the table back as it was before the first script: the recovery
// partition's type, and the active flag where it was. Each change carries
// noerr, so that one that fails (the first script may have stopped halfway)
// does not keep the others from being made; a selection never does, so no
// change lands on another partition.
void UndoPartitionTable(WorkerState& s, const MbrTableState& before) {
  wchar_t diskLine[32];
  wchar_t recoveryLine[32];
  wchar_t activeLine[32];
  wchar_t typeLine[40];
  FormatSelection(s.diskNumber, before.recoveryPartition, diskLine, recoveryLine);
  FormatBounded(activeLine, 32, L"sel par %d", static_cast<int>(before.activePartition));
  FormatBounded(typeLine, 40, L"set id=%02x override noerr", static_cast<unsigned>(before.recoveryType));
  const bool recoveryWasActive = before.activePartition == before.recoveryPartition;
  const bool written =
      before.activePartition == 0 || recoveryWasActive
          ? WriteScript(
                s.diskWriter, s.diskScriptPath,
                {diskLine, recoveryLine, typeLine, recoveryWasActive ? L"active noerr" : L"inactive noerr"})
          : WriteScript(s.diskWriter, s.diskScriptPath,
                        {diskLine, recoveryLine, typeLine, L"inactive noerr", activeLine, L"active noerr"});
  if (written) RunTool(s, kPartitionTool, kScriptParameters, s.diskWriter.path());
}

std::uint32_t AbortAndUndo(WorkerState& s, const MbrTableState& before) {
  UndoPartitionTable(s, before);
  return AbortNotFound(s);
}

// With its letter gone the volume is still open to every user through its
// volume name, and FAT32 keeps no permissions: taken offline, nothing reaches
// it until the restart. Where Windows refuses, the arming goes on as before;
// the support check finds the volume still reachable.
void KeepRecoveryVolumeOutOfReach(const WorkerState& s) {
  static_cast<void>(TakeVolumeOffline(static_cast<std::uint32_t>(s.diskNumber), s.recoveryOffset));
}

std::uint32_t PartitionTableRoute(WorkerState& s) {
  // The firmware starts the active partition's first sector only when it ends
  // with the boot signature; without it the notebook would not start at all.
  bool bootable = false;
  if (ReadBootSignature(s.diskNumber, s.recoveryOffset, &bootable) == kLocateFound && !bootable) {
    return AbortNotFound(s);
  }
  // Nothing is changed that could not be put back.
  MbrTableState before;
  if (ReadMbrTableState(s.diskNumber, s.recoveryOffset, &before) != kLocateFound) return AbortNotFound(s);

  wchar_t diskLine[32];
  wchar_t partitionLine[32];
  FormatSelection(s.diskNumber, s.partitionNumber, diskLine, partitionLine);
  if (!WriteScript(s.diskWriter, s.diskScriptPath,
                   {diskLine, partitionLine, L"set id=0c override", L"active"})) {
    return AbortNotFound(s);
  }
  RunTool(s, kPartitionTool, kScriptParameters, s.diskWriter.path());
  // Windows presents the now visible partition's volume, and gives it a drive
  // letter, a moment after diskpart has ended: the letter to remove is only
  // there once the volume has arrived. Without automatic mounting it arrives
  // without one; if it does not arrive in time, the worker goes on as before.
  static_cast<void>(WaitForVolumeArrival(static_cast<std::uint32_t>(s.diskNumber), s.recoveryOffset));

  // The volume of the partition just made visible, and no other: a recovery
  // stick labelled RECOVERY is never the one.
  if (FindRecoveryVolumeAt(s.diskNumber, s.recoveryOffset, &s.partitionNumber, s.volumeRoot) !=
      kLocateFound) {
    return AbortAndUndo(s, before);
  }

  // "E:\" gives "E"; an empty root an empty letter.
  std::size_t rootLength = std::wcslen(s.volumeRoot);
  std::size_t letterLength = rootLength >= 2 ? rootLength - 2 : 0;
  for (std::size_t i = 0; i < letterLength; ++i) s.letter[i] = s.volumeRoot[i];
  s.letter[letterLength] = L'\0';

  FormatSelection(s.diskNumber, s.partitionNumber, diskLine, partitionLine);
  if (!FormatCommand(s, L"remove letter=%ls noerr", s.letter) ||
      !WriteScript(s.diskWriter, s.diskScriptPath, {diskLine, partitionLine, s.command})) {
    return AbortAndUndo(s, before);
  }
  RunTool(s, kPartitionTool, kScriptParameters, s.diskWriter.path());
  KeepRecoveryVolumeOutOfReach(s);
  return 0;
}

}  // namespace

std::uint32_t RecoveryWorker(void* /*parameter*/) {
  if (Sys().system->StdOutputInvalid()) return 1;

  // A protected machine is never armed, not even when the box telling the
  // user so cannot be shown.
  if (IsVolumeProtected() == 1) return Abort(kBitLockerMessage);

  WorkerState s;
  if (!WindowsPath(kBatchName, s.batchPath, kPathChars) ||
      !WindowsPath(kEnumName, s.enumPreferred, kPathChars) ||
      !WindowsPath(kDiskScriptName, s.diskScriptPath, kPathChars)) {
    return Abort(kNotFoundMessage);
  }

  LocateDetail found;
  if (FindRecoveryPartition(&s.partitionNumber, &s.diskNumber, &found) != kLocateFound)
    return Abort(kNotFoundMessage);
  s.recoveryOffset = found.foundOffset;

  std::uint32_t aborted =
      QueryPartitionStyle(s.diskNumber) == kStyleMbr ? PartitionTableRoute(s) : BootManagerRoute(s);
  if (aborted != 0) return aborted;

  DeleteTemporaryFiles(s);
  RunFwModeTool(true);
  RunSystemTool(kRestartTool, L"-r -t 10", kShown);
  Sys().ui->PostDestroy(g_mainWindow);
  return 0;
}

}  // namespace tavu
