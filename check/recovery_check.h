// The support check: every decision the launcher would take on this machine,
// asked through the launcher's and the patcher's own functions, in the
// launcher's order, with what each rests on. It changes nothing: it arms
// nothing, registers nothing, writes no log; the only program it starts is
// bcdedit /enum all (through cmd.exe, into a file of its own that it removes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "check/about.h"
#include "check/boot_manager.h"
#include "check/mbr_armed.h"
#include "check/reason_code.h"
#include "check/ticket_facts.h"
#include "check/trust_check.h"
#include "check/volume_place.h"
#include "check/wim_version.h"
#include "check/windows_re.h"
#include "common/next_start.h"
#include "common/volume_label.h"
#include "common/wide_text.h"
#include "launcher/arming/journal_file.h"
#include "launcher/arming/partition_locator.h"
#include "launcher/arming/recovery_entry.h"
#include "launcher/arming/recovery_image.h"
#include "launcher/arming/system_checks.h"
#include "launcher/arming/volume_offline.h"

namespace tavu::check {

// Where the check captures the boot configuration listing: never the worker's files.
// Under the Windows folder.
inline constexpr wchar_t kCheckBatchName[] = L"TavuRecoveryCheck.cmd";
inline constexpr wchar_t kCheckListingName[] = L"TavuRecoveryCheck.txt";

enum class Route { None, BootManager, PartitionTable };
enum class PatcherDecision { Nothing, Replace, Keep };

struct CheckOptions {
  // What the boot manager starts when its menu does not list the default
  // entry; no public document settles it.
  MenuRule menuRule = MenuRule::First;
};

// The parts of the launcher's arming that the machine shows.
struct ArmingSeen {
  bool customActions = false;     // customactions binds the recovery key to custom:5400000f
  bool customEntry = false;       // custom:5400000f names a recovery loader
  bool displayOrder = false;      // a recovery loader leads the menu
  bool partitionVisible = false;  // the recovery partition no longer has its hidden type
  bool partitionActive = false;   // the recovery partition is the active one
};

struct CheckFacts {
  // Manufacturer gate.
  wchar_t manufacturer[kPathChars] = {};
  bool manufacturerAccepted = false;
  // The /AUTO question to the firmware: asked false when the device did not
  // open or the request failed.
  bool firmwareAsked = false;
  std::int32_t firmwareStatus = 0;
  bool windows64 = false;
  // BitLocker.
  int bitlockerResult = 0;
  ProtectionReport bitlocker;
  VolumePlace bitlockerPlace[ProtectionReport::kRoom];  // where each volume lies
  // The recovery partition and its disk's style.
  int partitionResult = kLocateNotFound;
  std::int32_t partitionDisk = 0;
  std::int32_t partitionNumber = 0;
  LocateDetail partitionDetail;
  bool styleAsked = false;
  int styleResult = kLocateFailed;
  LocateDetail styleDetail;
  Route route = Route::None;
  // Boot-manager route: the listing as bcdedit gave it and the entry picked.
  bool listingCaptured = false;
  // The listing is one the simulated machine made from its disks, not one
  // captured on a real machine.
  bool listingMadeUp = false;
  bool listingRead = false;
  std::size_t listingLines = 0;
  // The captured text's first line that is not blank: what bcdedit said when
  // it printed no listing ("Access is denied.").
  wchar_t listingFirstLine[kPathChars] = {};
  bool entryFound = false;
  wchar_t entryId[kMaxEntryIdChars + 1] = {};
  // The chosen entry's description and device line, as listed.
  wchar_t entryDescription[kPathChars] = {};
  wchar_t entryDevice[kPathChars] = {};
  // The boot manager as listed, and the image the chosen entry starts.
  BootManagerFacts bootManager;
  bool imageResolved = false;
  RecoveryImageFacts image;
  WimVersion imageVersion;  // from the image's XML data, when it is a WIM
  // Windows RE as ReAgent.xml has it.
  WindowsReFacts windowsRe;
  // Partition-table route: the recovery partition's own label, read raw, and
  // the volume the worker's search would then settle on.
  int rawLabelResult = kLocateNotFound;
  wchar_t rawLabel[kVolumeLabelChars] = {};
  bool volumeAsked = false;
  int volumeResult = kLocateNotFound;
  std::int32_t volumeDisk = 0;
  std::int32_t volumePartition = 0;
  wchar_t volumeLabel[kVolumeLabelChars] = {};
  LocateDetail volumeDetail;
  // The recovery partition's first sector ends with the boot signature.
  bool signatureAsked = false;
  int signatureResult = kLocateFailed;
  bool signaturePresent = false;
  // Partition-table route: the recovery partition's type and active flag, or
  // a partition an earlier run left visible and active.
  MbrPartitionState mbrRecovery;
  MbrPartitionState mbrArmed;
  // What the firmware-mode tool runner would find, and the logon task.
  bool fwModeMatch = false;   // a "FwMode*.exe" lies in the launcher's folder
  bool fwModeExists = false;  // "FwMode.exe" itself, the file that is started
  // The installed launcher's folder and its FwMode.exe, below the program
  // folder as this Windows names it.
  wchar_t launcherFolder[kPathChars] = {};
  wchar_t fwModePath[kPathChars] = {};
  bool taskRegistered = false;
  std::int32_t taskFailure = 0;  // HRESULT of the query step that failed, 0 answered
  // The installed launcher and the patcher's decision on it.
  bool launcherInstalled = false;
  wchar_t launcherPath[kPathChars] = {};  // under the program folder Windows names
  wchar_t launcherVersion[kPathChars] = {};
  PatcherDecision patcherWould = PatcherDecision::Nothing;
  TrustFacts trust;
  AboutFacts about;
  ErrorTexts errorTexts;
  // The arming's journal beside the installed launcher, and the command that
  // undoes the arming from it.
  wchar_t journalPath[kPathChars] = {};
  JournalState journalState = JournalState::Absent;
  wchar_t undoCommand[kPathChars] = {};
  // What the next start does with the firmware mode off, as the check cannot
  // read it, and the facts that decision rests on.
  BootFacts bootFacts;
  NextStartReport nextStart;
  ArmingSeen seen;
  // Armed now: a journal, any part of the arming, or a menu or table that
  // starts recovery next; halfArmed: armed, but not whole (every part, its
  // journal and the logon task that undoes it).
  bool armedNow = false;
  bool halfArmed = false;
  // Partition-table route, armed: whether a user can still reach the visible
  // recovery volume that boots next (the worker takes it offline; Windows may
  // have refused).
  bool reachAsked = false;
  VolumeReach reach = VolumeReach::NotPresented;
  // What a ticket needs besides the verdict.
  TicketFacts ticket;
  // The verdict: the first abort the launcher would meet, in its own order.
  bool ready = false;
  const wchar_t* abortMessage = nullptr;
  wchar_t reason[kLongTextChars] = {};
  // The reason as one word (None exactly when ready and not armed), and the
  // one Windows error that decided it (0 for none).
  ReasonCode reasonCode = ReasonCode::None;
  std::uint32_t decidingError = 0;
};

// Start-up's COM state is expected: the calling thread in the multithreaded
// apartment with security set and g_comReady 1, as the launcher has it when its
// window starts the worker. The check leaves COM un-initialised on this thread.
void RunCheck(CheckFacts* facts, const CheckOptions& options = CheckOptions{});

}  // namespace tavu::check
