#include "launcher/arming/volume_label.h"

#include <cstring>

#include "common/disk_api.h"
#include "common/system_api.h"
#include "launcher/arming/label_reading.h"
#include "launcher/arming/partition_locator.h"

namespace tavu {

namespace {

using label_detail::kBootSectorSize;
using label_detail::ReadExact;

// The physical disk, read through the platform: SetFilePointerEx + ReadFile,
// and MultiByteToWideChar(CP_ACP).
class DiskSectors final : public SectorSource {
 public:
  explicit DiskSectors(Handle disk) : disk_(disk) {}
  bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t* read) override {
    return Sys().disks->ReadAt(disk_, offset, buffer, size, read);
  }
  int AnsiToWide(const char* text, wchar_t* out, int capacity) override {
    return Sys().system->AnsiToWide(text, -1, out, capacity);
  }

 private:
  Handle disk_;
};

}  // namespace

LabelFileSystem FileSystemOfBootSector(const std::uint8_t* sector) {
  if (std::memcmp(sector + 3, "NTFS    ", 8) == 0) return LabelFileSystem::Ntfs;
  if (std::memcmp(sector + 82, "FAT32   ", 8) == 0) return LabelFileSystem::Fat32;
  return LabelFileSystem::None;
}

int ReadVolumeLabelFrom(SectorSource& source, wchar_t* label, std::int64_t offset) {
  if (label == nullptr) return kLocateBadArgument;
  label[0] = L'\0';
  // A negative position is one SetFilePointerEx refuses.
  if (offset < 0) return kLocateFailed;
  std::uint8_t boot[kBootSectorSize];
  if (!ReadExact(source, static_cast<std::uint64_t>(offset), boot, kBootSectorSize)) {
    return kLocateFailed;
  }
  switch (FileSystemOfBootSector(boot)) {
    case LabelFileSystem::Ntfs: return ReadNtfsVolumeLabelFrom(source, label, offset);
    case LabelFileSystem::Fat32: return ReadFat32VolumeLabelFrom(source, label, offset);
    case LabelFileSystem::None: break;
  }
  return kLocateNotFound;
}

int ReadVolumeLabel(Handle disk, wchar_t* label, std::int64_t offset) {
  if (!IsValidHandle(disk) || label == nullptr) return kLocateBadArgument;
  DiskSectors source(disk);
  return ReadVolumeLabelFrom(source, label, offset);
}

int ReadNtfsVolumeLabel(Handle disk, wchar_t* label, std::int64_t offset) {
  if (!IsValidHandle(disk) || label == nullptr) return kLocateBadArgument;
  DiskSectors source(disk);
  return ReadNtfsVolumeLabelFrom(source, label, offset);
}

int ReadFat32VolumeLabel(Handle disk, wchar_t* label, std::int64_t offset) {
  if (!IsValidHandle(disk) || label == nullptr) return kLocateBadArgument;
  DiskSectors source(disk);
  return ReadFat32VolumeLabelFrom(source, label, offset);
}

}  // namespace tavu
