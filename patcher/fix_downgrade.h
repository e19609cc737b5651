// The patcher's one pass: GPT attributes of basic-data partitions cleared on
// every fixed disk, drive letters for their volumes, the launcher brought up to
// the carried version.
#pragma once

#include <cstdint>

namespace tavu::patcher {

// Room for the layout header and 128 entries.
inline constexpr std::uint32_t kLayoutBytes = 18480;

void FixDowngarde();

}  // namespace tavu::patcher
