#include "sim/programs/diskpart_on_machine.h"

#include <cstring>
#include <vector>

#include "common/unique_handle.h"

namespace tavu::sim {

bool SimMachineDiskpart::Reachable(int disk) const {
  return disk >= 0 && disk < disks_.Count() && disks_.Kind(disk) != DiskKind::Absent && disks_.Image(disk) != nullptr;
}

int SimMachineDiskpart::DiskStyle(int disk) {
  if (!Reachable(disk)) return -1;
  return static_cast<int>(disks_.Layout(disk).style);
}

int SimMachineDiskpart::EntryIndex(const SimLayout& layout, int partition) const {
  if (partition <= 0) return -1;
  for (std::size_t i = 0; i < layout.entries.size(); ++i) {
    if (static_cast<int>(layout.entries[i].PartitionNumber) == partition) return static_cast<int>(i);
  }
  return -1;
}

bool SimMachineDiskpart::HasPartition(int disk, int partition) {
  return Reachable(disk) && EntryIndex(disks_.Layout(disk), partition) >= 0;
}

bool SimMachineDiskpart::Rewrite(int disk, int partition, bool setType, std::uint8_t type, bool makeActive,
                                 bool makeInactive) {
  if (!Reachable(disk)) return false;
  SimLayout now = disks_.Layout(disk);
  int index = EntryIndex(now, partition);
  if (now.style != PARTITION_STYLE_MBR || index < 0) return false;

  std::vector<std::uint8_t> buffer(DriveLayoutSize(static_cast<std::uint32_t>(now.entries.size())));
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
  layout->PartitionStyle = now.style;
  layout->PartitionCount = static_cast<std::uint32_t>(now.entries.size());
  layout->Mbr = now.mbr;
  auto* entries = reinterpret_cast<PARTITION_INFORMATION_EX*>(buffer.data() + kDriveLayoutHeaderSize);
  for (std::size_t i = 0; i < now.entries.size(); ++i) {
    PARTITION_INFORMATION_EX e = now.entries[i];
    bool selected = static_cast<int>(i) == index;
    if (selected && setType) {
      e.Mbr.PartitionType = type;
      e.RewritePartition = 1;
    }
    if (makeActive && e.PartitionNumber != 0) {
      // One active partition per disk: the others lose their boot indicator.
      std::uint8_t boot = selected ? 1 : 0;
      if (e.Mbr.BootIndicator != boot) e.RewritePartition = 1;
      e.Mbr.BootIndicator = boot;
    }
    if (makeInactive && selected && e.Mbr.BootIndicator != 0) {
      e.Mbr.BootIndicator = 0;
      e.RewritePartition = 1;
    }
    std::memcpy(&entries[i], &e, sizeof(e));
  }

  wchar_t name[32];
  PhysicalDriveName(disk, name);
  UniqueHandle handle(disks_.OpenDisk(name, true));
  // The command that asked for this write was counted already.
  return handle.valid() &&
         disks_.SetLayout(handle.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size()), false);
}

bool SimMachineDiskpart::Persist(const std::string& what) { return disks_.faults().PersistentWrite(what); }

bool SimMachineDiskpart::SetMbrType(int disk, int partition, std::uint8_t type) {
  return Rewrite(disk, partition, true, type, false);
}

bool SimMachineDiskpart::SetActive(int disk, int partition) { return Rewrite(disk, partition, false, 0, true); }

bool SimMachineDiskpart::SetInactive(int disk, int partition) {
  return Rewrite(disk, partition, false, 0, false, true);
}

bool SimMachineDiskpart::VolumeLetter(int disk, int partition, wchar_t* letter) {
  *letter = 0;
  if (!Reachable(disk)) return false;
  SimLayout layout = disks_.Layout(disk);
  int index = EntryIndex(layout, partition);
  if (index < 0) return false;
  SimVolumes::Info v = volumes_.VolumeOf(disk, layout.entries[static_cast<std::size_t>(index)].StartingOffset);
  if (v.name.empty()) return false;
  *letter = v.letter;
  return true;
}

std::size_t SimMachineDiskpart::OfflineVolumes() {
  std::size_t n = 0;
  for (const SimVolumes::Info& v : volumes_.Volumes()) n += v.offline ? 1 : 0;
  return n;
}

bool SimMachineDiskpart::RemoveLetter(int disk, int partition) {
  wchar_t letter = 0;
  if (!VolumeLetter(disk, partition, &letter) || letter == 0) return false;
  volumes_.RemoveLetter(letter);
  return true;
}

}  // namespace tavu::sim
