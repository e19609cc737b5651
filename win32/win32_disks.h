// The real binding of the disk seam: CreateFileW on the physical drive,
// DeviceIoControl with the published disk and storage control codes,
// SetFilePointerEx + ReadFile.
#pragma once

#include "common/disk_api.h"

namespace tavu::win32 {

class Win32Disks : public DiskApi {
 public:
  Handle OpenDisk(const wchar_t* deviceName, bool write) override;
  bool GetGeometry(Handle disk, DISK_GEOMETRY* geometry) override;
  bool GetLayout(Handle disk, void* buffer, std::uint32_t size) override;
  bool SetLayout(Handle disk, const void* buffer, std::uint32_t size) override;
  bool QueryProperty(Handle disk, const STORAGE_PROPERTY_QUERY* query, void* answer,
                     std::uint32_t answerSize) override;
  bool ReadAt(Handle disk, std::uint64_t offset, void* buffer, std::uint32_t size,
              std::uint32_t* read) override;
};

}  // namespace tavu::win32
