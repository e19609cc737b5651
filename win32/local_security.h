// A security descriptor that Windows allocated with LocalAlloc: made from SDDL,
// or handed out by a call such as GetNamedSecurityInfoW through out().
#pragma once

// <windows.h> first: the other SDK headers build on it.
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

namespace tavu::win32 {

class LocalSecurityDescriptor {
 public:
  LocalSecurityDescriptor() = default;
  explicit LocalSecurityDescriptor(const wchar_t* sddl) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd_, nullptr)) {
      sd_ = nullptr;
    }
  }
  ~LocalSecurityDescriptor() {
    if (sd_ != nullptr) LocalFree(sd_);
  }
  LocalSecurityDescriptor(const LocalSecurityDescriptor&) = delete;
  LocalSecurityDescriptor& operator=(const LocalSecurityDescriptor&) = delete;
  PSECURITY_DESCRIPTOR get() const { return sd_; }
  PSECURITY_DESCRIPTOR* out() { return &sd_; }

 private:
  PSECURITY_DESCRIPTOR sd_ = nullptr;
};

}  // namespace tavu::win32
