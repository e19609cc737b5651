#include "win32/win32_resources.h"

#include <windows.h>

namespace tavu::win32 {

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
  DWORD ignored = 0;
  return GetFileVersionInfoSizeW(path, &ignored);
}

bool Win32Resources::VersionInfo(const wchar_t* path, std::uint32_t size, void* block) {
  return GetFileVersionInfoW(path, 0, size, block) != FALSE;
}

bool Win32Resources::QueryValue(const void* block, const wchar_t* subBlock, const std::uint8_t** value,
                                std::uint32_t* length) {
  // VerQueryValueW: a pointer into the block and the value's length (units for
  // text, bytes for binary values); FALSE for a missing sub-block.
  void* found = nullptr;
  UINT len = 0;
  BOOL ok = VerQueryValueW(block, subBlock, &found, &len);
  *value = ok ? static_cast<const std::uint8_t*>(found) : nullptr;
  *length = ok ? len : 0;
  return ok != FALSE;
}

}  // namespace tavu::win32
