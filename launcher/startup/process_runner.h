// Starts a program, waits for it without limit and gives its exit code, or
// the last error of a failed launch.
#pragma once

#include <cstdint>

namespace tavu {

// file: the program's full path, which is started as it is and never
// searched for. show: exactly 1 shows the window (SW_SHOW), anything else
// hides it. The program receives Windows' own environment, not the launcher's.
// *notStarted, when given: true when the program could not be started.
std::uint32_t RunProcess(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                         std::uint8_t show,
                         bool* notStarted = nullptr);

// RunProcess of one of Windows' native tools (name as "cmd.exe"), in
// C:\Windows\System32. A 32-bit program on 64-bit Windows reaches the native
// tool through the Sysnative alias, with WOW64's redirection left on: with it
// off, every DLL this thread loads meanwhile (the shell's, a delay-loaded
// one) would be the 64-bit copy and fail, and a failed delay-load stays failed.
std::uint32_t RunSystemTool(const wchar_t* name, const wchar_t* parameters, std::uint8_t show);

}  // namespace tavu
