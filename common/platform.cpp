#include "common/platform.h"

namespace tavu {

namespace {
Platform g_platform;
}

Platform& Sys() { return g_platform; }

void SetPlatform(const Platform& platform) { g_platform = platform; }

}  // namespace tavu
