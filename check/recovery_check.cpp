#include "check/recovery_check.h"

#include "check/verdict.h"
#include "common/claimed_file.h"
#include "common/com_api.h"
#include "common/disk_api.h"
#include "common/file_api.h"
#include "common/in_use_retry.h"
#include "common/platform.h"
#include "common/system_folders.h"
#include "common/unique_handle.h"
#include "launcher/arming/script_writer.h"
#include "launcher/services/firmware_device.h"
#include "launcher/services/scheduled_task.h"
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
  ScriptWriter batch;
  f.listingCaptured =
      WindowsPath(kCheckBatchName, batchPreferred, kPathChars) &&
      WindowsPath(kCheckListingName, listingPreferred, kPathChars) &&
      ClaimAdminsOnlyFile(listingPreferred, kForeignFileWaitMilliseconds, listingPath, kPathChars) &&
      FormatBounded(command, kPathChars, L"bcdedit /enum all > \"%ls\"", listingPath) >= 0 &&
      batch.Create(batchPreferred) && batch.AppendLine(L"@ECHO OFF") && batch.AppendLine(command);
  if (f.listingCaptured) {
    wchar_t parameters[kPathChars];
    // /d: the owner's AutoRun command is not to run with the check's rights.
    FormatBounded(parameters, kPathChars, L"/d /c \"%ls\"", batch.path());
    RunSystemTool(L"cmd.exe", parameters, 0);
    f.listingRead = ReadListing(listingPath, listing);
  }
  // A scanner may hold them a while after the command processor read them.
  for (const wchar_t* path : {batch.path(), static_cast<const wchar_t*>(listingPath)}) {
    if (path[0] != L'\0') (void)RetryWhileOwnFileInUse([path] { return Sys().files->Remove(path); });
  }
}

void BootManagerRoute(CheckFacts& f) {
  ListingLines listing;
  CaptureListing(f, &listing);
  if (!f.listingRead) return;
  f.listingLines = listing.size();
  f.entryFound = FindRecoveryEntryId(listing, f.entryId);
  ReadBootManager(listing, &f.bootManager);
  if (!f.entryFound) return;
  ReadEntryLines(listing, f.entryId, f.entryDescription, f.entryDevice);
  // The launcher's own test of what the entry would start; it only reads.
  f.imageResolved = ResolveRecoveryImage(listing, f.entryId, &f.image);
  if (f.imageResolved) TestRecoveryImage(&f.image);
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

// Whether the next start goes into recovery as the launcher arms it: the boot
// manager's custom action and menu (boot-manager route), or a recovery
// partition made visible and active (partition-table route).
void Armed(CheckFacts& f) {
  if (f.route == Route::BootManager) {
    f.armedNow = BootManagerArmed(f.bootManager);
    return;
  }
  // Once made visible the partition no longer carries the recovery marker, so
  // the locator passes it over; the disks show what was done to it.
  if (f.route == Route::None && FindMbrArmedPartition(&f.mbrArmed)) {
    f.armedNow = f.taskRegistered;
    f.halfArmed = !f.taskRegistered;
    f.reachAsked = true;
    f.reach = QueryVolumeReach(static_cast<std::uint32_t>(f.mbrArmed.disk), f.mbrArmed.offset);
  }
}

}  // namespace

void RunCheck(CheckFacts* facts) {
  CheckFacts& f = *facts;
  f.manufacturerAccepted = CheckManufacturer(f.manufacturer) == 1;
  ReadAbout(&f.about);
  Firmware(f);
  f.bitlockerResult = IsVolumeProtected(&f.bitlocker);
  f.windows64 = Is64BitWindows() == 1;
  f.partitionResult = FindRecoveryPartition(&f.partitionNumber, &f.partitionDisk, &f.partitionDetail);
  if (f.partitionResult == kLocateFound) {
    f.styleAsked = true;
    f.styleResult = QueryPartitionStyle(f.partitionDisk, &f.styleDetail);
    // As the worker: MBR takes the partition table, anything else the boot manager.
    f.route = f.styleResult == kStyleMbr ? Route::PartitionTable : Route::BootManager;
    if (f.route == Route::BootManager) {
      BootManagerRoute(f);
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
  Armed(f);
  for (std::uint32_t error : {f.partitionDetail.error, f.volumeDetail.error, f.image.imageError,
                              f.image.sdiError, f.windowsRe.error}) {
    f.errorTexts.Add(error);
  }
  DecideVerdict(f);
}

}  // namespace tavu::check
