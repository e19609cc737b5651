#include <windows.h>

#include "common/lock.h"

namespace tavu {

namespace {
CRITICAL_SECTION* Section(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }
}  // namespace

Lock::Lock() noexcept {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof section_, "a critical section must fit the lock's storage");
  static_assert(alignof(CRITICAL_SECTION) <= alignof(void*), "the lock's storage is aligned for pointers only");
  // Cannot fail on Windows Vista and later; it raises no exception there either.
  InitializeCriticalSection(Section(section_));
}

Lock::~Lock() { DeleteCriticalSection(Section(section_)); }

void Lock::Enter() noexcept { EnterCriticalSection(Section(section_)); }

void Lock::Leave() noexcept { LeaveCriticalSection(Section(section_)); }

}  // namespace tavu
