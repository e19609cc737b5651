// The environment that every program the launcher starts receives: Windows'
// own, never the one the owner's account handed the elevated launcher. That
// one is the owner's to change: a PATHEXT of ".CMD" and a folder of the
// owner's at the head of PATH make "bcdedit" in a batch file run the owner's
// bcdedit.cmd with the administrator's rights.
#pragma once

#include "common/wide_text.h"

namespace tavu {

namespace tool_environment_detail {

// Each entry "NAME=VALUE" ends with its own NUL; the literal's terminator then
// ends the block. One literal per entry, so that no escape runs into the next.
inline constexpr wchar_t kBlock[] =
    // Where cmd.exe and the programs it starts look for the command processor.
    L"ComSpec=C:\\Windows\\System32\\cmd.exe\0"
    // Windows' own folders only: cmd.exe looks for "bcdedit" in them.
    L"PATH=C:\\Windows\\System32;C:\\Windows;C:\\Windows\\System32\\Wbem\0"
    // Windows' default list: with it a name without extension finds the .EXE
    // in System32 before a .BAT or .CMD of the same name.
    L"PATHEXT=.COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC\0"
    L"SystemDrive=C:\0"
    // Windows' own DLLs build the paths of their files from it; a process
    // without it fails in places far from the cause.
    L"SystemRoot=C:\\Windows\0"
    // Scratch files of the elevated tools stay where users cannot redirect them.
    L"TEMP=C:\\Windows\\Temp\0"
    L"TMP=C:\\Windows\\Temp\0"
    // The older name of SystemRoot, which older tools still read.
    L"windir=C:\\Windows\0";

// Whether the name of the entry at a comes before the one at b, compared
// without regard to case, character by character.
constexpr bool NameBefore(const wchar_t* a, const wchar_t* b) {
  for (;; ++a, ++b) {
    const bool endA = *a == L'=';
    const bool endB = *b == L'=';
    if (endA || endB) return endA && !endB;
    if (UpperAscii(*a) != UpperAscii(*b)) return UpperAscii(*a) < UpperAscii(*b);
  }
}

// Windows keeps an environment block sorted by name, case-insensitively, and
// a program that searches it may rely on that.
constexpr bool SortedByName(const wchar_t* block) {
  const wchar_t* previous = nullptr;
  for (const wchar_t* entry = block; *entry != L'\0';) {
    if (previous != nullptr && !NameBefore(previous, entry)) return false;
    previous = entry;
    while (*entry != L'\0') ++entry;
    ++entry;
  }
  return true;
}

static_assert(SortedByName(kBlock));
static_assert(kBlock[sizeof(kBlock) / sizeof(kBlock[0]) - 1] == L'\0' &&
              kBlock[sizeof(kBlock) / sizeof(kBlock[0]) - 2] == L'\0');

}  // namespace tool_environment_detail

// For CreateProcessW with CREATE_UNICODE_ENVIRONMENT.
inline const wchar_t* ToolEnvironment() { return tool_environment_detail::kBlock; }

}  // namespace tavu
