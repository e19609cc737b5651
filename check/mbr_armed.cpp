#include "check/mbr_armed.h"

#include "common/disk_api.h"
#include "common/drive_layout_view.h"
#include "common/heap_block.h"
#include "common/searchable_disks.h"

namespace tavu::check {

namespace {

constexpr std::uint32_t kLayoutBytes = 14592;
constexpr std::uint8_t kTypeFat32Lba = 0x0C;
constexpr std::uint8_t kTypeNtfs = 0x07;

// Fills state from one MBR layout; partition 0 picks the active 0x0C entry.
bool FromLayout(const DriveLayoutView& layout, std::int32_t partition, MbrPartitionState* state) {
  if (layout.Style() != PARTITION_STYLE_MBR) return false;
  for (std::uint32_t i = 0; i < layout.Count(); ++i) {
    const PARTITION_INFORMATION_EX& e = layout.Entry(i);
    if (e.PartitionNumber == 0) continue;
    const bool picked = partition != 0 ? static_cast<std::int32_t>(e.PartitionNumber) == partition
                                       : e.Mbr.PartitionType == kTypeFat32Lba && e.Mbr.BootIndicator != 0;
    if (picked && !state->found) {
      state->found = true;
      state->partition = static_cast<std::int32_t>(e.PartitionNumber);
      state->offset = e.StartingOffset;
      state->type = e.Mbr.PartitionType;
      state->active = e.Mbr.BootIndicator != 0;
    } else if (e.Mbr.PartitionType == kTypeNtfs && state->windowsPartition == 0) {
      state->windowsPartition = static_cast<std::int32_t>(e.PartitionNumber);
      state->windowsActive = e.Mbr.BootIndicator != 0;
    }
  }
  return state->found;
}

// The MBR state of a disk the launcher's walk searches, from its layout.
bool ReadLayout(const SearchableDisks& disks, std::int32_t partition, HeapBlock& area, MbrPartitionState* state) {
  if (!disks.Searched() || !Sys().disks->GetLayout(disks.Disk(), area.get(), kLayoutBytes)) return false;
  *state = MbrPartitionState{};
  state->disk = disks.Number();
  return FromLayout(DriveLayoutView(area.get(), kLayoutBytes), partition, state);
}

}  // namespace

// Both walk the disks as the launcher does: a stick or a card is never armed by it.
bool ReadMbrPartition(std::int32_t disk, std::int32_t partition, MbrPartitionState* state) {
  HeapBlock area = HeapBlock::Uninitialised(kLayoutBytes);
  *state = MbrPartitionState{};
  if (!area || partition == 0) return false;
  SearchableDisks disks(false);
  while (disks.Next()) {
    if (disks.Number() == disk) return ReadLayout(disks, partition, area, state);
  }
  return false;
}

bool FindMbrArmedPartition(MbrPartitionState* state) {
  HeapBlock area = HeapBlock::Uninitialised(kLayoutBytes);
  if (!area) return false;
  SearchableDisks disks(false);
  while (disks.Next()) {
    if (ReadLayout(disks, 0, area, state) && state->windowsPartition != 0 && !state->windowsActive) return true;
  }
  *state = MbrPartitionState{};
  return false;
}

}  // namespace tavu::check
