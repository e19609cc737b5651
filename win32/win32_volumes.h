// The real binding of the volume seam: the volume enumeration, volume devices
// and their extents, taking a volume offline, mount points, drive strings and volume labels.
#pragma once

#include "common/volume_api.h"

namespace tavu::win32 {

class Win32Volumes : public VolumeApi {
 public:
  Handle FirstVolume(wchar_t* name, std::uint32_t capacity) override;
  bool NextVolume(Handle search, wchar_t* name, std::uint32_t capacity) override;
  bool CloseVolumeSearch(Handle search) override;
  Handle OpenVolume(const wchar_t* path, bool readAccess) override;
  Handle OpenVolumeForChange(const wchar_t* path) override;
  bool LockVolume(Handle volume) override;
  bool DismountVolume(Handle volume) override;
  bool OfflineVolume(Handle volume) override;
  bool GetExtents(Handle volume, void* buffer, std::uint32_t size) override;
  bool PathNames(const wchar_t* volumeName, wchar_t* buffer, std::uint32_t capacity,
                 std::uint32_t* needed) override;
  bool SetMountPoint(const wchar_t* root, const wchar_t* volumeName) override;
  std::uint32_t DriveStrings(std::uint32_t capacity, wchar_t* buffer) override;
  bool VolumeLabel(const wchar_t* root, wchar_t* label, std::uint32_t capacity) override;
  std::uint32_t DeviceName(const wchar_t* dosName, wchar_t* buffer, std::uint32_t capacity) override;
  bool FileSystemName(const wchar_t* root, wchar_t* name, std::uint32_t capacity) override;
  bool FreeSpace(const wchar_t* root, std::uint64_t* freeBytes, std::uint64_t* totalBytes) override;
};

}  // namespace tavu::win32
