#include "sim/core/last_error.h"

namespace tavu::sim {

namespace {
thread_local std::uint32_t t_lastError = 0;
}

void SetLastError(std::uint32_t error) { t_lastError = error; }
std::uint32_t GetLastErrorValue() { return t_lastError; }

}  // namespace tavu::sim
