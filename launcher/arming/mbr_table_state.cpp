#include "launcher/arming/mbr_table_state.h"

#include "common/disk_api.h"
#include "common/drive_layout_view.h"
#include "common/heap_block.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/win_records.h"
#include "launcher/arming/partition_locator.h"

namespace tavu {

int ReadMbrTableState(std::int32_t diskNumber, std::int64_t recoveryOffset, MbrTableState* state) {
  if (state == nullptr || diskNumber < 0 || diskNumber >= kNameableDisks) return kLocateBadArgument;
  *state = MbrTableState{};
  // An MBR layout holds four primary entries and the logical ones behind them;
  // room for 128 is far more than any real table.
  constexpr std::uint32_t kLayoutBytes = DriveLayoutSize(128);
  HeapBlock block = HeapBlock::Zeroed(kLayoutBytes);
  if (!block) return kLocateFailed;
  wchar_t name[32];
  PhysicalDriveName(diskNumber, name);
  UniqueHandle disk(Sys().disks->OpenDisk(name, false));
  if (!disk || !Sys().disks->GetLayout(disk.get(), block.get(), kLayoutBytes)) return kLocateFailed;
  const DriveLayoutView layout(block.get(), kLayoutBytes);
  if (layout.Style() != PARTITION_STYLE_MBR) return kLocateNotFound;
  state->signature = layout.MbrSignature();
  bool found = recoveryOffset == -1;
  for (std::uint32_t i = 0; i < layout.Count(); ++i) {
    const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
    if (entry.PartitionNumber == 0) continue;
    if (entry.StartingOffset == recoveryOffset && !found) {
      state->recoveryPartition = static_cast<std::int32_t>(entry.PartitionNumber);
      state->recoveryType = entry.Mbr.PartitionType;
      found = true;
    }
    if (entry.Mbr.BootIndicator != 0 && state->activePartition == 0) {
      state->activePartition = static_cast<std::int32_t>(entry.PartitionNumber);
      state->activeOffset = entry.StartingOffset;
    }
    if (state->entryCount < MbrTableState::kMaxEntries) {
      state->entries[state->entryCount++] = {static_cast<std::int32_t>(entry.PartitionNumber),
                                             entry.StartingOffset, entry.Mbr.PartitionType,
                                             entry.Mbr.BootIndicator != 0};
    }
  }
  return found ? kLocateFound : kLocateNotFound;
}

}  // namespace tavu
