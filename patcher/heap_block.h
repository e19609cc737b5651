// Zero-filled heap blocks for the records Windows fills in. new (std::nothrow)
// keeps an allocation failure an ordinary result in code built without
// exceptions; byte arrays give storage that the record types may live in.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace tavu::patcher {

using HeapBlock = std::unique_ptr<std::byte[]>;

// Null when the heap is exhausted.
inline HeapBlock AllocZeroed(std::size_t bytes) { return HeapBlock(new (std::nothrow) std::byte[bytes]()); }

template <class T>
T* As(const HeapBlock& block) {
  return reinterpret_cast<T*>(block.get());
}

}  // namespace tavu::patcher
