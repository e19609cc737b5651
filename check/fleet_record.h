// TavuRecoveryCheck /record: the summary left where a fleet's inventory finds
// it, as registry values and as one event in the Application log.
#pragma once

#include <cstdint>

#include "check/recovery_check.h"

namespace tavu::check {

// Under HKEY_LOCAL_MACHINE, in the 64-bit view on 64-bit Windows, where a
// 64-bit inventory agent reads it.
inline constexpr wchar_t kRecordKey[] = L"SOFTWARE\\TAVU\\RecoveryCheck";
// The event source the package registers, with this program as its message file.
inline constexpr wchar_t kEventSource[] = L"TAVU Recovery Check";

struct RecordOutcome {
  std::uint32_t registryError = 0;  // 0: every value written
  std::uint32_t eventError = 0;     // 0: the event reported
  [[nodiscard]] bool written() const { return registryError == 0 && eventError == 0; }
};

// Writes SchemaVersion and Win32Error (REG_DWORD), Verdict, ReasonCode ("" for
// none), LastRunUtc and Summary (REG_SZ), then the event, whose one insertion
// string is the summary. The event is reported even when the values fail.
RecordOutcome WriteRecord(const CheckFacts& f);

}  // namespace tavu::check
