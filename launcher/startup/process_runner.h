// Starts a program through the shell, waits for it without limit and gives its
// exit code, or the last error of a failed launch.
#pragma once

#include <cstdint>

namespace tavu {

// show: exactly 1 shows the window (SW_SHOW), anything else hides it.
std::uint32_t RunProcess(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                         std::uint8_t show);

// RunProcess of a tool under System32, hidden. With native, WOW64's file-system
// redirection is off for this thread while the tool starts, so that it is the
// 64-bit one, and on again right after: every System32 DLL the thread loads
// later (the Task Scheduler's, WMI's) must be the 32-bit copy. When switching
// it off fails, the tool starts as redirection has it.
std::uint32_t RunSystemTool(const wchar_t* file, const wchar_t* parameters, bool native);

}  // namespace tavu
