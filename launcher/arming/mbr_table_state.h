// What the partition-table route changes, read before it changes it, so that
// an abort can put it back: the recovery partition's type and which partition
// carried the active flag.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavu {

struct MbrTableState {
  std::int32_t recoveryPartition = 0;  // its PartitionNumber
  std::uint8_t recoveryType = 0;       // 0x1B or 0x1C as found
  std::int32_t activePartition = 0;    // PartitionNumber of the active entry; 0 none
  std::int64_t activeOffset = 0;       // where that entry starts
  std::uint32_t signature = 0;         // the disk's, which outlives its number
  // Every partition of the table, by where it starts (its number may change).
  struct Entry {
    std::int32_t number = 0;
    std::int64_t offset = 0;
    std::uint8_t type = 0;
    bool active = false;
  };
  static constexpr std::size_t kMaxEntries = 16;
  Entry entries[kMaxEntries] = {};
  std::size_t entryCount = 0;
  // The entry starting at offset; null when none.
  const Entry* At(std::int64_t offset) const {
    for (std::size_t i = 0; i < entryCount; ++i) {
      if (entries[i].offset == offset) return &entries[i];
    }
    return nullptr;
  }
};

// From the layout of diskNumber: the entry that starts at recoveryOffset, and
// the active one. 0 read, 4 no entry there or not an MBR layout, 5 the disk
// could not be opened or its layout read.
// recoveryOffset may be -1 to read the table alone (0 then means read).
[[nodiscard]] int ReadMbrTableState(std::int32_t diskNumber, std::int64_t recoveryOffset,
                                    MbrTableState* state);

}  // namespace tavu
