// The words the JSON and the readable report share, so both say the same.
#pragma once

#include <cstddef>

#include "check/recovery_check.h"

namespace tavu::check {

const char* RouteName(Route route);
const char* PatcherWord(PatcherDecision d);
const char* FileStateWord(FileState state);
const char* ReAgentWord(ReAgentFile file);
// "lookup table", "XML data", "boot metadata"; "" for none.
const wchar_t* WimCutWord(WimCut cut);
std::size_t ReportedVolumes(const ProtectionReport& r);
// "C:" where the volume has a letter, else its device name.
const wchar_t* VolumeName(const ProtectionReport::Volume& v);
// Whether the launcher's entry and the recovery partition are what ReAgent.xml
// names; false with *known false when ReAgent.xml names nothing to compare.
bool IsLauncherEntry(const CheckFacts& f, bool* known);
bool IsRecoveryPartition(const CheckFacts& f, bool* known);
// "armed", "half-armed" or "not-armed".
const char* ArmedStateWord(const CheckFacts& f);
// "present", "absent", "untrusted", "unreadable".
const char* JournalWord(JournalState state);
// "the next start goes into Windows", ...
const wchar_t* NextStartWords(NextStart next);
// The armed state in words a technician understands.
void ArmedText(const CheckFacts& f, wchar_t* out, std::size_t capacity);
// "2026-12-09T11:20:00".
void TimeText(const LocalTime& t, wchar_t* out, std::size_t capacity);
// The check's time for about.time and the summary: local time with its UTC
// offset ("2026-12-09T12:20:00+01:00"), or UTC ("2026-12-09T11:20:00Z") where
// the machine told no zone.
void AboutTimeText(const AboutFacts& a, wchar_t* out, std::size_t capacity);
// "2026-12-09T11:20:00Z".
void UtcTimeText(const LocalTime& t, wchar_t* out, std::size_t capacity);

}  // namespace tavu::check
