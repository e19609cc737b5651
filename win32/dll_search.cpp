#include "win32/dll_search.h"

#include "common/wide_text.h"

namespace tavu::win32 {

void RestrictDllSearchToSystem() {
  using Fn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto fn = kernel == nullptr ? nullptr
                              : reinterpret_cast<Fn>(reinterpret_cast<void*>(
                                    GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (fn != nullptr && fn(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryW(L"");
}

HMODULE LoadSystemDll(const wchar_t* fileName) {
  HMODULE module = LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A Windows 7 without KB2533623 knows no LOAD_LIBRARY_SEARCH_* flag and
  // refuses it with ERROR_INVALID_PARAMETER: name the file by its full path in
  // the system folder instead, never by its bare name.
  if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  wchar_t path[MAX_PATH];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !AppendBounded(path, MAX_PATH, L"\\") ||
      !AppendBounded(path, MAX_PATH, fileName)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace tavu::win32
