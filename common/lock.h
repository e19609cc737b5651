// A lock held around whole calls that two threads may make at once. On Windows
// it is a critical section: std::mutex there is the posix thread model's, which
// brings winpthread and the library's exception machinery into the programs.
#pragma once

#if !defined(_WIN32)
#include <mutex>
#endif

namespace tavu {

class Lock {
 public:
  Lock() noexcept;
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Enter() noexcept;
  void Leave() noexcept;

 private:
#if defined(_WIN32)
  // Room for a CRITICAL_SECTION (24 bytes on 32-bit Windows, 40 on 64-bit),
  // kept opaque so that this header does not need <windows.h>; the
  // implementation checks that it fits.
  alignas(void*) unsigned char section_[6 * sizeof(void*)];
#else
  std::mutex mutex_;
#endif
};

#if !defined(_WIN32)
inline Lock::Lock() noexcept = default;
inline Lock::~Lock() = default;
inline void Lock::Enter() noexcept { mutex_.lock(); }
inline void Lock::Leave() noexcept { mutex_.unlock(); }
#endif

class LockHold {
 public:
  explicit LockHold(Lock& lock) noexcept : lock_(lock) { lock_.Enter(); }
  ~LockHold() { lock_.Leave(); }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;

 private:
  Lock& lock_;
};

}  // namespace tavu
