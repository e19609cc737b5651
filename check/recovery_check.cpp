#include "check/recovery_check.h"

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

constexpr wchar_t kNotFoundMessage[] =
    L"Recovery partition cannot be found! Recovery process is aborted. Please contact TAVU Service Center "
    L"for further assistance.";
constexpr wchar_t kBitLockerMessage[] = L"Please disable BitLocker and try again.";
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
}

int RawLabel(std::int32_t diskNumber, std::int64_t offset, wchar_t* label) {
  wchar_t name[32];
  PhysicalDriveName(diskNumber, name);
  UniqueHandle disk(Sys().disks->OpenDisk(name, false));
  if (!disk) return kLocateFailed;
  return ReadVolumeLabel(disk.get(), label, offset);
}

// The worker first makes the recovery partition visible, then searches the
// disks for a volume labelled Recovery from scratch. The partition's own label,
// read raw, tells whether it will be found then; a volume found already comes
// first unless the recovery partition lies before it.
void PartitionTableRoute(CheckFacts& f) {
  f.rawLabelResult = RawLabel(f.partitionDisk, f.partitionDetail.foundOffset, f.rawLabel);
  bool labelled = f.rawLabelResult == kLocateFound && EqualsIgnoreAsciiCase(f.rawLabel, kRecoveryLabel);
  wchar_t root[kPathChars] = {};
  f.volumeAsked = true;
  f.volumeResult = FindRecoveryVolume(&f.volumeDisk, &f.volumePartition, root, &f.volumeDetail);
  bool partitionFirst = f.volumeResult != kLocateFound || f.partitionDisk < f.volumeDisk ||
                        (f.partitionDisk == f.volumeDisk && f.partitionNumber < f.volumePartition);
  if (f.volumeResult == kLocateFound && !(labelled && partitionFirst)) {
    // A label that cannot be read stays empty in the report.
    (void)RawLabel(f.volumeDisk, f.volumeDetail.foundOffset, f.volumeLabel);
    return;
  }
  if (f.volumeResult == kLocateFailed) return;
  // Nothing else is labelled Recovery, or the recovery partition comes first.
  f.volumeResult = labelled ? kLocateFound : kLocateNotFound;
  f.volumeDisk = f.partitionDisk;
  f.volumePartition = f.partitionNumber;
  CopyBounded(f.volumeLabel, kVolumeLabelChars, f.rawLabel);
}

void FwModeTool(CheckFacts& f) {
  wchar_t pattern[kPathChars];
  if (FormatBounded(pattern, kPathChars, L"%ls\\FwMode*.exe", kLauncherFolder) >= 0) {
    UniqueFind search(Sys().files->FindFirst(pattern));
    f.fwModeMatch = static_cast<bool>(search);
  }
  f.fwModeExists = Sys().files->Exists(kFwModePath);
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

void AbortWith(CheckFacts& f, const wchar_t* message) {
  f.ready = false;
  f.abortMessage = message;
}

const wchar_t* ProtectionWord(std::int32_t status) {
  return status == 1 ? L"protection on" : status == 2 ? L"protection unknown, for example locked" : L"";
}

// The first abort the launcher would meet, with one plain sentence.
void Verdict(CheckFacts& f) {
  f.ready = true;
  if (!f.manufacturerAccepted) {
    AbortWith(f, kNotFoundMessage);
    FormatBounded(f.reason, kLongTextChars,
                  L"WMI reports the manufacturer \"%ls\", which does not contain TAVU: the launcher refuses "
                  L"to run on this machine.",
                  f.manufacturer);
    return;
  }
  if (f.bitlockerResult == 1) {
    AbortWith(f, kBitLockerMessage);
    const wchar_t* device = L"a volume";
    std::int32_t status = 1;
    for (std::size_t i = 0; i < f.bitlocker.count && i < ProtectionReport::kRoom; ++i) {
      const ProtectionReport::Volume& v = f.bitlocker.volumes[i];
      if (v.asked && (v.status == 1 || v.status == 2)) {
        device = v.deviceId;
        status = v.status;
        break;
      }
    }
    FormatBounded(f.reason, kLongTextChars, L"BitLocker reports protection status %d (%ls) for %ls.",
                  static_cast<int>(status), ProtectionWord(status), device);
    return;
  }
  if (f.partitionResult == kLocateFailed) {
    AbortWith(f, kNotFoundMessage);
    if (f.partitionDetail.failedDisk < 0) {
      CopyBounded(f.reason, kLongTextChars,
                  L"There was no memory for the answer of a disk's partition table.");
    } else {
      FormatBounded(
          f.reason, kLongTextChars, L"The partition table of disk %d could not be read (Windows error %u).",
          static_cast<int>(f.partitionDetail.failedDisk), static_cast<unsigned>(f.partitionDetail.error));
    }
    return;
  }
  if (f.partitionResult != kLocateFound) {
    AbortWith(f, kNotFoundMessage);
    FormatBounded(f.reason, kLongTextChars,
                  L"None of the %d disk(s) searched has a recovery partition (GPT type Windows RE, or MBR "
                  L"type 0x1B or 0x1C).",
                  static_cast<int>(f.partitionDetail.disksOpened));
    return;
  }
  if (f.route == Route::BootManager) {
    if (!f.listingCaptured) {
      AbortWith(f, kNotFoundMessage);
      CopyBounded(f.reason, kLongTextChars,
                  L"The files for the boot configuration listing could not be made in C:\\Windows\\Temp.");
    } else if (!f.listingRead) {
      AbortWith(f, kNotFoundMessage);
      CopyBounded(f.reason, kLongTextChars, L"The listing of bcdedit /enum all could not be read.");
    } else if (!f.entryFound) {
      AbortWith(f, kNotFoundMessage);
      FormatBounded(f.reason, kLongTextChars,
                    L"No entry of the bcdedit /enum all listing (%d lines) is followed by a line naming "
                    L"\\Recovery\\WindowsRE\\Winre.wim.",
                    static_cast<int>(f.listingLines));
    }
    return;
  }
  if (f.volumeResult == kLocateFailed) {
    AbortWith(f, kNotFoundMessage);
    FormatBounded(f.reason, kLongTextChars,
                  L"The partition table of disk %d could not be read while looking for the volume labelled "
                  L"Recovery (Windows error %u).",
                  static_cast<int>(f.volumeDetail.failedDisk), static_cast<unsigned>(f.volumeDetail.error));
  } else if (f.volumeResult != kLocateFound) {
    AbortWith(f, kNotFoundMessage);
    if (f.rawLabelResult == kLocateFound) {
      FormatBounded(
          f.reason, kLongTextChars,
          L"The recovery partition (disk %d, partition %d) is labelled \"%ls\", not Recovery, and no "
          L"other volume is labelled Recovery.",
          static_cast<int>(f.partitionDisk), static_cast<int>(f.partitionNumber), f.rawLabel);
    } else {
      FormatBounded(
          f.reason, kLongTextChars,
          L"The label of the recovery partition (disk %d, partition %d) cannot be read, and no other "
          L"volume is labelled Recovery.",
          static_cast<int>(f.partitionDisk), static_cast<int>(f.partitionNumber));
    }
  }
}

}  // namespace

void RunCheck(CheckFacts* facts) {
  CheckFacts& f = *facts;
  f.manufacturerAccepted = CheckManufacturer(f.manufacturer) == 1;
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
  Verdict(f);
}

}  // namespace tavu::check
