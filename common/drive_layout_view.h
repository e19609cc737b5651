// Views over the answers of IOCTL_DISK_GET_DRIVE_LAYOUT_EX and
// IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS as they lie in an area of the caller's:
// a header, then the entries one after the other. Each record declares a
// single entry, so every other one lies past the declared array; the views
// reach them through the area, and never more of them than the area holds,
// whatever count the answer claims.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/win_records.h"

namespace tavu {

// How many entries of entryBytes an area holds behind a header of headerBytes.
constexpr std::uint32_t EntriesBehind(std::size_t areaBytes, std::size_t headerBytes,
                                      std::size_t entryBytes) {
  return areaBytes < headerBytes ? 0 : static_cast<std::uint32_t>((areaBytes - headerBytes) / entryBytes);
}
constexpr std::uint32_t DriveLayoutRoom(std::size_t areaBytes) {
  return EntriesBehind(areaBytes, kDriveLayoutHeaderSize, sizeof(PARTITION_INFORMATION_EX));
}
constexpr std::uint32_t VolumeExtentsRoom(std::size_t areaBytes) {
  return EntriesBehind(areaBytes, offsetof(VOLUME_DISK_EXTENTS, Extents), sizeof(DISK_EXTENT));
}
static_assert(DriveLayoutRoom(DriveLayoutSize(101)) == 101 &&
              DriveLayoutRoom(kDriveLayoutHeaderSize - 1) == 0);
static_assert(VolumeExtentsRoom(VolumeExtentsSize(257)) == 257);

class DriveLayoutView {
 public:
  // area: aligned for the record, areaBytes long.
  DriveLayoutView(void* area, std::size_t areaBytes)
      : layout_(static_cast<DRIVE_LAYOUT_INFORMATION_EX*>(area)), room_(DriveLayoutRoom(areaBytes)) {}

  [[nodiscard]] std::uint32_t Style() const { return layout_->PartitionStyle; }
  // MBR layouts only.
  [[nodiscard]] std::uint32_t MbrSignature() const { return layout_->Mbr.Signature; }
  [[nodiscard]] std::uint32_t Count() const {
    const std::uint32_t count = layout_->PartitionCount;
    return count < room_ ? count : room_;
  }
  // i below Count().
  [[nodiscard]] PARTITION_INFORMATION_EX& Entry(std::uint32_t i) const { return *LayoutEntry(layout_, i); }

 private:
  DRIVE_LAYOUT_INFORMATION_EX* layout_;
  std::uint32_t room_;
};

class VolumeExtentsView {
 public:
  // area: aligned for the record, areaBytes long.
  VolumeExtentsView(const void* area, std::size_t areaBytes)
      : extents_(static_cast<const VOLUME_DISK_EXTENTS*>(area)), room_(VolumeExtentsRoom(areaBytes)) {}

  [[nodiscard]] std::uint32_t Count() const {
    const std::uint32_t count = extents_->NumberOfDiskExtents;
    return count < room_ ? count : room_;
  }
  // i below Count().
  [[nodiscard]] const DISK_EXTENT& Entry(std::uint32_t i) const { return *ExtentAt(extents_, i); }

 private:
  const VOLUME_DISK_EXTENTS* extents_;
  std::uint32_t room_;
};

}  // namespace tavu
