// The calling thread's last error, shared by every simulated component, as
// Windows keeps one per thread.
#pragma once

#include <cstdint>

namespace tavu::sim {

void SetLastError(std::uint32_t error);
std::uint32_t GetLastErrorValue();

}  // namespace tavu::sim
