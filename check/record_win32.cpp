#include "check/record_win32.h"

#include <windows.h>

#include <cwchar>

#include "common/platform.h"
#include "common/record_api.h"
#include "win32/registry_key.h"

namespace tavu::check {

namespace {

// An event source handle, given back on every path.
class EventSource {
 public:
  explicit EventSource(const wchar_t* name) : handle_(RegisterEventSourceW(nullptr, name)) {}
  ~EventSource() {
    if (handle_ != nullptr) DeregisterEventSource(handle_);
  }
  EventSource(const EventSource&) = delete;
  EventSource& operator=(const EventSource&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

WORD EventType(EventKind kind) {
  switch (kind) {
    case EventKind::Warning:
      return EVENTLOG_WARNING_TYPE;
    case EventKind::Error:
      return EVENTLOG_ERROR_TYPE;
    case EventKind::Information:
      break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

class Win32Record : public RecordApi {
 public:
  std::uint32_t SetMachineValues(const wchar_t* key, const RecordValue* values, std::size_t count) override {
    // KEY_WOW64_64KEY: this 32-bit program would otherwise write under WOW6432Node.
    win32::RegistryKey k(win32::RegistryKey::Create{}, HKEY_LOCAL_MACHINE, key,
                         KEY_SET_VALUE | KEY_WOW64_64KEY);
    if (k.get() == nullptr) return static_cast<std::uint32_t>(k.status());
    for (std::size_t i = 0; i < count; ++i) {
      const RecordValue& v = values[i];
      const DWORD number = v.number;
      // REG_SZ counts its terminator.
      const LSTATUS status =
          v.text != nullptr
              ? RegSetValueExW(k.get(), v.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text),
                               static_cast<DWORD>((std::wcslen(v.text) + 1) * sizeof(wchar_t)))
              : RegSetValueExW(k.get(), v.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                               sizeof number);
      if (status != ERROR_SUCCESS) return static_cast<std::uint32_t>(status);
    }
    return 0;
  }

  std::uint32_t LogEvent(const wchar_t* source, EventKind kind, std::uint32_t id,
                         const wchar_t* text) override {
    EventSource events(source);
    if (events.get() == nullptr) return GetLastError();
    LPCWSTR strings[] = {text};
    if (!ReportEventW(events.get(), EventType(kind), 0, id, nullptr, 1, 0, strings, nullptr))
      return GetLastError();
    return 0;
  }
};

Win32Record g_record;

}  // namespace

void InstallWin32Record() {
  Platform p = Sys();
  p.record = &g_record;
  SetPlatform(p);
}

}  // namespace tavu::check
