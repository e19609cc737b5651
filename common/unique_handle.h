// RAII owners for the seam's handles: each closes through the call that matches
// its kind, on every path, by construction.
#pragma once

#include "common/file_api.h"
#include "common/platform.h"
#include "common/task_api.h"
#include "common/volume_api.h"

namespace tavu {

template <bool (*CloseFn)(Handle)>
class UniqueHandleOf {
 public:
  UniqueHandleOf() = default;
  explicit UniqueHandleOf(Handle h) : h_(h) {}
  ~UniqueHandleOf() { reset(); }
  UniqueHandleOf(const UniqueHandleOf&) = delete;
  UniqueHandleOf& operator=(const UniqueHandleOf&) = delete;
  UniqueHandleOf(UniqueHandleOf&& other) noexcept : h_(other.release()) {}
  UniqueHandleOf& operator=(UniqueHandleOf&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = other.release();
    }
    return *this;
  }

  Handle get() const { return h_; }
  bool valid() const { return IsValidHandle(h_); }
  explicit operator bool() const { return valid(); }
  Handle release() {
    Handle h = h_;
    h_ = kInvalidHandle;
    return h;
  }
  void reset(Handle h = kInvalidHandle) {
    if (IsValidHandle(h_)) CloseFn(h_);
    h_ = h;
  }

 private:
  Handle h_ = kInvalidHandle;
};

namespace detail {
inline bool CloseKernelHandle(Handle h) { return Sys().files->Close(h); }
inline bool CloseFindHandle(Handle h) { return Sys().files->CloseFind(h); }
inline bool CloseVolumeSearchHandle(Handle h) { return Sys().volumes->CloseVolumeSearch(h); }
inline bool CloseTaskSession(Handle h) {
  Sys().tasks->CloseFolder(h);
  return true;
}
}  // namespace detail

// Files, disks, volumes, devices and processes: CloseHandle.
using UniqueHandle = UniqueHandleOf<&detail::CloseKernelHandle>;
// FindFirstFileW searches: FindClose.
using UniqueFind = UniqueHandleOf<&detail::CloseFindHandle>;
// FindFirstVolumeW searches: FindVolumeClose.
using UniqueVolumeSearch = UniqueHandleOf<&detail::CloseVolumeSearchHandle>;
// Task Scheduler sessions (a folder and its service): TaskApi::CloseFolder.
using UniqueTaskSession = UniqueHandleOf<&detail::CloseTaskSession>;

}  // namespace tavu
