#include "common/read_up_to.h"

#include <cstdint>

#include "common/file_api.h"
#include "common/system_api.h"

namespace tavu {

bool ReadUpTo(Handle file, void* buffer, std::size_t size, std::size_t* have) {
  FileApi& files = *Sys().files;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  *have = 0;
  while (*have < size) {
    std::uint32_t got = 0;
    if (!files.Read(file, bytes + *have, static_cast<std::uint32_t>(size - *have), &got)) return false;
    if (got == 0) break;
    *have += got;
  }
  return true;
}

}  // namespace tavu
