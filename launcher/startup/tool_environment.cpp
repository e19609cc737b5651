#include "launcher/startup/tool_environment.h"

#include <initializer_list>

#include "common/system_folders.h"
#include "common/wide_text.h"

namespace tavu {

namespace {

// Appends "name=" and the value's parts, then the entry's NUL.
bool AppendEntry(wchar_t* block, std::size_t capacity, std::size_t* used, const wchar_t* name,
                 std::initializer_list<const wchar_t*> parts) {
  wchar_t entry[kLongTextChars];
  if (!CopyBounded(entry, kLongTextChars, name) || !AppendBounded(entry, kLongTextChars, L"=")) return false;
  for (const wchar_t* part : parts) {
    if (!AppendBounded(entry, kLongTextChars, part)) return false;
  }
  std::size_t n = 0;
  while (entry[n] != L'\0') ++n;
  if (*used + n + 2 > capacity) return false;
  for (std::size_t i = 0; i <= n; ++i) block[*used + i] = entry[i];
  *used += n + 1;
  return true;
}

}  // namespace

bool BuildToolEnvironment(wchar_t* block, std::size_t capacity) {
  if (block == nullptr || capacity < 2) return false;
  wchar_t windows[kPathChars];
  wchar_t system32[kPathChars];
  wchar_t temp[kPathChars];
  // WindowsPath gives "C:\Windows\" for an empty part; the entries want the
  // folder without its separator.
  if (!WindowsPath(L"", windows, kPathChars) || !WindowsPath(L"System32", system32, kPathChars) ||
      !WindowsPath(L"Temp", temp, kPathChars)) {
    return false;
  }
  std::size_t length = 0;
  while (windows[length] != L'\0') ++length;
  windows[length - 1] = L'\0';
  const wchar_t drive[3] = {windows[0], L':', L'\0'};
  std::size_t used = 0;
  // In order of their names, compared without regard to case.
  const bool ok =
      // Where cmd.exe and the programs it starts look for the command processor.
      AppendEntry(block, capacity, &used, L"ComSpec", {system32, L"\\cmd.exe"}) &&
      // Windows' own folders only: cmd.exe looks for "bcdedit" in them.
      AppendEntry(block, capacity, &used, L"PATH", {system32, L";", windows, L";", system32, L"\\Wbem"}) &&
      // Windows' default list: with it a name without extension finds the .EXE
      // in System32 before a .BAT or .CMD of the same name.
      AppendEntry(block, capacity, &used, L"PATHEXT",
                  {L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"}) &&
      AppendEntry(block, capacity, &used, L"SystemDrive", {drive}) &&
      // Windows' own DLLs build the paths of their files from it; a process
      // without it fails in places far from the cause.
      AppendEntry(block, capacity, &used, L"SystemRoot", {windows}) &&
      // Scratch files of the elevated tools stay where users cannot redirect them.
      AppendEntry(block, capacity, &used, L"TEMP", {temp}) &&
      AppendEntry(block, capacity, &used, L"TMP", {temp}) &&
      // The older name of SystemRoot, which older tools still read.
      AppendEntry(block, capacity, &used, L"windir", {windows});
  block[ok ? used : 0] = L'\0';
  if (!ok && capacity > 1) block[1] = L'\0';
  return ok;
}

}  // namespace tavu
