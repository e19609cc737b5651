#include "win32/win32_system.h"

// <windows.h> first: the other SDK headers build on it.
// clang-format off
#include <windows.h>
#include <ntsecapi.h>
#include <shlobj.h>
// clang-format on

#include "common/wide_text.h"

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

namespace {

LocalTime FromSystemTime(const SYSTEMTIME& s) {
  LocalTime t;
  t.year = s.wYear;
  t.month = s.wMonth;
  t.day = s.wDay;
  t.hour = s.wHour;
  t.minute = s.wMinute;
  t.second = s.wSecond;
  return t;
}

}  // namespace

bool Win32System::ZonedNow(LocalTime* utc, LocalTime* local, std::int32_t* offsetMinutes) {
  SYSTEMTIME u{};
  SYSTEMTIME l{};
  GetSystemTime(&u);
  *utc = FromSystemTime(u);
  FILETIME uf{};
  FILETIME lf{};
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &u, &l) || !SystemTimeToFileTime(&u, &uf) ||
      !SystemTimeToFileTime(&l, &lf)) {
    return false;
  }
  *local = FromSystemTime(l);
  const auto ticks = [](const FILETIME& f) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
  };
  // FILETIME counts 100 ns.
  *offsetMinutes = static_cast<std::int32_t>((ticks(lf) - ticks(uf)) / 600000000);
  return true;
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

bool Win32System::UnforeseeableNumber(std::uint32_t* number) {
  return RtlGenRandom(number, sizeof *number) != FALSE;
}

std::uint32_t Win32System::WindowsFolder(wchar_t* buffer, std::uint32_t capacity) {
  // The length without the terminator, or the size needed (terminator
  // included) when the buffer is too small.
  const UINT n = GetSystemWindowsDirectoryW(buffer, capacity);
  return n < capacity ? n : 0;
}

namespace {

// Frees what SHGetKnownFolderPath gave, even on failure.
class KnownFolderText {
 public:
  KnownFolderText() = default;
  ~KnownFolderText() { CoTaskMemFree(text_); }
  KnownFolderText(const KnownFolderText&) = delete;
  KnownFolderText& operator=(const KnownFolderText&) = delete;
  PWSTR* out() { return &text_; }
  const wchar_t* get() const { return text_; }

 private:
  PWSTR text_ = nullptr;
};

// {905E63B6-C1BF-494E-B29C-65B732D3D21A} and {6D809377-6AF0-444B-8957-A3773F02200E},
// spelled out so that no GUID library is needed.
constexpr GUID kProgramFiles = {0x905E63B6, 0xC1BF, 0x494E, {0xB2, 0x9C, 0x65, 0xB7, 0x32, 0xD3, 0xD2, 0x1A}};
constexpr GUID kProgramFilesX64 = {
    0x6D809377, 0x6AF0, 0x444B, {0x89, 0x57, 0xA3, 0x77, 0x3F, 0x02, 0x20, 0x0E}};

std::uint32_t CopyOut(const wchar_t* text, wchar_t* buffer, std::uint32_t capacity) {
  if (text == nullptr || !CopyBounded(buffer, capacity, text)) return 0;
  return static_cast<std::uint32_t>(wcslen(buffer));
}

}  // namespace

std::uint32_t Win32System::ProgramFilesFolder(bool native64, wchar_t* buffer, std::uint32_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  {
    KnownFolderText folder;
    if (SUCCEEDED(
            SHGetKnownFolderPath(native64 ? kProgramFilesX64 : kProgramFiles, 0, nullptr, folder.out()))) {
      return CopyOut(folder.get(), buffer, capacity);
    }
  }
  if (!native64) return 0;
  // Only administrators may write these values; a 32-bit program reads the
  // 64-bit view only when asked. Wine has no ProgramW6432Dir; ProgramFilesDir
  // names the 64-bit folder in that view on every 64-bit Windows, and the one
  // folder on 32-bit Windows.
  const wchar_t* const values[] = {L"ProgramW6432Dir", L"ProgramFilesDir"};
  for (const wchar_t* value : values) {
    DWORD bytes = capacity * sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", value,
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, buffer, &bytes) == ERROR_SUCCESS) {
      buffer[capacity - 1] = L'\0';
      return static_cast<std::uint32_t>(wcslen(buffer));
    }
  }
  buffer[0] = L'\0';
  return 0;
}

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
