#include "check/volume_place.h"

#include <cwchar>

#include "common/disk_api.h"
#include "common/drive_layout_view.h"
#include "common/heap_block.h"
#include "common/platform.h"
#include "common/unique_handle.h"
#include "common/volume_api.h"
#include "common/volume_root.h"

namespace tavu::check {

namespace {

// The count and 101 extents: more than any volume of a notebook has.
constexpr std::uint32_t kExtentsBytes = 2432;
// IOCTL_DISK_GET_DRIVE_LAYOUT_EX answer area: the header and 101 entries.
constexpr auto kLayoutBytes = static_cast<std::uint32_t>(DriveLayoutSize(101));

// The volume's drive letter ("D:\" -> "D:").
void LetterOf(const wchar_t* volumeName, wchar_t (&letter)[4]) {
  if (DriveRootOfVolume(volumeName, letter)) letter[2] = L'\0';
}

// "\\?\Volume{GUID}\" -> "Volume{GUID}", what QueryDosDeviceW takes.
bool DosName(const wchar_t* volumeName, wchar_t* out, std::size_t capacity) {
  if (!CopyBounded(out, capacity, volumeName + 4)) return false;
  const std::size_t length = wcsnlen(out, capacity);
  if (length > 0 && out[length - 1] == L'\\') out[length - 1] = L'\0';
  return true;
}

}  // namespace

bool PartitionEntryAt(std::int32_t disk, std::int64_t offset, PARTITION_INFORMATION_EX* entry) {
  if (disk < 0 || disk >= kNameableDisks || entry == nullptr) return false;
  HeapBlock area = HeapBlock::Uninitialised(kLayoutBytes);
  wchar_t name[32];
  PhysicalDriveName(disk, name);
  UniqueHandle handle(Sys().disks->OpenDisk(name, false));
  if (!area || !handle || !Sys().disks->GetLayout(handle.get(), area.get(), kLayoutBytes)) return false;
  DriveLayoutView layout(area.get(), kLayoutBytes);
  for (std::uint32_t i = 0; i < layout.Count(); ++i) {
    const PARTITION_INFORMATION_EX& e = layout.Entry(i);
    if (e.PartitionNumber != 0 && e.StartingOffset == offset) {
      *entry = e;
      return true;
    }
  }
  return false;
}

std::int32_t PartitionAt(std::int32_t disk, std::int64_t offset) {
  PARTITION_INFORMATION_EX entry{};
  return PartitionEntryAt(disk, offset, &entry) ? static_cast<std::int32_t>(entry.PartitionNumber) : 0;
}

VolumePlace PlaceOfVolume(const wchar_t* volumeName) {
  VolumePlace place;
  wchar_t device[kPathChars];
  if (volumeName == nullptr || !CopyBounded(device, kPathChars, volumeName)) return place;
  // The volume's device is its name without the trailing backslash.
  std::size_t length = wcsnlen(device, kPathChars);
  if (length > 0 && device[length - 1] == L'\\') device[--length] = L'\0';
  UniqueHandle volume(Sys().volumes->OpenVolume(device, false));
  alignas(8) unsigned char area[kExtentsBytes];
  if (!volume || !Sys().volumes->GetExtents(volume.get(), area, kExtentsBytes)) return place;
  const VolumeExtentsView extents(area, kExtentsBytes);
  if (extents.Count() == 0) return place;
  const DISK_EXTENT& first = extents.Entry(0);
  place.found = true;
  place.disk = static_cast<std::int32_t>(first.DiskNumber);
  place.offset = first.StartingOffset;
  place.partition = PartitionAt(place.disk, place.offset);
  if (FormatBounded(place.volume, kPathChars, L"%ls\\", device) >= 0) LetterOf(place.volume, place.letter);
  return place;
}

VolumePlace PlaceOfDevice(const wchar_t* device) {
  if (device == nullptr || device[0] == L'\0') return VolumePlace{};
  const bool letter = device[1] == L':' && device[2] == L'\0';
  VolumeApi& volumes = *Sys().volumes;
  wchar_t name[kPathChars] = {};
  UniqueVolumeSearch search(volumes.FirstVolume(name, kPathChars));
  if (!search) return VolumePlace{};
  do {
    bool same = false;
    if (letter) {
      wchar_t mounted[4];
      LetterOf(name, mounted);
      same = EqualsIgnoreAsciiCase(mounted, device);
    } else {
      wchar_t dos[kPathChars];
      wchar_t target[kPathChars] = {};
      same = DosName(name, dos, kPathChars) && volumes.DeviceName(dos, target, kPathChars - 1) != 0 &&
             EqualsIgnoreAsciiCase(target, device);
    }
    if (same) return PlaceOfVolume(name);
  } while (volumes.NextVolume(search.get(), name, kPathChars));
  return VolumePlace{};
}

void PlaceText(const VolumePlace& p, wchar_t* out, std::size_t capacity) {
  if (!p.found) {
    CopyBounded(out, capacity, L"disk and partition unknown");
    return;
  }
  if (p.partition == 0) {
    FormatBounded(out, capacity, L"disk %d", static_cast<int>(p.disk));
  } else {
    FormatBounded(out, capacity, L"disk %d, partition %d", static_cast<int>(p.disk),
                  static_cast<int>(p.partition));
  }
  if (p.letter[0] != L'\0') {
    AppendBounded(out, capacity, L", ");
    AppendBounded(out, capacity, p.letter);
  }
}

}  // namespace tavu::check
