// The bytes of a file from its current position, read until the size is
// reached or the file ends: a single ReadFile may deliver fewer than asked.
#pragma once

#include <cstddef>

#include "common/platform.h"

namespace tavu {

// *have: the bytes read (fewer at the file's end). False when a read fails;
// then GetLastError() says why.
[[nodiscard]] bool ReadUpTo(Handle file, void* buffer, std::size_t size, std::size_t* have);

}  // namespace tavu
