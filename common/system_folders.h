// Paths under the folders where Windows itself and its programs live, as this
// Windows names them: "C:\Windows" and "C:\Program Files" on most machines,
// elsewhere on some.
#pragma once

#include <cstddef>

namespace tavu {

// The Windows folder (GetSystemWindowsDirectoryW) followed by "\" and
// `below` ("Temp\RcvBoot.cmd"). False when it does not fit.
bool WindowsPath(const wchar_t* below, wchar_t* out, std::size_t capacity);
// The same under the folder of 64-bit programs on 64-bit Windows, the only
// program folder on 32-bit Windows: where the launcher is installed.
bool ProgramFilesPath(const wchar_t* below, wchar_t* out, std::size_t capacity);

// A folder as Windows answered it, usable as a base: "X:\" and at least one
// more character, no "." or ".." part, no trailing separator kept. Anything
// else is refused and the usual folder is used instead.
bool UsableSystemFolder(const wchar_t* folder);

}  // namespace tavu
