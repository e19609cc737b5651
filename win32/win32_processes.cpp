// <windows.h> first: the other SDK headers build on it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

// <shellapi.h> makes ShellExecute a macro; the seam's method of that name is
// meant here, not the shell function.
#undef ShellExecute

#include "win32/win32_processes.h"

namespace tavu::win32 {

static_assert(kShowHide == SW_HIDE);
static_assert(kShowShow == SW_SHOW);

bool Win32Processes::ShellExecute(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                                  int show, Handle* process) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // Without SEE_MASK_FLAG_NO_UI the shell answers a missing program with its
  // own "File not found" box and waits for someone to close it: the logon
  // task's unattended run would hang, and a failed launch must show nothing.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = file;
  info.lpParameters = parameters;
  info.lpDirectory = directory;
  info.nShow = show;
  *process = nullptr;
  if (!ShellExecuteExW(&info)) return false;
  *process = info.hProcess;
  return true;
}

bool Win32Processes::Wait(Handle process) { return WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0; }

bool Win32Processes::ExitCode(Handle process, std::uint32_t* code) {
  DWORD value = 0;
  if (!GetExitCodeProcess(process, &value)) return false;
  *code = value;
  return true;
}

}  // namespace tavu::win32
