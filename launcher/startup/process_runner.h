// Starts a program through the shell, waits for it without limit and gives its
// exit code, or the last error of a failed launch.
#pragma once

#include <cstdint>

namespace tavu {

// show: exactly 1 shows the window (SW_SHOW), anything else hides it.
std::uint32_t RunProcess(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                         std::uint8_t show);

}  // namespace tavu
