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

const wchar_t* WimCutWord(WimCut cut) {
  switch (cut) {
    case WimCut::LookupTable:
      return L"lookup table";
    case WimCut::XmlData:
      return L"XML data";
    case WimCut::BootMetadata:
      return L"boot metadata";
    case WimCut::None:
      break;
  }
  return L"";
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

const char* ArmedStateWord(const CheckFacts& f) {
  if (!f.armedNow) return "not-armed";
  return f.halfArmed ? "half-armed" : "armed";
}

const char* JournalWord(JournalState state) {
  switch (state) {
    case JournalState::Present:
      return "present";
    case JournalState::Untrusted:
      return "untrusted";
    case JournalState::Unreadable:
      return "unreadable";
    case JournalState::Absent:
      break;
  }
  return "absent";
}

const wchar_t* NextStartWords(NextStart next) {
  switch (next) {
    case NextStart::Windows:
      return L"the next start goes into Windows";
    case NextStart::Recovery:
      return L"the next start goes into recovery";
    case NextStart::None:
      break;
  }
  return L"the next start stops before any system starts";
}

namespace {

void AddPart(wchar_t* out, std::size_t capacity, bool seen, const wchar_t* part) {
  if (!seen) return;
  if (out[0] != L'\0') AppendBounded(out, capacity, L", ");
  AppendBounded(out, capacity, part);
}

}  // namespace

void ArmedText(const CheckFacts& f, wchar_t* out, std::size_t capacity) {
  if (!f.armedNow) {
    FormatBounded(out, capacity, L"not armed: %ls", NextStartWords(f.nextStart.next));
    return;
  }
  const ArmingSeen& s = f.seen;
  wchar_t seen[kLongTextChars] = {};
  AddPart(seen, kLongTextChars, s.customActions, L"customactions binds the recovery key");
  AddPart(seen, kLongTextChars, s.customEntry, L"custom:5400000f names a recovery loader");
  AddPart(seen, kLongTextChars, s.displayOrder, L"a recovery loader leads the menu");
  AddPart(seen, kLongTextChars, s.partitionVisible, L"the recovery partition is visible");
  AddPart(seen, kLongTextChars, s.partitionActive, L"the recovery partition is active");
  if (seen[0] == L'\0')
    CopyBounded(seen, kLongTextChars, L"nothing of it shows in the boot store or the table");
  const wchar_t* journal = f.journalState == JournalState::Present ? L"its journal is present"
                           : f.journalState == JournalState::Untrusted
                               ? L"the file at the journal's place is untrusted"
                           : f.journalState == JournalState::Unreadable ? L"the journal cannot be read"
                                                                        : L"no journal";
  FormatBounded(
      out, capacity, L"%ls: %ls; %ls; %ls; %ls", f.halfArmed ? L"half-armed" : L"armed", seen, journal,
      f.taskRegistered ? L"the logon task that undoes it is registered" : L"no logon task undoes it",
      NextStartWords(f.nextStart.next));
  if (f.reachAsked) {
    // Visible FAT32 has no permissions: until the restart, whoever reaches the
    // volume can change what boots next.
    AppendBounded(out, capacity,
                  f.reach == VolumeReach::Reachable
                      ? L"; the recovery volume is still reachable by every user until the restart"
                      : L"; the recovery volume is offline until the restart");
  }
  if (f.journalState == JournalState::Present) return;
  // Without a journal /DISABLE has nothing to put back from.
  if (s.partitionVisible || s.partitionActive) {
    AppendBounded(
        out, capacity,
        L". To undo it by hand, run diskpart: sel disk, sel par (the recovery partition), set id=1c "
        L"override, then sel par (the Windows partition), active.");
  } else if (s.customActions || s.customEntry || s.displayOrder) {
    AppendBounded(
        out, capacity,
        L". To undo it by hand: bcdedit /set {bootmgr} displayorder {current}, bcdedit /deletevalue "
        L"{bootmgr} customactions, bcdedit /deletevalue {bootmgr} custom:5400000f.");
  }
}

void TimeText(const LocalTime& t, wchar_t* out, std::size_t capacity) {
  FormatBounded(out, capacity, L"%04u-%02u-%02uT%02u:%02u:%02u", static_cast<unsigned>(t.year),
                static_cast<unsigned>(t.month), static_cast<unsigned>(t.day), static_cast<unsigned>(t.hour),
                static_cast<unsigned>(t.minute), static_cast<unsigned>(t.second));
}

void AboutTimeText(const AboutFacts& a, wchar_t* out, std::size_t capacity) {
  if (!a.zoned) {
    UtcTimeText(a.utc, out, capacity);
    return;
  }
  TimeText(a.time, out, capacity);
  const unsigned minutes =
      static_cast<unsigned>(a.utcOffsetMinutes < 0 ? -a.utcOffsetMinutes : a.utcOffsetMinutes);
  wchar_t zone[16];
  FormatBounded(zone, 16, a.utcOffsetMinutes < 0 ? L"-%02u:%02u" : L"+%02u:%02u", minutes / 60 % 100,
                minutes % 60);
  AppendBounded(out, capacity, zone);
}

void UtcTimeText(const LocalTime& t, wchar_t* out, std::size_t capacity) {
  TimeText(t, out, capacity);
  AppendBounded(out, capacity, L"Z");
}

}  // namespace tavu::check
