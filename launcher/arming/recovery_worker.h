// The launcher's only background thread: prepares the next boot into recovery.
#pragma once

#include <cstdint>

namespace tavu {

// Thread start routine; the parameter is not used. 0 after the restart was
// started, 1 on every abort.
std::uint32_t RecoveryWorker(void* parameter);

}  // namespace tavu
