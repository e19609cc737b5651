// The shipped programs' own global allocation functions, linked into those
// programs only (the Windows test programs keep the C++ library's). The
// library's versions throw std::bad_alloc, and the nothrow ones catch it: either
// brings the whole exception machinery, the C++ strings and the demangler of the
// terminate handler into programs that never throw. These take the C runtime's
// heap directly.
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

void* Allocate(std::size_t bytes) noexcept {
  // A request for nothing still gets a block of its own, as the language asks.
  return std::malloc(bytes != 0 ? bytes : 1);
}

// An allocation that may not fail ends the program, as the library's does
// when std::bad_alloc meets no handler in a program without exceptions.
void* AllocateOrEnd(std::size_t bytes) noexcept {
  void* p = Allocate(bytes);
  if (p == nullptr) std::abort();
  return p;
}

}  // namespace

void* operator new(std::size_t bytes) { return AllocateOrEnd(bytes); }
void* operator new[](std::size_t bytes) { return AllocateOrEnd(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return Allocate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return Allocate(bytes); }

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
