// Any bytes as a program file, and as a version block on their own: the
// readers must stay inside them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sim/formats/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tavu::sim::ReadAtFn read = [&](std::uint64_t offset, void* out, std::size_t n) {
    if (offset > size || n > size - offset) return false;
    std::memcpy(out, data + offset, n);
    return true;
  };
  std::vector<std::uint8_t> block;
  const wchar_t* queries[] = {L"\\", L"\\VarFileInfo\\Translation", L"\\StringFileInfo\\040904b0\\FileVersion",
                              L"\\\\StringFileInfo\\\\040904B0\\FileVersion\\"};
  // The bytes as a whole file, and as a version block on their own.
  if (tavu::sim::ReadVersionResource(read, size, &block)) {
    for (const wchar_t* q : queries) {
      std::size_t offset = 0;
      std::uint32_t length = 0;
      tavu::sim::QueryVersionValue(block.data(), block.size(), q, &offset, &length);
    }
  }
  std::vector<std::uint8_t> copy(data, data + size);  // exact size: overreads are caught
  for (const wchar_t* q : queries) {
    std::size_t offset = 0;
    std::uint32_t length = 0;
    if (tavu::sim::QueryVersionValue(copy.data(), copy.size(), q, &offset, &length)) {
      if (offset > copy.size()) __builtin_trap();
    }
  }
  return 0;
}
