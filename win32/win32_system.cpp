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

std::uint32_t Win32System::LastError() { return GetLastError(); }

bool Win32System::StdOutputInvalid() { return GetStdHandle(STD_OUTPUT_HANDLE) == INVALID_HANDLE_VALUE; }

bool Win32System::SetWow64FsRedirection(bool enable) {
  using Fn = BOOLEAN(WINAPI*)(BOOLEAN);
  HMODULE kernel = GetModuleHandleW(L"kernel32");
  if (kernel == nullptr) return false;
  auto fn =
      reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64EnableWow64FsRedirection")));
  if (fn == nullptr) return false;
  return fn(enable ? TRUE : FALSE) != FALSE;
}

bool Win32System::RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool Win32System::SystemWow64Directory(bool* present, std::uint32_t* error) {
  using Fn = UINT(WINAPI*)(LPWSTR, UINT);
  *present = false;
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return false;
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemWow64DirectoryW")));
  if (fn == nullptr) return false;
  *present = true;
  // The directory text is not used; the buffer only has to be large enough.
  static wchar_t directory[32768];
  if (fn(directory, 0x7FFF) != 0) return true;
  *error = GetLastError();
  return false;
}

void Win32System::Pause(std::uint32_t milliseconds) { Sleep(milliseconds); }

static_assert(tavu::kSemFailCriticalErrors == SEM_FAILCRITICALERRORS &&
              tavu::kSemNoOpenFileErrorBox == SEM_NOOPENFILEERRORBOX);

void Win32System::SetErrorMode(std::uint32_t mode) { ::SetErrorMode(mode); }

bool Win32System::ErrorText(std::uint32_t error, wchar_t* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return false;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, out,
                           static_cast<DWORD>(capacity), nullptr);
  if (n == 0) {
    out[0] = L'\0';
    return false;
  }
  // Windows ends every message with CR LF.
  while (n > 0 && (out[n - 1] == L'\r' || out[n - 1] == L'\n' || out[n - 1] == L' ')) --n;
  out[n] = L'\0';
  return n > 0;
}

bool Win32System::ComputerName(wchar_t* out, std::size_t capacity) {
  DWORD size = static_cast<DWORD>(capacity);
  return out != nullptr && capacity != 0 && GetComputerNameW(out, &size);
}

bool Win32System::WindowsVersion(std::uint32_t* major, std::uint32_t* minor, std::uint32_t* build) {
  // GetVersionExW answers what the manifest declares support for; the kernel's own answer does not.
  using Fn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (fn == nullptr || fn(&info) != 0) return false;
  *major = info.dwMajorVersion;
  *minor = info.dwMinorVersion;
  *build = info.dwBuildNumber;
  return true;
}

}  // namespace tavu::win32
