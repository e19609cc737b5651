#pragma once

#include "common/system_api.h"

namespace tavu::win32 {

class Win32System : public SystemApi {
 public:
  LocalTime Now() override;
  bool ZonedNow(LocalTime* utc, LocalTime* local, std::int32_t* offsetMinutes) override;
  std::uint32_t ModulePath(wchar_t* buffer, std::uint32_t capacity) override;
  int AnsiToWide(const char* text, int length, wchar_t* out, int capacity) override;
  std::uint32_t LastError() override;
  bool StdOutputInvalid() override;
  bool SetWow64FsRedirection(bool enable) override;
  bool RunsUnderWow64() override;
  bool SystemWow64Directory(bool* present, std::uint32_t* error) override;
  void Pause(std::uint32_t milliseconds) override;
  void SetErrorMode(std::uint32_t mode) override;
  bool ErrorText(std::uint32_t error, wchar_t* out, std::size_t capacity) override;
  bool ComputerName(wchar_t* out, std::size_t capacity) override;
  bool WindowsVersion(std::uint32_t* major, std::uint32_t* minor, std::uint32_t* build) override;
  bool UnforeseeableNumber(std::uint32_t* number) override;
  std::uint32_t WindowsFolder(wchar_t* buffer, std::uint32_t capacity) override;
  std::uint32_t ProgramFilesFolder(bool native64, wchar_t* buffer, std::uint32_t capacity) override;
};

}  // namespace tavu::win32
