#include "check/recovery_check.h"

#include "check/next_start_facts.h"
#include "check/verdict.h"
#include "common/claimed_file.h"
#include "common/com_api.h"
#include "common/disk_api.h"
#include "common/file_api.h"
#include "common/in_use_retry.h"
#include "common/pinned_file.h"
#include "common/platform.h"
#include "common/scratch_folder.h"
#include "common/system_folders.h"
#include "common/unique_handle.h"
#include "launcher/arming/mbr_layout.h"
#include "launcher/arming/recovery_device.h"
#include "launcher/arming/script_writer.h"
#include "launcher/services/firmware_device.h"
#include "launcher/services/scheduled_task.h"
#include "launcher/services/trusted_launcher.h"
#include "launcher/startup/globals.h"
#include "launcher/startup/process_runner.h"
#include "patcher/launcher_version.h"

namespace tavu::check {

namespace {

constexpr wchar_t kRecoveryLabel[] = L"Recovery";

void Firmware(CheckFacts& f) {
  FirmwareDeviceSession device;
  if (device) f.firmwareAsked = QueryRecoveryStatus(&f.firmwareStatus);
}

// bcdedit /enum all into a file of the check's own, made as the worker makes
// its listing file: fresh, and writable by Administrators and SYSTEM only.
void CaptureListing(CheckFacts& f, ListingLines* listing) {
  wchar_t command[kPathChars];
  wchar_t batchPreferred[kPathChars];
  wchar_t listingPreferred[kPathChars];
  wchar_t listingPath[kPathChars] = {};
  // In C:\Windows\Temp as Windows ships it, else in a folder of the check's own.
  ScratchFolder folder;
  ScriptWriter batch;
  PinnedFile held;
  f.listingCaptured =
      folder.Open() && folder.PathOf(kCheckBatchName, batchPreferred, kPathChars) &&
      folder.PathOf(kCheckListingName, listingPreferred, kPathChars) &&
      ClaimAdminsOnlyFile(listingPreferred, kForeignFileWaitMilliseconds, listingPath, kPathChars) &&
      FormatBounded(command, kPathChars, L"bcdedit /enum all > \"%ls\"", listingPath) >= 0 &&
      batch.Create(batchPreferred) && batch.AppendLine(L"@ECHO OFF") && batch.AppendLine(command) &&
      held.Pin(batch.path()) && held.OnlyAdminsChangeIt();
  if (f.listingCaptured) {
    wchar_t parameters[kPathChars];
    // /d: the owner's AutoRun command is not to run with the check's rights.
    FormatBounded(parameters, kPathChars, L"/d /c \"%ls\"", batch.path());
    RunSystemTool(L"cmd.exe", parameters, 0);
    f.listingRead = ReadListing(listingPath, listing);
  }
  held.Release();
  // A scanner may hold them a while after the command processor read them.
  for (const wchar_t* path : {batch.path(), static_cast<const wchar_t*>(listingPath)}) {
    if (path[0] != L'\0') (void)RetryWhileOwnFileInUse([path] { return Sys().files->Remove(path); });
  }
}

void BootManagerRoute(CheckFacts& f, const ListingLines& listing) {
  if (!f.listingRead) return;
  f.entryFound = FindRecoveryEntryId(listing, f.entryId);
  if (!f.entryFound) return;
  ReadEntryLines(listing, f.entryId, f.entryDescription, f.entryDevice);
  // The launcher's own test of what the entry would start; it only reads.
  f.imageResolved = ResolveRecoveryImage(listing, f.entryId, &f.image);
  if (f.imageResolved) TestRecoveryImage(&f.image);
  if (f.image.image == FileState::Present) f.imageVersion = ReadWimVersion(f.image.imagePath, f.image.header);
}

int RawLabel(std::int32_t diskNumber, std::int64_t offset, wchar_t* label) {
  wchar_t name[32];
  PhysicalDriveName(diskNumber, name);
  UniqueHandle disk(Sys().disks->OpenDisk(name, false));
  if (!disk) return kLocateFailed;
  return ReadVolumeLabel(disk.get(), label, offset);
}

// The worker first makes the recovery partition visible, then looks for its
// volume labelled Recovery; before that, its first sector must be bootable.
void PartitionTableRoute(CheckFacts& f) {
  f.signatureAsked = true;
  f.signatureResult = ReadBootSignature(f.partitionDisk, f.partitionDetail.foundOffset, &f.signaturePresent);
  (void)ReadMbrPartition(f.partitionDisk, f.partitionNumber, &f.mbrRecovery);
  f.rawLabelResult = RawLabel(f.partitionDisk, f.partitionDetail.foundOffset, f.rawLabel);
  bool labelled = f.rawLabelResult == kLocateFound && EqualsIgnoreAsciiCase(f.rawLabel, kRecoveryLabel);
  // After diskpart the worker looks only at this partition's own volume, so
  // its own label, read raw now, is what that search will find.
  f.volumeAsked = true;
  f.volumeResult = labelled ? kLocateFound : kLocateNotFound;
  f.volumeDisk = f.partitionDisk;
  f.volumePartition = f.partitionNumber;
  CopyBounded(f.volumeLabel, kVolumeLabelChars, f.rawLabel);
}

void FwModeTool(CheckFacts& f) {
  if (!ProgramFilesPath(L"TAVU\\TAVU Recovery Launcher", f.launcherFolder, kPathChars) ||
      !ProgramFilesPath(L"TAVU\\TAVU Recovery Launcher\\FwMode.exe", f.fwModePath, kPathChars)) {
    return;
  }
  wchar_t pattern[kPathChars];
  if (FormatBounded(pattern, kPathChars, L"%ls\\FwMode*.exe", f.launcherFolder) >= 0) {
    UniqueFind search(Sys().files->FindFirst(pattern));
    f.fwModeMatch = static_cast<bool>(search);
  }
  f.fwModeExists = Sys().files->Exists(f.fwModePath);
}

void InstalledLauncher(CheckFacts& f) {
  f.launcherInstalled =
      patcher::LauncherPath(L"", f.launcherPath, kPathChars) && Sys().files->Exists(f.launcherPath);
  if (!f.launcherInstalled) return;
  (void)patcher::GetFileVersion(f.launcherVersion, kPathChars);
  patcher::VersionList installed;
  patcher::VersionList threshold;
  patcher::ParseVersion(f.launcherVersion, &installed);
  patcher::ParseVersion(patcher::kThresholdVersion, &threshold);
  f.patcherWould =
      patcher::CompareVersion(installed, threshold) == -1 ? PatcherDecision::Replace : PatcherDecision::Keep;
}

// The journal the logon task and /DISABLE undo the arming from, beside the
// installed launcher, the one the task starts.
void Journal(CheckFacts& f) {
  wchar_t launcher[kPathChars];
  if (!InstalledLauncherPath(launcher, kPathChars) ||
      !JournalPathBeside(launcher, f.journalPath, kPathChars)) {
    return;
  }
  ArmingJournal journal;
  f.journalState = ReadJournalFile(f.journalPath, &journal);
  (void)FormatBounded(f.undoCommand, kPathChars, L"\"%ls\" /DISABLE", launcher);
}

// The recovery partition's entry in the table of the disk the firmware starts.
const MbrEntryFacts* StartDiskRecovery(const BootFacts& boot) {
  if (boot.style != StartDiskStyle::Mbr) return nullptr;
  for (const MbrEntryFacts& e : boot.mbr) {
    if (e.isRecoveryPartition) return &e;
  }
  return nullptr;
}

// Which parts of the arming the machine shows; with the journal, the logon
// task and the next start, whether it is armed, and whether whole.
void Armed(CheckFacts& f) {
  // Once made visible the partition no longer carries the recovery marker, so
  // the locator passes it over; the disks show what was done to it.
  if (f.route == Route::None && FindMbrArmedPartition(&f.mbrArmed)) {
    f.reachAsked = true;
    f.reach = QueryVolumeReach(static_cast<std::uint32_t>(f.mbrArmed.disk), f.mbrArmed.offset);
  }
  ArmingSeen& s = f.seen;
  s.customActions = CustomActionsArmed(f.bootManager);
  s.customEntry = f.bootManager.customEntryIsRecovery;
  s.displayOrder = f.bootManager.displayFirstIsRecovery;
  const MbrEntryFacts* recovery = StartDiskRecovery(f.bootFacts);
  s.partitionVisible =
      f.mbrArmed.found || (recovery != nullptr && recovery->type != mbr::kTypeHiddenFat32Chs &&
                           recovery->type != mbr::kTypeHiddenFat32Lba);
  s.partitionActive = f.mbrArmed.found || (recovery != nullptr && recovery->bootFlag == 0x80) ||
                      (f.route == Route::PartitionTable && f.mbrRecovery.active);
  const bool anySeen =
      s.customActions || s.customEntry || s.displayOrder || s.partitionVisible || s.partitionActive;
  const bool whole = BootManagerArmed(f.bootManager) || (s.partitionVisible && s.partitionActive);
  const bool journal = f.journalState == JournalState::Present;
  // A one-time boot sequence is Windows' own way into recovery (reagentc
  // /boottore), never the launcher's.
  const bool intoRecovery = f.nextStart.next == NextStart::Recovery && !f.nextStart.bootSequenceUsed;
  f.armedNow = journal || anySeen || intoRecovery;
  f.halfArmed = f.armedNow && !(journal && f.taskRegistered && whole);
}

}  // namespace

void RunCheck(CheckFacts* facts, const CheckOptions& options) {
  CheckFacts& f = *facts;
  f.manufacturerAccepted = CheckManufacturer(f.manufacturer) == 1;
  ReadAbout(&f.about);
  Firmware(f);
  f.bitlockerResult = IsVolumeProtected(&f.bitlocker);
  for (std::size_t i = 0; i < f.bitlocker.count && i < ProtectionReport::kRoom; ++i) {
    f.bitlockerPlace[i] = PlaceOfVolume(f.bitlocker.volumes[i].deviceId);
  }
  f.windows64 = Is64BitWindows() == 1;
  f.partitionResult = FindRecoveryPartition(&f.partitionNumber, &f.partitionDisk, &f.partitionDetail);
  // Whatever the route, the boot manager decides what starts next on a GPT
  // disk and behind the active partition of an MBR one.
  ListingLines listing;
  CaptureListing(f, &listing);
  if (f.listingRead) {
    f.listingLines = listing.size();
    ReadBootManager(listing, &f.bootManager);
    for (std::size_t i = 0; i < listing.size() && f.listingFirstLine[0] == L'\0'; ++i) {
      if (!IsBlankLine(listing.Line(i))) CopyLine(listing.Line(i), f.listingFirstLine, kPathChars);
    }
  }
  if (f.partitionResult == kLocateFound) {
    f.styleAsked = true;
    f.styleResult = QueryPartitionStyle(f.partitionDisk, &f.styleDetail);
    // As the worker: MBR takes the partition table, anything else the boot manager.
    f.route = f.styleResult == kStyleMbr ? Route::PartitionTable : Route::BootManager;
    if (f.route == Route::BootManager) {
      BootManagerRoute(f, listing);
    } else {
      PartitionTableRoute(f);
    }
  }
  FwModeTool(f);
  // The task operations enter an apartment of their own, as after the firmware-mode runner's un-initialise.
  if (g_comReady == 1) Sys().com->Uninitialize();
  f.taskRegistered = IsTaskRegistered(&f.taskFailure) == 1;
  InstalledLauncher(f);
  CheckTrust(&f.trust);
  ReadWindowsRe(&f.windowsRe);
  Journal(f);
  f.bootFacts = ReadBootFacts(listing);
  f.bootFacts.menuRule = options.menuRule;
  f.nextStart = DecideNextStart(f.bootFacts);
  Armed(f);
  ReadTicketFacts(f, listing);
  for (std::uint32_t error :
       {f.partitionDetail.error, f.volumeDetail.error, f.image.imageError, f.image.sdiError,
        f.windowsRe.error, static_cast<std::uint32_t>(f.bitlocker.failure),
        static_cast<std::uint32_t>(f.taskFailure)}) {
    f.errorTexts.Add(error);
  }
  DecideVerdict(f);
}

}  // namespace tavu::check
