#include "launcher/arming/partition_locator.h"

#include <cstring>

#include "common/disk_api.h"
#include "common/drive_layout_view.h"
#include "common/heap_block.h"
#include "common/searchable_disks.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/volume_api.h"
#include "common/volume_label.h"
#include "common/wide_text.h"
#include "common/win_errors.h"
#include "common/win_records.h"
#include "launcher/arming/mbr_layout.h"

namespace tavu {

namespace {

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX answer area: the header and 101 entries.
constexpr std::uint32_t kLayoutBufferSize = 14592;
// IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS answer area: the count and 101 extents.
constexpr std::uint32_t kExtentsBufferSize = 2432;
// GetLogicalDriveStringsW: 26 roots of four characters, without the list's end.
constexpr std::uint32_t kDriveStringsChars = 104;
constexpr std::uint32_t kRootChars = 4;
// GetVolumeInformationW label buffer.
constexpr std::uint32_t kVolumeInfoLabelChars = 200;
constexpr wchar_t kRecoveryLabel[] = L"Recovery";

// The layout area, on the heap, and what was read into it.
class LayoutBuffer {
 public:
  LayoutBuffer()
      : block_(HeapBlock::Uninitialised(kLayoutBufferSize)), view_(block_.get(), kLayoutBufferSize) {}
  explicit operator bool() const { return static_cast<bool>(block_); }

  // IOCTL_DISK_GET_DRIVE_LAYOUT_EX into the area.
  [[nodiscard]] bool Read(Handle disk) {
    return Sys().disks->GetLayout(disk, block_.get(), kLayoutBufferSize);
  }
  const DriveLayoutView& View() const { return view_; }

