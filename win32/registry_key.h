// An open registry key, closed with RegCloseKey on every path.
#pragma once

#include <windows.h>

namespace tavu::win32 {

class RegistryKey {
 public:
  // RegOpenKeyExW(parent, path, 0, access); status() keeps its answer.
  RegistryKey(HKEY parent, const wchar_t* path, REGSAM access)
      : status_(RegOpenKeyExW(parent, path, 0, access, &key_)) {
    if (status_ != ERROR_SUCCESS) key_ = nullptr;
  }
  // RegCreateKeyExW(parent, path, ..., REG_OPTION_NON_VOLATILE, access): the
  // key is made where it is missing, with the parent's inherited permissions.
  struct Create {};
  RegistryKey(Create, HKEY parent, const wchar_t* path, REGSAM access)
      : status_(RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key_,
                                nullptr)) {
    if (status_ != ERROR_SUCCESS) key_ = nullptr;
  }
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY get() const { return key_; }
  LSTATUS status() const { return status_; }

 private:
  HKEY key_ = nullptr;
  LSTATUS status_;
};

}  // namespace tavu::win32
