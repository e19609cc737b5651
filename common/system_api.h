// Process and system facts the logic asks of Windows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/platform.h"

namespace tavu {

struct LocalTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
};

// SetErrorMode flags: a drive without its medium fails the call instead of
// asking the user in a system box; no box for a file OpenFile cannot find.
inline constexpr std::uint32_t kSemFailCriticalErrors = 0x0001;
inline constexpr std::uint32_t kSemNoOpenFileErrorBox = 0x8000;

class SystemApi {
 public:
  virtual ~SystemApi() = default;

  // GetSystemTime converted by SystemTimeToTzSpecificLocalTime(NULL, ...).
  virtual LocalTime Now() = 0;
  // GetSystemTime into *utc, and the same instant as
  // SystemTimeToTzSpecificLocalTime(NULL, ...) gives it into *local, with the
  // minutes local time is ahead of UTC. False where the machine has no time
  // zone to tell (the simulated machine's clock runs in UTC): *utc alone is set.
  virtual bool ZonedNow(LocalTime* utc, LocalTime* local, std::int32_t* offsetMinutes) {
    (void)local;
    (void)offsetMinutes;
    *utc = Now();
    return false;
  }
  // GetModuleFileNameW(NULL, buffer, capacity): characters written, 0 on failure.
  // The text is cut to capacity - 1 characters and always terminated.
  virtual std::uint32_t ModulePath(wchar_t* buffer, std::uint32_t capacity) = 0;
  // MultiByteToWideChar(CP_ACP, 0, ...) including the terminator: the number of
  // wide characters written (terminator included), 0 on failure.
  virtual int AnsiToWide(const char* text, int length, wchar_t* out, int capacity) = 0;

  // GetLastError of the calling thread, after the last failing call of any seam.
  virtual std::uint32_t LastError() = 0;
  // GetStdHandle(STD_OUTPUT_HANDLE) == INVALID_HANDLE_VALUE.
  virtual bool StdOutputInvalid() = 0;
  // GetProcAddress(kernel32, "Wow64EnableWow64FsRedirection") and, when present,
  // a call with enable, for the calling thread only. False when the function
  // does not exist or the call fails.
  virtual bool SetWow64FsRedirection(bool enable) = 0;
  // IsWow64Process(GetCurrentProcess()): this is a 32-bit program on 64-bit
  // Windows. False also when the call fails.
  virtual bool RunsUnderWow64() = 0;
  // GetProcAddress(kernel32, "GetSystemWow64DirectoryW") and a call with a
  // 32768-character buffer. *present false when the function does not exist;
  // otherwise the call's result, with *error = GetLastError() on failure.
  virtual bool SystemWow64Directory(bool* present, std::uint32_t* error) = 0;
  // Sleep(milliseconds).
  virtual void Pause(std::uint32_t milliseconds) = 0;
  // SetErrorMode(mode), for the whole process.
  virtual void SetErrorMode(std::uint32_t mode) = 0;

  // For reports only; the defaults answer nothing, so that small test fakes need not care.
  // FormatMessageW(FROM_SYSTEM | IGNORE_INSERTS) of a Windows error or HRESULT in
  // the user's language, without its line end; false when Windows has no text.
  virtual bool ErrorText(std::uint32_t error, wchar_t* out, std::size_t capacity) {
    (void)error;
    (void)out;
    (void)capacity;
    return false;
  }
  // GetComputerNameW (the NetBIOS name).
  virtual bool ComputerName(wchar_t* out, std::size_t capacity) {
    (void)out;
    (void)capacity;
    return false;
  }
  // RtlGetVersion: what Windows is, whatever the program's manifest declares.
  virtual bool WindowsVersion(std::uint32_t* major, std::uint32_t* minor, std::uint32_t* build) {
    (void)major;
    (void)minor;
    (void)build;
    return false;
  }
  // RtlGenRandom (advapi32's SystemFunction036) into *number. False when the
  // call fails.
  virtual bool UnforeseeableNumber(std::uint32_t* number) = 0;
  // GetSystemWindowsDirectoryW(buffer, capacity): the characters written
  // without the terminator; 0 on failure or when the folder does not fit.
  virtual std::uint32_t WindowsFolder(wchar_t* buffer, std::uint32_t capacity) = 0;
  // SHGetKnownFolderPath(FOLDERID_ProgramFiles), or for native64 the 64-bit
  // folder: FOLDERID_ProgramFilesX64, which Windows refuses to 32-bit
  // programs and 32-bit Windows lacks, then ProgramW6432Dir, then
  // ProgramFilesDir of HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion in the
  // 64-bit registry view. Copied as with WindowsFolder; 0 on failure or when it
  // does not fit.
  virtual std::uint32_t ProgramFilesFolder(bool native64, wchar_t* buffer, std::uint32_t capacity) = 0;
};

}  // namespace tavu
