// Clock, module path and code page of the simulated machine.
#pragma once

#include <string>
#include <vector>

#include "common/system_api.h"
#include "sim/core/faults.h"
#include "sim/core/wow64.h"

namespace tavu::sim {

class SimSystem : public SystemApi {
 public:
  LocalTime Now() override { return now_; }
  std::uint32_t ModulePath(wchar_t* buffer, std::uint32_t capacity) override;
  // In the machine's ANSI code page (1252 unless its language says otherwise).
  int AnsiToWide(const char* text, int length, wchar_t* out, int capacity) override;
  std::uint32_t LastError() override;
  bool StdOutputInvalid() override { return stdOutputInvalid_; }
  bool SetWow64FsRedirection(bool enable) override;
  bool RunsUnderWow64() override;
  bool SystemWow64Directory(bool* present, std::uint32_t* error) override;
  // The machine's clock moves on by the pause; nobody waits.
  void Pause(std::uint32_t milliseconds) override { elapsed_ += milliseconds; }
  std::uint64_t elapsedMilliseconds() const { return elapsed_; }
  void SetErrorMode(std::uint32_t mode) override;
  // Windows' English texts of the errors the simulated machine produces.
  bool ErrorText(std::uint32_t error, wchar_t* out, std::size_t capacity) override;
  bool ComputerName(wchar_t* out, std::size_t capacity) override;
  bool WindowsVersion(std::uint32_t* major, std::uint32_t* minor, std::uint32_t* build) override;
  // How many operations the machine had counted when the mode was last set
  // (-1: never), so a test sees whether a program set it before anything else.
  std::int64_t errorModeSetAt() const { return errorModeSetAt_; }
  std::uint32_t errorMode() const { return errorMode_; }
  // The program's file name ("TAVU Recovery.exe"), as Windows titles its boxes.
  std::wstring ModuleFileName() const;
  // A counter stands in for Windows' random numbers: runs stay repeatable.
  bool UnforeseeableNumber(std::uint32_t* number) override;
  std::uint32_t WindowsFolder(wchar_t* buffer, std::uint32_t capacity) override;
  std::uint32_t ProgramFilesFolder(bool native64, wchar_t* buffer, std::uint32_t capacity) override;
  // Where this Windows lives, as Windows answers it ("C:\Windows" and
  // "C:\Program Files" unless told otherwise); an empty text makes the call fail.
  void SetWindowsFolder(std::wstring folder) { windowsFolder_ = std::move(folder); }
  void SetProgramFilesFolder(std::wstring folder) { programFilesFolder_ = std::move(folder); }

  // What the machine is: a 64-bit Windows has the WOW64 directory and the
  // redirection switch; a 32-bit one answers error 120 (not implemented).
  void SetWindows64(bool is64) { wow64_.SetWindows64(is64); }
  void SetStdOutputInvalid(bool invalid) { stdOutputInvalid_ = invalid; }
  // The redirection switches made by any thread, in order (true = enable).
  std::vector<bool> redirectionCalls() const { return wow64_.calls(); }
  // A 32-bit program's System32 is SysWOW64 until the thread switches redirection off.
  bool RedirectionOn() const { return wow64_.RedirectionOn(); }
  SimWow64& wow64() { return wow64_; }

  void SetNow(const LocalTime& t) { now_ = t; }
  void SetComputerName(std::wstring name) { computerName_ = std::move(name); }
  void SetWindowsVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
    windowsVersion_[0] = major;
    windowsVersion_[1] = minor;
    windowsVersion_[2] = build;
  }
  void SetAnsiCodePage(int codePage) { ansiCodePage_ = codePage; }
  int ansiCodePage() const { return ansiCodePage_; }
  void SetModulePath(std::wstring path) { modulePath_ = std::move(path); }
  // The machine's fault injection: the module path and the redirection switch
  // then count as operations that can fail.
  void SetFaults(SimFaults* faults) { faults_ = faults; }
  const std::wstring& modulePath() const { return modulePath_; }

 private:
  bool Fails(SimOp op) { return faults_ != nullptr && faults_->Fail(op); }

  SimFaults* faults_ = nullptr;
  SimWow64 wow64_;
  bool stdOutputInvalid_ = false;
  std::uint64_t elapsed_ = 0;
  int ansiCodePage_ = 1252;
  std::uint32_t errorMode_ = 0;
  std::int64_t errorModeSetAt_ = -1;
  LocalTime now_{2014, 3, 2, 9, 5, 7};
  std::wstring computerName_ = L"TAVU-NB01";
  std::uint32_t windowsVersion_[3] = {10, 0, 22631};
  std::wstring modulePath_ = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe";
  std::wstring windowsFolder_ = L"C:\\Windows";
  std::wstring programFilesFolder_ = L"C:\\Program Files";
  std::uint32_t numbers_ = 0;
};

// Code page 1252 to Unicode, for one byte.
wchar_t Cp1252ToWide(unsigned char c);

}  // namespace tavu::sim
