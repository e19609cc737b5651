#include "check/verdict.h"

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

void AbortWith(CheckFacts& f, const wchar_t* message, ReasonCode code, std::uint32_t error = 0) {
  f.ready = false;
  f.abortMessage = message;
  f.reasonCode = code;
  f.decidingError = error;
}

ReasonCode ArmedCode(const CheckFacts& f) { return f.halfArmed ? ReasonCode::HalfArmed : ReasonCode::Armed; }

const wchar_t* ProtectionWord(std::int32_t status) {
  return status == 1 ? L"protection on" : status == 2 ? L"protection unknown, for example locked" : L"";
}

void BitLocker(CheckFacts& f) {
  AbortWith(f, kBitLockerMessage, ReasonCode::BitLockerProtected);
  const wchar_t* volume = L"a volume";
  std::int32_t status = 1;
  for (std::size_t i = 0; i < f.bitlocker.count && i < ProtectionReport::kRoom; ++i) {
    const ProtectionReport::Volume& v = f.bitlocker.volumes[i];
    if (v.asked && (v.status == 1 || v.status == 2)) {
      volume = v.letter[0] != L'\0' ? v.letter : v.deviceId;
      status = v.status;
      break;
    }
  }
  FormatBounded(
      f.reason, kLongTextChars,
      L"BitLocker reports protection status %d (%ls) for %ls. The launcher reads only the protection status, "
      L"so suspending protection for one restart is enough: manage-bde -protectors -disable "
      L"C: -rc 1.",
      static_cast<int>(status), ProtectionWord(status), volume);
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
}

// What the armed entry would start: the launcher's own refusal, in words.
void ImageRefused(CheckFacts& f) {
  const RecoveryImageFacts& i = f.image;
  wchar_t error[kPathChars];
  if (i.image == FileState::Missing) {
    AbortWith(f, kNotFoundMessage, ReasonCode::ImageMissing, i.imageError);
    DescribeError(f.errorTexts, i.imageError, error, kPathChars);
    FormatBounded(
        f.reason, kLongTextChars,
        L"The recovery image %ls that entry %ls starts is missing (Windows error %ls). Put Winre.wim back "
        L"there (from the Windows installation media), then run reagentc /disable and reagentc "
        L"/enable.",
        i.imagePath, f.entryId, error);
  } else if (i.image == FileState::NotAWim) {
    AbortWith(f, kNotFoundMessage, ReasonCode::ImageNotWim);
    FormatBounded(
        f.reason, kLongTextChars,
        L"The recovery image %ls that entry %ls starts is not a WIM file (no MSWIM header of 208 bytes). "
        L"Replace it with Windows' own Winre.wim, then run reagentc /disable and reagentc /enable.",
        i.imagePath, f.entryId);
  } else {
    AbortWith(f, kNotFoundMessage, ReasonCode::SdiMissing, i.sdiError);
    DescribeError(f.errorTexts, i.sdiError, error, kPathChars);
    FormatBounded(f.reason, kLongTextChars,
                  L"boot.sdi, which the recovery image needs to start, is missing at %ls (Windows error "
                  L"%ls). Copy C:\\Windows\\Boot\\DVD\\EFI\\boot.sdi to that place.",
                  i.sdiPath, error);
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
  } else if (!f.entryFound) {
    AbortWith(f, kNotFoundMessage, ReasonCode::NoRecoveryEntry);
    if (f.windowsRe.file == ReAgentFile::Present && f.windowsRe.xml.installState == 0) {
      f.reasonCode = ReasonCode::WinreDisabled;
      CopyBounded(
          f.reason, kLongTextChars,
          L"Windows RE is disabled: no entry of the bcdedit /enum all listing starts Winre.wim, and "
          L"ReAgent.xml says InstallState 0. Run reagentc /enable as administrator, then check again.");
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
