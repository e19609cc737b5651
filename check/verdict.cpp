#include "check/verdict.h"

#include "check/report_words.h"
#include "common/win_errors.h"

namespace tavu::check {

namespace {

constexpr wchar_t kNotFoundMessage[] =
    L"Recovery partition cannot be found! Recovery process is aborted. Please contact TAVU Service Center "
    L"for further assistance.";
constexpr wchar_t kBitLockerMessage[] = L"Please disable BitLocker and try again.";
constexpr wchar_t kPendingMessage[] =
    L"The recovery was prepared before and is not undone yet. Recovery process is aborted. Restart the "
    L"computer, or run \"TAVU Recovery.exe\" /DISABLE, and try again.";

// What the maker's service does, one sentence for each case only it can mend.
constexpr wchar_t kServiceRestoresPartition[] =
    L" TAVU Service Center restores the recovery partition and its Windows RE from the notebook's factory "
    L"image.";
constexpr wchar_t kServiceRestoresManufacturer[] =
    L" TAVU Service Center writes the manufacturer back into the firmware (a replaced mainboard often "
    L"reports \"To Be Filled By O.E.M.\"), after which the launcher runs.";

void AbortWith(CheckFacts& f, const wchar_t* message, ReasonCode code, std::uint32_t error = 0) {
  f.ready = false;
  f.abortMessage = message;
  f.reasonCode = code;
  f.decidingError = error;
}

// "C: (disk 0, partition 3)", or the volume's name where it has no letter,
// and "disk ?" where its place is not known.
void VolumeText(const CheckFacts& f, std::size_t i, wchar_t* out, std::size_t capacity) {
  const ProtectionReport::Volume& v = f.bitlocker.volumes[i];
  const VolumePlace& p = f.bitlockerPlace[i];
  const wchar_t* name = v.letter[0] != L'\0' ? v.letter : v.deviceId;
  if (!p.found) {
    FormatBounded(out, capacity, L"%ls (disk and partition unknown)", name);
  } else if (p.partition == 0) {
    FormatBounded(out, capacity, L"%ls (disk %d)", name, static_cast<int>(p.disk));
  } else {
    FormatBounded(out, capacity, L"%ls (disk %d, partition %d)", name, static_cast<int>(p.disk),
                  static_cast<int>(p.partition));
  }
}

ReasonCode ArmedCode(const CheckFacts& f) { return f.halfArmed ? ReasonCode::HalfArmed : ReasonCode::Armed; }

// Every volume BitLocker protects or keeps locked, each by letter, disk and
// partition, and the commands in the order they must run: a locked volume is
// unlocked first; suspending for a count of restarts applies to the Windows
// volume alone.
void BitLocker(CheckFacts& f) {
  bool locked = false;
  for (std::size_t i = 0; i < f.bitlocker.count && i < ProtectionReport::kRoom; ++i)
    locked = locked || (f.bitlocker.volumes[i].asked && f.bitlocker.volumes[i].status == 2);
  AbortWith(f, kBitLockerMessage, locked ? ReasonCode::BitLockerLocked : ReasonCode::BitLockerProtected);
  wchar_t facts[kLongTextChars] = {};
  wchar_t unlock[kLongTextChars] = {};
  wchar_t suspend[kLongTextChars] = {};
  bool unasked = false;
  for (std::size_t i = 0; i < f.bitlocker.count && i < ProtectionReport::kRoom; ++i) {
    const ProtectionReport::Volume& v = f.bitlocker.volumes[i];
    if (v.asked && v.status != 1 && v.status != 2) continue;
    wchar_t volume[kPathChars];
    wchar_t part[kPathChars];
    VolumeText(f, i, volume, kPathChars);
    const wchar_t* name = v.letter[0] != L'\0' ? v.letter : v.deviceId;
    if (!v.asked) {
      unasked = true;
      FormatBounded(part, kPathChars, L"%ls%ls: its protection status could not be asked",
                    facts[0] != L'\0' ? L"; " : L"", volume);
    } else {
      FormatBounded(part, kPathChars, L"%ls%ls: %ls (status %d)", facts[0] != L'\0' ? L"; " : L"", volume,
                    v.status == 2 ? L"locked" : L"protected", static_cast<int>(v.status));
    }
    AppendBounded(facts, kLongTextChars, part);
    if (v.asked && v.status == 2) {
      FormatBounded(part, kPathChars, L"%lsmanage-bde -unlock %ls -RecoveryPassword <its recovery key>",
                    unlock[0] != L'\0' ? L", then " : L"", name);
      AppendBounded(unlock, kLongTextChars, part);
    }
    if (v.asked) {
      const bool windows = EqualsIgnoreAsciiCase(v.letter, L"C:");
      FormatBounded(part, kPathChars, L"%lsmanage-bde -protectors -disable %ls%ls",
                    suspend[0] != L'\0' ? L", then " : L"", name, windows ? L" -rc 1" : L"");
      AppendBounded(suspend, kLongTextChars, part);
    }
  }
  if (facts[0] == L'\0') {
    CopyBounded(f.reason, kLongTextChars,
                L"BitLocker's protection status could not be asked (Win32_EncryptableVolume did not answer): "
                L"the launcher refuses. Run manage-bde -status as administrator to see each volume's "
                L"state.");
    return;
  }
  wchar_t todo[kLongTextChars] = {};
  if (unlock[0] != L'\0') {
    FormatBounded(todo, kLongTextChars, L" First unlock: %ls.", unlock);
  }
  if (suspend[0] != L'\0') {
    wchar_t part[kLongTextChars];
    FormatBounded(part, kLongTextChars,
                  L" %ls protection (the launcher reads only the protection status): %ls.",
                  unlock[0] != L'\0' ? L"Then suspend" : L"Suspend", suspend);
    AppendBounded(todo, kLongTextChars, part);
  }
  if (unasked) {
    AppendBounded(todo, kLongTextChars, L" Where the status could not be asked, run manage-bde -status.");
  }
  FormatBounded(f.reason, kLongTextChars, L"BitLocker: %ls.%ls", facts, todo);
}

// The launcher arms nothing while a file lies at its journal's place: a
// journal is an arming not undone yet, and anything else there is no file to
// trust or to overwrite.
void Pending(CheckFacts& f) {
  AbortWith(f, kPendingMessage,
            f.journalState == JournalState::Present     ? ArmedCode(f)
            : f.journalState == JournalState::Untrusted ? ReasonCode::JournalUntrusted
                                                        : ReasonCode::JournalUnreadable);
  if (f.journalState == JournalState::Present) {
    FormatBounded(
        f.reason, kLongTextChars,
        L"The journal of an earlier arming lies at %ls: the launcher arms nothing until that arming is "
        L"undone. Restart the computer (the logon task undoes it), or run %ls.",
        f.journalPath, f.undoCommand);
  } else {
    FormatBounded(
        f.reason, kLongTextChars,
        L"The file at the journal's place, %ls, %ls: the launcher arms nothing, and /DISABLE leaves it "
        L"alone. An administrator has to look at it and remove it.",
        f.journalPath,
        f.journalState == JournalState::Untrusted
            ? L"is not one the launcher trusts (a link, a folder, or a file that someone other than an "
              L"administrator owns or may change)"
            : L"cannot be read or is not a whole journal");
  }
}

void NoPartition(CheckFacts& f) {
  AbortWith(f, kNotFoundMessage, ReasonCode::NoRecoveryPartition);
  wchar_t error[kPathChars];
  if (f.partitionResult == kLocateFailed) {
    // No memory for the table is, to a fleet, one more table that could not be read.
    f.reasonCode = ReasonCode::PartitionTableUnreadable;
    f.decidingError = f.partitionDetail.failedDisk < 0 ? kErrorNotEnoughMemory : f.partitionDetail.error;
    if (f.partitionDetail.failedDisk < 0) {
      CopyBounded(f.reason, kLongTextChars,
                  L"There was no memory for the answer of a disk's partition table.");
    } else {
      DescribeError(f.errorTexts, f.partitionDetail.error, error, kPathChars);
      FormatBounded(f.reason, kLongTextChars,
                    L"The partition table of disk %d could not be read (Windows error %ls).",
                    static_cast<int>(f.partitionDetail.failedDisk), error);
    }
    return;
  }
  const MbrPartitionState& m = f.mbrArmed;
  if (m.found) {
    f.reasonCode = ArmedCode(f);
    FormatBounded(f.reason, kLongTextChars,
                  L"The recovery partition (disk %d, partition %d) is already visible (type 0x%02X) and "
                  L"active, and the Windows partition %d is not active: %ls",
                  static_cast<int>(m.disk), static_cast<int>(m.partition), static_cast<unsigned>(m.type),
                  static_cast<int>(m.windowsPartition),
                  f.halfArmed
                      ? L"an earlier run stopped half-way. The next start boots the recovery partition with "
                        L"nothing armed around it; to undo it, run diskpart: sel disk, sel par (the recovery "
                        L"partition), set id=1c override, then sel par (the Windows partition), active."
                      : L"the machine is armed already; the next start goes into recovery.");
    return;
  }
  FormatBounded(f.reason, kLongTextChars,
                L"None of the %d disk(s) searched has a recovery partition (GPT type Windows RE, or MBR type "
                L"0x1B or 0x1C).",
                static_cast<int>(f.partitionDetail.disksOpened));
  const TicketFacts& t = f.ticket;
  if (t.loaderWithoutPartition) {
    if (f.reasonCode == ReasonCode::NoRecoveryPartition) f.reasonCode = ReasonCode::WinreOnWindowsVolume;
    wchar_t part[kLongTextChars];
    FormatBounded(
        part, kLongTextChars,
        L" Windows RE lives elsewhere: the listing's recovery loader %ls starts %ls, not a recovery "
        L"partition, and the launcher needs Windows RE on a recovery partition.",
        t.loaderId, t.loaderDevice[0] != L'\0' ? t.loaderDevice : L"an image of no listed device");
    AppendBounded(f.reason, kLongTextChars, part);
  }
  AppendBounded(f.reason, kLongTextChars, kServiceRestoresPartition);
}

// What the armed entry would start: the launcher's own refusal, in words.
void ImageRefused(CheckFacts& f) {
  const RecoveryImageFacts& i = f.image;
  wchar_t error[kPathChars];
  const TicketFacts& t = f.ticket;
  const WindowsReFacts& w = f.windowsRe;
  wchar_t where[kPathChars] = {};
  PlaceText(t.entryPlace, where, kPathChars);
  // reagentc /disable then /enable writes the entry anew from ReAgent.xml, so
  // where the two name different volumes the entry's own volume is no guide.
  const bool disagree = (i.image == FileState::Missing || i.image == FileState::NotAWim) && w.locationFound &&
                        t.entryPlace.found &&
                        (t.entryPlace.disk != w.disk || t.entryPlace.partition != w.partition);
  if (disagree) {
    AbortWith(f, kNotFoundMessage, ReasonCode::WinreLocationMismatch,
              i.image == FileState::Missing ? i.imageError : 0);
    wchar_t location[kPathChars];
    if (t.locationPlace.found) {
      PlaceText(t.locationPlace, location, kPathChars);
      AppendBounded(location, kPathChars, L", ");
      AppendBounded(location, kPathChars, t.locationPlace.volume);
    } else {
      FormatBounded(location, kPathChars, L"disk %d, partition %d", static_cast<int>(w.disk),
                    static_cast<int>(w.partition));
    }
    FormatBounded(
        f.reason, kLongTextChars,
        L"The entry %ls and ReAgent.xml disagree: the entry starts %ls on %ls, where it is %ls, while "
        L"ReAgent.xml's WinreLocation names %ls%ls.",
        f.entryId, i.imagePath, where, i.image == FileState::Missing ? L"missing" : L"not a WIM file",
        location,
        t.locationImage == Presence::Present   ? L", where Winre.wim is present"
        : t.locationImage == Presence::Missing ? L", where Winre.wim is missing too"
                                               : L"");
    AppendBounded(
        f.reason, kLongTextChars,
        t.locationImage == Presence::Missing
            ? L" Put Winre.wim (from the Windows installation media) into that folder first, then run "
              L"reagentc /disable, then reagentc /enable, so that Windows makes the entry anew from "
              L"ReAgent.xml."
            : L" Run reagentc /disable, then reagentc /enable, so that Windows makes the entry anew "
              L"from ReAgent.xml.");
  } else if (i.image == FileState::Missing) {
    AbortWith(f, kNotFoundMessage, ReasonCode::ImageMissing, i.imageError);
    DescribeError(f.errorTexts, i.imageError, error, kPathChars);
    FormatBounded(
        f.reason, kLongTextChars,
        L"The recovery image %ls (%ls) that entry %ls starts is missing (Windows error %ls). Put Winre.wim "
        L"back there (from the Windows installation media), then run reagentc /disable and reagentc "
        L"/enable.",
        i.imagePath, where, f.entryId, error);
  } else if (i.image == FileState::NotAWim) {
    AbortWith(f, kNotFoundMessage, ReasonCode::ImageNotWim);
    wchar_t why[kPathChars];
    if (i.cut != WimCut::None) {
      FormatBounded(
          why, kPathChars,
          L"its header places its %ls beyond the end of the file (%llu bytes): the file was cut short",
          WimCutWord(i.cut), static_cast<unsigned long long>(i.imageSize));
    } else {
      CopyBounded(why, kPathChars, L"no MSWIM header of 208 bytes");
    }
    FormatBounded(f.reason, kLongTextChars,
                  L"The recovery image %ls (%ls) that entry %ls starts is not a WIM file (%ls). Replace it "
                  L"with Windows' "
                  L"own Winre.wim, then run reagentc /disable and reagentc /enable.",
                  i.imagePath, where, f.entryId, why);
  } else {
    AbortWith(f, kNotFoundMessage, ReasonCode::SdiMissing, i.sdiFault != SdiFault::None ? 0 : i.sdiError);
    wchar_t sdiWhere[kPathChars];
    PlaceText(t.sdiPlace, sdiWhere, kPathChars);
    if (i.sdiFault != SdiFault::None) {
      FormatBounded(
          f.reason, kLongTextChars,
          L"boot.sdi, which the recovery image needs to start, is unusable at %ls (%ls): %ls, so it "
          L"counts as missing. Copy C:\\Windows\\Boot\\DVD\\EFI\\boot.sdi to that place.",
          i.sdiPath, sdiWhere,
          i.sdiFault == SdiFault::Empty ? L"it is empty" : L"it does not start with the signature $SDI0001");
    } else {
      DescribeError(f.errorTexts, i.sdiError, error, kPathChars);
      FormatBounded(
          f.reason, kLongTextChars,
          L"boot.sdi, which the recovery image needs to start, is missing at %ls (%ls; Windows error "
          L"%ls). Copy C:\\Windows\\Boot\\DVD\\EFI\\boot.sdi to that place.",
          i.sdiPath, sdiWhere, error);
    }
  }
}

void BootManagerRoute(CheckFacts& f) {
  if (!f.listingCaptured) {
    AbortWith(f, kNotFoundMessage, ReasonCode::ListingNotMade);
    CopyBounded(f.reason, kLongTextChars,
                L"The files for the boot configuration listing could not be made in C:\\Windows\\Temp.");
  } else if (!f.listingRead) {
    AbortWith(f, kNotFoundMessage, ReasonCode::ListingUnreadable);
    CopyBounded(f.reason, kLongTextChars, L"The listing of bcdedit /enum all could not be read.");
  } else if (!f.bootManager.found) {
    // Not a listing at all: an error message, or nothing.
    AbortWith(f, kNotFoundMessage, ReasonCode::ListingInvalid);
    wchar_t said[kPathChars];
    if (f.listingFirstLine[0] != L'\0') {
      FormatBounded(said, kPathChars, L"its first line reads \"%ls\"", f.listingFirstLine);
    } else {
      CopyBounded(said, kPathChars, L"it printed nothing");
    }
    FormatBounded(
        f.reason, kLongTextChars,
        L"bcdedit /enum all printed no listing of the boot configuration (no {bootmgr} entry); %ls. "
        L"The launcher would find no recovery entry in it. Resolve what bcdedit reports; for a ticket, "
        L"capture it with `bcdedit /enum all > listing.txt` in an elevated cmd.exe (Run as administrator).",
        said);
  } else if (!f.entryFound) {
    AbortWith(f, kNotFoundMessage, ReasonCode::NoRecoveryEntry);
    if (f.windowsRe.file == ReAgentFile::Present && f.windowsRe.xml.installState == 0) {
      f.reasonCode = ReasonCode::WinreDisabled;
      const Presence image = f.ticket.system32Image;
      FormatBounded(
          f.reason, kLongTextChars,
          L"Windows RE is disabled: no entry of the bcdedit /enum all listing starts Winre.wim, and "
          L"ReAgent.xml says InstallState 0. %ls",
          image == Presence::Present
              ? L"Its image waits at C:\\Windows\\System32\\Recovery\\Winre.wim: run reagentc /enable as "
                L"administrator, then check again."
          : image == Presence::Missing
              ? L"C:\\Windows\\System32\\Recovery\\Winre.wim is missing, so reagentc /enable cannot work: "
                L"copy Winre.wim from the Windows installation media (it lies inside sources\\install.wim) "
                L"into C:\\Windows\\System32\\Recovery first, then run reagentc /enable as administrator."
              : L"Whether C:\\Windows\\System32\\Recovery\\Winre.wim is there could not be told; reagentc "
                L"/enable needs it. Run reagentc /enable as administrator, then check again.");
    } else {
      FormatBounded(f.reason, kLongTextChars,
                    L"No entry of the bcdedit /enum all listing (%d lines) is followed by a line naming "
                    L"\\Recovery\\WindowsRE\\Winre.wim.",
                    static_cast<int>(f.listingLines));
    }
  } else if (f.imageResolved && RecoveryImageRefused(f.image)) {
    ImageRefused(f);
  }
}

void PartitionTableRoute(CheckFacts& f) {
  wchar_t error[kPathChars];
  if (f.signatureResult == kLocateFound && !f.signaturePresent) {
    AbortWith(f, kNotFoundMessage, ReasonCode::NoBootSignature);
    FormatBounded(
        f.reason, kLongTextChars,
        L"The first sector of the recovery partition (disk %d, partition %d) does not end with the boot "
        L"signature 0x55 0xAA, so it cannot start: the launcher will not make it active. The maker's "
        L"recovery partition has to be restored.",
        static_cast<int>(f.partitionDisk), static_cast<int>(f.partitionNumber));
  } else if (f.volumeResult == kLocateFailed) {
    AbortWith(f, kNotFoundMessage, ReasonCode::PartitionTableUnreadable, f.volumeDetail.error);
    DescribeError(f.errorTexts, f.volumeDetail.error, error, kPathChars);
    FormatBounded(f.reason, kLongTextChars,
                  L"The partition table of disk %d could not be read while looking for the volume labelled "
                  L"Recovery (Windows error %ls).",
                  static_cast<int>(f.volumeDetail.failedDisk), error);
  } else if (f.volumeResult != kLocateFound) {
    AbortWith(f, kNotFoundMessage, ReasonCode::RecoveryLabelUnreadable);
    if (f.rawLabelResult == kLocateFound) {
      f.reasonCode = ReasonCode::RecoveryLabelWrong;
      FormatBounded(
          f.reason, kLongTextChars,
          L"The recovery partition (disk %d, partition %d) is labelled \"%ls\", not Recovery: "
          L"the launcher would make it visible, not find it by that label, put the table back and stop.",
          static_cast<int>(f.partitionDisk), static_cast<int>(f.partitionNumber), f.rawLabel);
    } else {
      FormatBounded(f.reason, kLongTextChars,
                    L"The label of the recovery partition (disk %d, partition %d) cannot be read: the "
                    L"launcher would make it visible, not find it, put the table back and stop.",
                    static_cast<int>(f.partitionDisk), static_cast<int>(f.partitionNumber));
    }
  }
}

}  // namespace

void DecideVerdict(CheckFacts& f) {
  f.ready = true;
  f.reasonCode = ReasonCode::None;
  f.decidingError = 0;
  if (!f.manufacturerAccepted) {
    AbortWith(f, kNotFoundMessage, ReasonCode::ManufacturerRefused);
    FormatBounded(f.reason, kLongTextChars,
                  L"WMI reports the manufacturer \"%ls\", which does not contain TAVU: the launcher refuses "
                  L"to run on this machine.",
                  f.manufacturer);
    AppendBounded(f.reason, kLongTextChars, kServiceRestoresManufacturer);
  } else if (f.bitlockerResult == 1) {
    BitLocker(f);
  } else if (f.journalState != JournalState::Absent) {
    Pending(f);
  } else if (f.partitionResult != kLocateFound) {
    NoPartition(f);
  } else if (f.route == Route::BootManager) {
    BootManagerRoute(f);
  } else {
    PartitionTableRoute(f);
  }
  // The launcher would arm, but the machine starts elsewhere already.
  if (f.ready && f.armedNow) f.reasonCode = ArmedCode(f);
}

}  // namespace tavu::check