 private:
  HeapBlock block_;
  DriveLayoutView view_;
};

UniqueHandle OpenPhysicalDisk(std::int32_t number) {
  wchar_t name[32];
  PhysicalDriveName(number, name);
  return UniqueHandle(Sys().disks->OpenDisk(name, false));
}

// Records why a search gives up, then gives kLocateFailed.
int GiveUp(LocateDetail* detail, std::int32_t disk, std::uint32_t error) {
  if (detail != nullptr) {
    detail->failedDisk = disk;
    detail->error = error;
  }
  return kLocateFailed;
}

void CountOpened(LocateDetail* detail) {
  if (detail != nullptr) ++detail->disksOpened;
}

// Whether the walk passes the disk over; a disk without a medium holds no
// partition at all and is noted for the support check.
bool PassedOver(SearchableDisks& disks, LocateDetail* detail) {
  if (disks.Verdict() == DiskVerdict::NoMedium && detail != nullptr) {
    detail->noMediumDisks |= 1u << static_cast<unsigned>(disks.Number());
  }
  return !disks.Searched();
}

// A layout read that failed: an empty card-reader slot answers ERROR_NOT_READY
// and is passed over like a disk without a recovery partition.
bool PassedOverAfterFailedLayout(SearchableDisks& disks, LocateDetail* detail) {
  if (!disks.PassOverAfterFailedLayout()) return false;
  return PassedOver(disks, detail);
}

bool IsHiddenFat32Type(std::uint8_t type) {
  return type == mbr::kTypeHiddenFat32Chs || type == mbr::kTypeHiddenFat32Lba;
}

bool IsRecoveryMarker(std::uint32_t style, const PARTITION_INFORMATION_EX& entry) {
  if (style == PARTITION_STYLE_MBR) return IsHiddenFat32Type(entry.Mbr.PartitionType);
  if (style == PARTITION_STYLE_GPT) {
    return std::memcmp(&entry.Gpt.PartitionType, kRecoveryGuidBytes, sizeof(kRecoveryGuidBytes)) == 0;
  }
  return false;
}

// Which entries FindRecoveryVolume reads a label from.
bool IsLabelCandidate(std::uint32_t style, const PARTITION_INFORMATION_EX& entry) {
  if (style == PARTITION_STYLE_MBR) {
    return entry.Mbr.RecognizedPartition != 0 && !IsHiddenFat32Type(entry.Mbr.PartitionType);
  }
  return style == PARTITION_STYLE_GPT;
}

}  // namespace

int FindRecoveryPartition(std::int32_t* partitionNumber, std::int32_t* diskNumber, LocateDetail* detail) {
  if (partitionNumber == nullptr || diskNumber == nullptr) return kLocateBadArgument;
  *partitionNumber = 0;
  *diskNumber = 0;
  LayoutBuffer buffer;
  if (!buffer) return GiveUp(detail, -1, kErrorNotEnoughMemory);
  SearchableDisks disks(false);
  while (disks.Next()) {
    CountOpened(detail);
    const std::int32_t n = disks.Number();
    if (PassedOver(disks, detail)) continue;
    if (!buffer.Read(disks.Disk())) {
      if (PassedOverAfterFailedLayout(disks, detail)) continue;
      return GiveUp(detail, n, Sys().system->LastError());
    }
    const DriveLayoutView& layout = buffer.View();
    for (std::uint32_t i = 0; i < layout.Count(); ++i) {
      const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
      if (IsRecoveryMarker(layout.Style(), entry)) {
        *partitionNumber = static_cast<std::int32_t>(entry.PartitionNumber);
        *diskNumber = n;
        if (detail != nullptr) detail->foundOffset = entry.StartingOffset;
        return kLocateFound;
      }
    }
  }
  return kLocateNotFound;
}

int QueryPartitionStyle(std::int32_t diskNumber, LocateDetail* detail) {
  if (diskNumber < 0 || diskNumber >= kNameableDisks) return GiveUp(detail, diskNumber, kErrorInvalidParameter);
  LayoutBuffer buffer;
  if (!buffer) return GiveUp(detail, -1, kErrorNotEnoughMemory);
  UniqueHandle disk = OpenPhysicalDisk(diskNumber);
  if (!disk) return GiveUp(detail, diskNumber, Sys().system->LastError());
  CountOpened(detail);
  if (!buffer.Read(disk.get())) return GiveUp(detail, diskNumber, Sys().system->LastError());
  if (buffer.View().Style() == PARTITION_STYLE_MBR) return kStyleMbr;
  if (buffer.View().Style() == PARTITION_STYLE_GPT) return kStyleGpt;
  // Neither style: no route can be taken on it.
  return GiveUp(detail, diskNumber, kErrorSuccess);
}

namespace {

// The entry's volume when it is labelled Recovery: *partitionNumber and
// volumeRoot set (the root stays empty when no drive root shows it).
bool TakeRecoveryVolume(Handle disk, std::int32_t diskNumber, const PARTITION_INFORMATION_EX& entry,
                        std::int32_t* partitionNumber, wchar_t* volumeRoot, LocateDetail* detail) {
  wchar_t label[kVolumeLabelChars];
  // A partition whose label cannot be read is simply not the one.
  if (ReadVolumeLabel(disk, label, entry.StartingOffset) != kLocateFound ||
      !EqualsIgnoreAsciiCase(label, kRecoveryLabel)) {
    return false;
  }
  *partitionNumber = static_cast<std::int32_t>(entry.PartitionNumber);
  if (detail != nullptr) detail->foundOffset = entry.StartingOffset;
  static_cast<void>(FindVolumeRoot(diskNumber, volumeRoot, entry.StartingOffset));
  return true;
}

}  // namespace

int FindRecoveryVolume(std::int32_t* diskNumber, std::int32_t* partitionNumber, wchar_t* volumeRoot,
                       LocateDetail* detail) {
  if (diskNumber == nullptr || partitionNumber == nullptr || volumeRoot == nullptr) {
    return kLocateBadArgument;
  }
  *diskNumber = 0;
  *partitionNumber = 0;
  volumeRoot[0] = L'\0';
  LayoutBuffer buffer;
  if (!buffer) return GiveUp(detail, -1, kErrorNotEnoughMemory);
  SearchableDisks disks(false);
  while (disks.Next()) {
    CountOpened(detail);
    const std::int32_t n = disks.Number();
    if (PassedOver(disks, detail)) continue;
    *diskNumber = n;
    if (!buffer.Read(disks.Disk())) {
      if (PassedOverAfterFailedLayout(disks, detail)) continue;
      *diskNumber = 0;
      return GiveUp(detail, n, Sys().system->LastError());
    }
    const DriveLayoutView& layout = buffer.View();
    for (std::uint32_t i = 0; i < layout.Count(); ++i) {
      const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
      if (IsLabelCandidate(layout.Style(), entry) &&
          TakeRecoveryVolume(disks.Disk(), n, entry, partitionNumber, volumeRoot, detail)) {
        return kLocateFound;
      }
    }
  }
  *diskNumber = 0;
  *partitionNumber = 0;
  return kLocateNotFound;
}

int FindRecoveryVolumeAt(std::int32_t diskNumber, std::int64_t offset, std::int32_t* partitionNumber,
                         wchar_t* volumeRoot, LocateDetail* detail) {
  if (partitionNumber == nullptr || volumeRoot == nullptr) return kLocateBadArgument;
  *partitionNumber = 0;
  volumeRoot[0] = L'\0';
  LayoutBuffer buffer;
  if (!buffer) return GiveUp(detail, -1, kErrorNotEnoughMemory);
  // The same walk as the first search: the disk it found is reached only if
  // it is still one the walk searches.
  SearchableDisks disks(false);
  while (disks.Next()) {
    CountOpened(detail);
    if (disks.Number() != diskNumber) continue;
    if (PassedOver(disks, detail)) return kLocateNotFound;
    if (!buffer.Read(disks.Disk())) {
      if (PassedOverAfterFailedLayout(disks, detail)) return kLocateNotFound;
      return GiveUp(detail, diskNumber, Sys().system->LastError());
    }
    const DriveLayoutView& layout = buffer.View();
    for (std::uint32_t i = 0; i < layout.Count(); ++i) {
      const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
      if (entry.StartingOffset != offset || !IsLabelCandidate(layout.Style(), entry)) continue;
      return TakeRecoveryVolume(disks.Disk(), diskNumber, entry, partitionNumber, volumeRoot, detail)
                 ? kLocateFound
                 : kLocateNotFound;
    }
    return kLocateNotFound;
  }
  return kLocateNotFound;
}

int FindVolumeRoot(std::int32_t diskNumber, wchar_t* volumeRoot, std::int64_t offset) {
  if (volumeRoot == nullptr) return kLocateBadArgument;
  volumeRoot[0] = L'\0';
  wchar_t drives[kDriveStringsChars];
  const std::uint32_t length = Sys().volumes->DriveStrings(kDriveStringsChars, drives);
  // 0 is a failure; a length beyond the area means the list did not fit (all
  // 26 letters in use) and the area holds nothing usable.
  if (length == 0 || length > kDriveStringsChars) return kLocateFailed;

  alignas(8) unsigned char extentsArea[kExtentsBufferSize];
  const VolumeExtentsView extents(extentsArea, kExtentsBufferSize);

  for (std::uint32_t at = 0; at + kRootChars <= length; at += kRootChars) {
    const wchar_t root[kRootChars] = {drives[at], drives[at + 1], drives[at + 2], L'\0'};
    wchar_t label[kVolumeInfoLabelChars];
    if (!Sys().volumes->VolumeLabel(root, label, kVolumeInfoLabelChars)) continue;
    label[kVolumeInfoLabelChars - 1] = L'\0';
    if (!EqualsIgnoreAsciiCase(label, kRecoveryLabel)) continue;

    const wchar_t device[] = {L'\\', L'\\', L'.', L'\\', root[0], root[1], L'\0'};
    UniqueHandle volume(Sys().volumes->OpenVolume(device, true));
    if (!volume) continue;
    if (!Sys().volumes->GetExtents(volume.get(), extentsArea, kExtentsBufferSize)) {
      return kLocateFailed;
    }
    for (std::uint32_t i = 0; i < extents.Count(); ++i) {
      const DISK_EXTENT& extent = extents.Entry(i);
      if (extent.DiskNumber == static_cast<std::uint32_t>(diskNumber) &&
          extent.StartingOffset == offset) {
        CopyBounded(volumeRoot, kPathChars, root);
        return kLocateFound;
      }
    }
  }
  volumeRoot[0] = L'\0';
  return kLocateNotFound;
}

}  // namespace tavu
