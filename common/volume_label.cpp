#include "common/volume_label.h"

#include <cstring>

#include "common/disk_api.h"
#include "common/disk_sectors.h"
#include "common/fat32_layout.h"
#include "common/label_reading.h"
#include "common/ntfs_layout.h"
#include "common/system_api.h"

namespace tavu {

namespace {

using label_detail::kBootSectorSize;
using label_detail::ReadBootSector;

static_assert(ntfs::boot::OemId::kEnd <= kBootSectorSize &&
              fat32::boot::FileSystemType::kEnd <= kBootSectorSize);

// The physical disk, read through the platform: SetFilePointerEx + ReadFile
// in whole sectors of the disk's own size, and MultiByteToWideChar(CP_ACP).
// The readers ask for structures (a 512-byte boot sector, a 1,024-byte file
// record) that need not be whole sectors of the disk.
class DiskSectors final : public SectorSource {
 public:
  explicit DiskSectors(Handle disk) : disk_(disk), sectorSize_(DiskSectorSize(disk)) {}
  bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t* read) override {
    return ReadDiskBytes(disk_, sectorSize_, offset, buffer, size, read);
  }
  int AnsiToWide(const char* text, wchar_t* out, int capacity) override {
    return Sys().system->AnsiToWide(text, -1, out, capacity);
  }

 private:
  Handle disk_;
  std::uint32_t sectorSize_;
};

}  // namespace

LabelFileSystem FileSystemOfBootSector(const std::uint8_t* sector) {
  using NtfsMark = ntfs::boot::OemId;
  using Fat32Mark = fat32::boot::FileSystemType;
  if (std::memcmp(At<NtfsMark>(sector), ntfs::kOemIdText, NtfsMark::kSize) == 0) return LabelFileSystem::Ntfs;
  if (std::memcmp(At<Fat32Mark>(sector), fat32::kFileSystemTypeText, Fat32Mark::kSize) == 0) {
    return LabelFileSystem::Fat32;
  }
  return LabelFileSystem::None;
}

int ReadVolumeLabelFrom(SectorSource& source, wchar_t* label, std::int64_t offset) {
  std::uint8_t boot[kBootSectorSize];
  const int started = ReadBootSector(source, label, offset, boot);
  if (started != kLocateFound) return started;
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
