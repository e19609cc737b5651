#include "win32/win32_resources.h"

#include <windows.h>

#include "win32/dll_search.h"

namespace tavu::win32 {

namespace {

// VERSION.dll is no KnownDLL: named in the import table, it would be looked
// for beside the program first, and a copy planted there would run as
// administrator before the entry. So it is loaded from the system folder, once,
// on first use, and stays loaded until the process ends. Plain data, filled
// under InitOnceExecuteOnce: nothing runs before the entry, and two threads
// asking at once load it once.
struct VersionDll {
  DWORD(WINAPI* size)(LPCWSTR, LPDWORD);
  BOOL(WINAPI* info)(LPCWSTR, DWORD, DWORD, LPVOID);
  BOOL(WINAPI* query)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  DWORD error;
};

INIT_ONCE g_versionOnce = INIT_ONCE_STATIC_INIT;
VersionDll g_version;

template <typename Fn>
bool Bind(HMODULE module, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *fn != nullptr;
}

BOOL CALLBACK LoadVersionDll(PINIT_ONCE, PVOID, PVOID*) {
  HMODULE module = LoadSystemDll(L"version.dll");
  if (module == nullptr) {
    g_version.error = GetLastError();
  } else if (!Bind(module, "GetFileVersionInfoSizeW", &g_version.size) ||
             !Bind(module, "GetFileVersionInfoW", &g_version.info) ||
             !Bind(module, "VerQueryValueW", &g_version.query)) {
    g_version.size = nullptr;
    g_version.error = ERROR_PROC_NOT_FOUND;
  }
  return TRUE;
}

// Null, with the reason as the last error, when the DLL or one of its
// functions could not be had: every version call then fails as it does for a
// file without version information.
const VersionDll* Version() {
  InitOnceExecuteOnce(&g_versionOnce, LoadVersionDll, nullptr, nullptr);
  if (g_version.size != nullptr) return &g_version;
  SetLastError(g_version.error);
  return nullptr;
}

}  // namespace

bool Win32Resources::OwnResource(std::uint16_t id, const wchar_t* type, const std::uint8_t** bytes,
                                 std::uint32_t* size) {
  *bytes = nullptr;
  *size = 0;
  // Resources of a loaded module need no unlock or free: they live as long as it.
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (loaded == nullptr) return false;
  const void* locked = LockResource(loaded);
  if (locked == nullptr) return false;
  *bytes = static_cast<const std::uint8_t*>(locked);
  *size = SizeofResource(nullptr, found);
  return true;
}

std::uint32_t Win32Resources::VersionInfoSize(const wchar_t* path) {
  const VersionDll* dll = Version();
  if (dll == nullptr) return 0;
  DWORD ignored = 0;
  return dll->size(path, &ignored);
}

bool Win32Resources::VersionInfo(const wchar_t* path, std::uint32_t size, void* block) {
  const VersionDll* dll = Version();
  return dll != nullptr && dll->info(path, 0, size, block) != FALSE;
}

bool Win32Resources::QueryValue(const void* block, const wchar_t* subBlock, const std::uint8_t** value,
                                std::uint32_t* length) {
  // VerQueryValueW: a pointer into the block and the value's length (units for
  // text, bytes for binary values); FALSE for a missing sub-block.
  void* found = nullptr;
  UINT len = 0;
  const VersionDll* dll = Version();
  BOOL ok = dll != nullptr ? dll->query(block, subBlock, &found, &len) : FALSE;
  *value = ok ? static_cast<const std::uint8_t*>(found) : nullptr;
  *length = ok ? len : 0;
  return ok != FALSE;
}

}  // namespace tavu::win32
