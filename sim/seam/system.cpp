#include "sim/seam/system.h"

#include <cstring>
#include <cwchar>

#include "common/wide_text.h"
#include "common/win_errors.h"
#include "sim/core/last_error.h"
#include "sim/formats/code_pages.h"

namespace tavu::sim {

wchar_t Cp1252ToWide(unsigned char c) {
  static const wchar_t kHigh[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  if (c >= 0x80 && c < 0xA0) return kHigh[c - 0x80];
  return static_cast<wchar_t>(c);
}

std::uint32_t SimSystem::ModulePath(wchar_t* buffer, std::uint32_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  if (Fails(SimOp::ModulePath)) {
    SetLastError(kErrorNotEnoughMemory);
    return 0;
  }
  CopyBounded(buffer, capacity, modulePath_.c_str());
  return static_cast<std::uint32_t>(std::wcslen(buffer));
}

int SimSystem::AnsiToWide(const char* text, int length, wchar_t* out, int capacity) {
  if (text == nullptr || out == nullptr || capacity <= 0) return 0;
  int n = length < 0 ? static_cast<int>(std::strlen(text)) + 1 : length;
  return AnsiToWideIn(ansiCodePage_, text, n, out, capacity);
}

std::wstring SimSystem::ModuleFileName() const {
  const std::size_t slash = modulePath_.find_last_of(L"\\/");
  return slash == std::wstring::npos ? modulePath_ : modulePath_.substr(slash + 1);
}

bool SimSystem::UnforeseeableNumber(std::uint32_t* number) {
  *number = 0x2F6B1C35u + 0x01000193u * ++numbers_;
  return true;
}

namespace {

std::uint32_t CopyFolder(const std::wstring& folder, wchar_t* buffer, std::uint32_t capacity) {
  if (folder.empty() || buffer == nullptr || folder.size() >= capacity) {
    SetLastError(folder.empty() ? kErrorFileNotFound : kErrorInsufficientBuffer);
    return 0;
  }
  CopyBounded(buffer, capacity, folder.c_str());
  return static_cast<std::uint32_t>(folder.size());
}

}  // namespace

std::uint32_t SimSystem::WindowsFolder(wchar_t* buffer, std::uint32_t capacity) {
  return CopyFolder(windowsFolder_, buffer, capacity);
}

// A 32-bit program that asks for FOLDERID_ProgramFiles on 64-bit Windows is
// given the folder of 32-bit programs; 32-bit Windows has no 64-bit folder.
std::uint32_t SimSystem::ProgramFilesFolder(bool native64, wchar_t* buffer, std::uint32_t capacity) {
  if (native64 && !wow64_.windows64()) return CopyFolder(L"", buffer, capacity);
  if (!native64 && wow64_.windows64() && !programFilesFolder_.empty()) {
    return CopyFolder(programFilesFolder_ + L" (x86)", buffer, capacity);
  }
  return CopyFolder(programFilesFolder_, buffer, capacity);
}

void SimSystem::SetErrorMode(std::uint32_t mode) {
  errorMode_ = mode;
  errorModeSetAt_ = faults_ != nullptr ? static_cast<std::int64_t>(faults_->Count()) : 0;
}

std::uint32_t SimSystem::LastError() { return GetLastErrorValue(); }

bool SimSystem::SetWow64FsRedirection(bool enable) {
  if (!wow64_.windows64()) return false;
  if (Fails(SimOp::RedirectionSwitch)) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  return wow64_.SetRedirection(enable);
}

// The simulated program is a 32-bit one, as the launcher ships.
bool SimSystem::RunsUnderWow64() {
  if (Fails(SimOp::Wow64Query)) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return wow64_.windows64();
}

bool SimSystem::SystemWow64Directory(bool* present, std::uint32_t* error) {
  *present = true;
  if (wow64_.windows64()) return true;
  *error = kErrorCallNotImplemented;
  SetLastError(kErrorCallNotImplemented);
  return false;
}

namespace {

struct ErrorTextRow {
  std::uint32_t error;
  const wchar_t* text;
};

constexpr ErrorTextRow kErrorTexts[] = {
    {kErrorSuccess, L"The operation completed successfully."},
    {kErrorInvalidFunction, L"Incorrect function."},
    {kErrorFileNotFound, L"The system cannot find the file specified."},
    {kErrorPathNotFound, L"The system cannot find the path specified."},
    {kErrorAccessDenied, L"Access is denied."},
    {kErrorInvalidHandle, L"The handle is invalid."},
    {kErrorNotEnoughMemory, L"Not enough memory resources are available to process this command."},
    {kErrorNoMoreFiles, L"There are no more files."},
    {19, L"The media is write protected."},
    {kErrorNotReady, L"The device is not ready."},
    {kErrorSectorNotFound, L"The drive cannot find the sector requested."},
    {kErrorGenFailure, L"A device attached to the system is not functioning."},
    {kErrorSharingViolation,
     L"The process cannot access the file because it is being used by another process."},
    {kErrorNotSupported, L"The request is not supported."},
    {kErrorFileExists, L"The file exists."},
    {kErrorInvalidParameter, L"The parameter is incorrect."},
    {kErrorCallNotImplemented, L"This function is not supported on this system."},
    {kErrorInsufficientBuffer, L"The data area passed to a system call is too small."},
    {kErrorInvalidName, L"The filename, directory name, or volume label syntax is incorrect."},
    {kErrorDirNotEmpty, L"The directory is not empty."},
    {kErrorAlreadyExists, L"Cannot create a file when that file already exists."},
    {kErrorBadExeFormat, L"%1 is not a valid Win32 application."},
    {kErrorFilenameExcedRange, L"The filename or extension is too long."},
    {kErrorMoreData, L"More data is available."},
    {kErrorUnrecognizedVolume, L"The volume does not contain a recognized file system."},
};

}  // namespace

bool SimSystem::ErrorText(std::uint32_t error, wchar_t* out, std::size_t capacity) {
  for (const ErrorTextRow& row : kErrorTexts) {
    if (row.error == error) return CopyBounded(out, capacity, row.text);
  }
  return false;
}

bool SimSystem::ComputerName(wchar_t* out, std::size_t capacity) {
  return CopyBounded(out, capacity, computerName_.c_str());
}

bool SimSystem::WindowsVersion(std::uint32_t* major, std::uint32_t* minor, std::uint32_t* build) {
  *major = windowsVersion_[0];
  *minor = windowsVersion_[1];
  *build = windowsVersion_[2];
  return true;
}

}  // namespace tavu::sim
