#include "win32/win32_processes.h"

#include <windows.h>

#include "win32/win32_handle.h"

namespace tavu::win32 {

static_assert(kShowHide == SW_HIDE);
static_assert(kShowShow == SW_SHOW);

bool Win32Processes::Create(const wchar_t* image, wchar_t* commandLine, const wchar_t* directory, int show,
                            const wchar_t* environment, Handle* process) {
  *process = nullptr;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show);
  // A console program that is to stay hidden gets a console without a window:
  // SW_HIDE alone hides conhost's window, but a default terminal such as
  // Windows Terminal may show or minimise one. GUI programs ignore the flag.
  DWORD flags = CREATE_UNICODE_ENVIRONMENT | (show == kShowHide ? CREATE_NO_WINDOW : 0);
  PROCESS_INFORMATION info{};
  // CreateProcessW only reads the environment block; its parameter is not const.
  void* block = const_cast<wchar_t*>(environment);
  if (!CreateProcessW(image, commandLine, nullptr, nullptr, FALSE, flags, block, directory, &startup,
                      &info)) {
    return false;
  }
  // The new process's first thread is not ours to keep.
  OwnedHandle thread(info.hThread);
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
