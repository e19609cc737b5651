#include "win32/win32_system.h"

#include <windows.h>

namespace tavu::win32 {

LocalTime Win32System::Now() {
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  GetSystemTime(&utc);
  // NULL: the currently active time zone.
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  LocalTime t;
  t.year = local.wYear;
  t.month = local.wMonth;
  t.day = local.wDay;
  t.hour = local.wHour;
  t.minute = local.wMinute;
  t.second = local.wSecond;
  return t;
}

std::uint32_t Win32System::ModulePath(wchar_t* buffer, std::uint32_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  DWORD n = GetModuleFileNameW(nullptr, buffer, capacity);
  // On truncation Windows XP leaves the text unterminated.
  buffer[capacity - 1] = L'\0';
  return n >= capacity ? capacity - 1 : n;
}

int Win32System::AnsiToWide(const char* text, int length, wchar_t* out, int capacity) {
  return MultiByteToWideChar(CP_ACP, 0, text, length, out, capacity);
}

}  // namespace tavu::win32
