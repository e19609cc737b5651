// The partition-table route's arming as the disks show it: the worker's
// first diskpart script makes the hidden recovery partition visible (0x0C)
// and active, so the next start boots it; an earlier run that stopped after
// that script left exactly this, with no logon task to switch the firmware
// mode off afterwards.
#pragma once

#include <cstdint>

namespace tavu::check {

struct MbrPartitionState {
  bool found = false;
  std::int32_t disk = 0;
  std::int32_t partition = 0;
  std::int64_t offset = 0;  // its StartingOffset
  std::uint8_t type = 0;
  bool active = false;
  // The other partition of that disk that holds Windows (type 0x07), and
  // whether it is active.
  std::int32_t windowsPartition = 0;
  bool windowsActive = false;
};

// The recovery partition's state on disk, partition (numbers the locator gave).
// False when the disk's layout cannot be read or has no such partition.
bool ReadMbrPartition(std::int32_t disk, std::int32_t partition, MbrPartitionState* state);

// The first fixed MBR disk whose active partition is a visible FAT32 one
// (0x0C) while a Windows partition (0x07) on it is not active: what the
// worker's first script leaves.
bool FindMbrArmedPartition(MbrPartitionState* state);

}  // namespace tavu::check
