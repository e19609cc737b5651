#include "win32/dll_search.h"

#include "common/wide_text.h"

namespace tavu::win32 {

void RestrictDllSearchToSystem() {
  using Fn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  Fn fn = nullptr;
  if (kernel != nullptr) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  }
  if (fn != nullptr && fn(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryW(L"");
}

HMODULE LoadSystemDll(const wchar_t* fileName) {
  // Always by full path: for a bare name the loader first takes any loaded
  // module of that name, from whatever folder it came, search flags or not.
  // The path names System32, which WOW64 redirects for a 32-bit program as
  // long as redirection is on, as it is wherever the programs read versions.
  wchar_t path[MAX_PATH];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !AppendBounded(path, MAX_PATH, L"\\") ||
      !AppendBounded(path, MAX_PATH, fileName)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // Its own dependencies come from System32 alone too. A Windows 7 without
  // KB2533623 knows no LOAD_LIBRARY_SEARCH_* flag and refuses it with
  // ERROR_INVALID_PARAMETER; there the DLL's own folder, System32, is searched
  // first for them.
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace tavu::win32
