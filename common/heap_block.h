// A heap block that is given back on every path. new (std::nothrow) keeps an
// allocation failure an ordinary result in code built without exceptions; a
// byte array gives storage that the Windows records may live in (operator new
// aligns it for any of them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace tavu {

class HeapBlock {
 public:
  HeapBlock() = default;

  // Filled with zero bytes: for records that Windows fills only in part.
  [[nodiscard]] static HeapBlock Zeroed(std::size_t bytes) {
    return HeapBlock(new (std::nothrow) std::uint8_t[bytes]());
  }
  // Left as the heap hands it out: for areas that an exact read fills whole.
  [[nodiscard]] static HeapBlock Uninitialised(std::size_t bytes) {
    return HeapBlock(new (std::nothrow) std::uint8_t[bytes]);
  }

  // Empty when the heap was exhausted.
  explicit operator bool() const { return p_ != nullptr; }
  [[nodiscard]] std::uint8_t* get() const { return p_.get(); }
  template <class T>
  [[nodiscard]] T* As() const {
    return reinterpret_cast<T*>(p_.get());
  }

 private:
  explicit HeapBlock(std::uint8_t* p) : p_(p) {}
  std::unique_ptr<std::uint8_t[]> p_;
};

}  // namespace tavu
