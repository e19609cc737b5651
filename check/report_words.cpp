#include "check/report_words.h"

namespace tavu::check {

const char* RouteName(Route route) {
  switch (route) {
    case Route::BootManager:
      return "boot-manager";
    case Route::PartitionTable:
      return "partition-table";
    case Route::None:
      break;
  }
  return nullptr;
}

const char* PatcherWord(PatcherDecision d) {
  switch (d) {
    case PatcherDecision::Replace:
      return "replace";
    case PatcherDecision::Keep:
      return "keep";
    case PatcherDecision::Nothing:
      break;
  }
  return "nothing";
}

const char* FileStateWord(FileState state) {
  switch (state) {
    case FileState::Present:
      return "present";
    case FileState::Missing:
      return "missing";
    case FileState::NotAWim:
      return "not-a-wim";
    case FileState::Unknown:
      break;
  }
  return "unknown";
}

const char* ReAgentWord(ReAgentFile file) {
  switch (file) {
    case ReAgentFile::Present:
      return "present";
    case ReAgentFile::Unreadable:
      return "unreadable";
    case ReAgentFile::Absent:
      break;
  }
  return "absent";
}

std::size_t ReportedVolumes(const ProtectionReport& r) {
  return r.count < ProtectionReport::kRoom ? r.count : ProtectionReport::kRoom;
}

const wchar_t* VolumeName(const ProtectionReport::Volume& v) {
  return v.letter[0] != L'\0' ? v.letter : v.deviceId;
}

bool IsLauncherEntry(const CheckFacts& f, bool* known) {
  *known = f.windowsRe.file == ReAgentFile::Present && NamesEntry(f.windowsRe.xml);
  return *known && f.entryFound && EqualsIgnoreAsciiCase(f.windowsRe.xml.bcdId, f.entryId);
}

bool IsRecoveryPartition(const CheckFacts& f, bool* known) {
  *known = f.windowsRe.locationNamed;
  return *known && f.windowsRe.locationFound && f.partitionResult == kLocateFound &&
         f.windowsRe.disk == f.partitionDisk && f.windowsRe.partition == f.partitionNumber;
}

void ArmedText(const CheckFacts& f, wchar_t* out, std::size_t capacity) {
  const wchar_t* after = f.taskRegistered
                             ? L"the logon task switches the firmware mode off after it"
                             : L"no logon task is registered to switch the firmware mode off after it";
  if (f.halfArmed) {
    FormatBounded(out, capacity,
                  L"half-armed: an earlier run stopped after making the recovery partition (disk %d, "
                  L"partition %d) visible and active; the next start boots it with nothing armed around it",
                  static_cast<int>(f.mbrArmed.disk), static_cast<int>(f.mbrArmed.partition));
  } else if (f.armedNow && f.route == Route::BootManager) {
    FormatBounded(out, capacity, L"armed: the next start goes into recovery (%ls); %ls",
                  f.bootManager.customEntry, after);
  } else if (f.armedNow) {
    // Visible FAT32 has no permissions: until the restart, whoever reaches the
    // volume can change what boots next.
    const wchar_t* reach = f.reach == VolumeReach::Reachable
                               ? L"; its volume is still reachable by every user until the restart"
                               : L"; its volume is offline until the restart";
    FormatBounded(out, capacity,
                  L"armed: the next start boots the recovery partition (disk %d, partition %d, visible and "
                  L"active); %ls%ls",
                  static_cast<int>(f.mbrArmed.disk), static_cast<int>(f.mbrArmed.partition), after,
                  f.reachAsked ? reach : L"");
  } else {
    CopyBounded(out, capacity, L"not armed: the next start goes into Windows");
  }
}

void TimeText(const LocalTime& t, wchar_t* out, std::size_t capacity) {
  FormatBounded(out, capacity, L"%04u-%02u-%02uT%02u:%02u:%02u", static_cast<unsigned>(t.year),
                static_cast<unsigned>(t.month), static_cast<unsigned>(t.day), static_cast<unsigned>(t.hour),
                static_cast<unsigned>(t.minute), static_cast<unsigned>(t.second));
}

}  // namespace tavu::check
