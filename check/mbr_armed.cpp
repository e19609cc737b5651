#include "check/mbr_armed.h"

#include "common/disk_api.h"
#include "common/drive_layout_view.h"
#include "common/heap_block.h"
#include "common/unique_handle.h"

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

bool ReadDisk(std::int32_t disk, std::int32_t partition, HeapBlock& area, MbrPartitionState* state) {
  wchar_t name[32];
  PhysicalDriveName(disk, name);
  UniqueHandle handle(Sys().disks->OpenDisk(name, false));
  if (!handle) return false;
  // Only the notebook's own disks: a stick is never armed by the launcher.
  DISK_GEOMETRY geometry{};
  if (Sys().disks->GetGeometry(handle.get(), &geometry) && geometry.MediaType == kMediaTypeRemovable)
    return false;
  if (IsUsbDisk(handle.get())) return false;
  if (!Sys().disks->GetLayout(handle.get(), area.get(), kLayoutBytes)) return false;
  *state = MbrPartitionState{};
  state->disk = disk;
  return FromLayout(DriveLayoutView(area.get(), kLayoutBytes), partition, state);
}

}  // namespace

bool ReadMbrPartition(std::int32_t disk, std::int32_t partition, MbrPartitionState* state) {
  HeapBlock area = HeapBlock::Uninitialised(kLayoutBytes);
  *state = MbrPartitionState{};
  return area && partition != 0 && ReadDisk(disk, partition, area, state);
}

bool FindMbrArmedPartition(MbrPartitionState* state) {
  HeapBlock area = HeapBlock::Uninitialised(kLayoutBytes);
  if (!area) return false;
  for (std::int32_t n = 0; n < kNameableDisks; ++n) {
    if (ReadDisk(n, 0, area, state) && state->windowsPartition != 0 && !state->windowsActive) return true;
  }
  *state = MbrPartitionState{};
  return false;
}

}  // namespace tavu::check
