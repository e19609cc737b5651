// The machine-wide record a fleet's tools read: registry values under HKLM and
// events in the Application log. Only the support check writes one, and only
// when asked to.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavu {

// A value to set: REG_SZ when text is given, else REG_DWORD number.
struct RecordValue {
  const wchar_t* name;
  std::uint32_t number;
  const wchar_t* text;
};

// EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE, EVENTLOG_ERROR_TYPE.
enum class EventKind : std::uint8_t { Information, Warning, Error };

class RecordApi {
 public:
  virtual ~RecordApi() = default;
  // RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, ..., KEY_SET_VALUE | KEY_WOW64_64KEY)
  // (the 64-bit view even from a 32-bit program; 32-bit Windows ignores the
  // flag), then RegSetValueExW of each value in order. 0, or the Windows error
  // of the first call that failed; the values after it are not written.
  virtual std::uint32_t SetMachineValues(const wchar_t* key, const RecordValue* values,
                                         std::size_t count) = 0;
  // RegisterEventSourceW(NULL, source), ReportEventW(handle, kind, category 0,
  // id, no user, the one insertion string text), DeregisterEventSource. 0, or
  // the Windows error of the call that failed.
  virtual std::uint32_t LogEvent(const wchar_t* source, EventKind kind, std::uint32_t id,
                                 const wchar_t* text) = 0;
};

}  // namespace tavu
