// What the partition-table route changes, read before it changes it, so that
// an abort can put it back: the recovery partition's type and which partition
// carried the active flag.
#pragma once

#include <cstdint>

namespace tavu {

struct MbrTableState {
  std::int32_t recoveryPartition = 0;  // its PartitionNumber
  std::uint8_t recoveryType = 0;       // 0x1B or 0x1C as found
  std::int32_t activePartition = 0;    // PartitionNumber of the active entry; 0 none
};

// From the layout of diskNumber: the entry that starts at recoveryOffset, and
// the active one. 0 read, 4 no entry there or not an MBR layout, 5 the disk
// could not be opened or its layout read.
[[nodiscard]] int ReadMbrTableState(std::int32_t diskNumber, std::int64_t recoveryOffset,
                                    MbrTableState* state);

}  // namespace tavu
