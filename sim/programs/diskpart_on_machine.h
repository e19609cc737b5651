// diskpart's view of the simulated machine: the disks' layouts, written back
// through IOCTL_DISK_SET_DRIVE_LAYOUT_EX as the Virtual Disk Service does, and
// the volumes and letters the simulated Windows presents for them.
#pragma once

#include "sim/programs/diskpart.h"
#include "sim/seam/disks.h"
#include "sim/seam/volumes.h"

namespace tavu::sim {

class SimMachineDiskpart : public SimDiskpartTarget {
 public:
  SimMachineDiskpart(SimDisks& disks, SimVolumes& volumes) : disks_(disks), volumes_(volumes) {}

  int DiskStyle(int disk) override;
  bool HasPartition(int disk, int partition) override;
  bool SetMbrType(int disk, int partition, std::uint8_t type) override;
  bool SetActive(int disk, int partition) override;
  bool SetInactive(int disk, int partition) override;
  bool VolumeLetter(int disk, int partition, wchar_t* letter) override;
  bool RemoveLetter(int disk, int partition) override;
  std::size_t OfflineVolumes() override;
  bool Persist(const std::string& what) override;
  void WriteDone() override { disks_.faults().WriteDone(); }

 private:
  bool Reachable(int disk) const;
  // The layout entry of a partition number; -1 when none.
  int EntryIndex(const SimLayout& layout, int partition) const;
  bool Rewrite(int disk, int partition, bool setType, std::uint8_t type, bool makeActive,
               bool makeInactive = false);

  SimDisks& disks_;
  SimVolumes& volumes_;
};

}  // namespace tavu::sim
