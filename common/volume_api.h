// Volumes, drive roots and mount points. Names avoid the <windows.h> macros.
#pragma once

#include <cstdint>

#include "common/platform.h"

namespace tavu {

class VolumeApi {
 public:
  virtual ~VolumeApi() = default;

  // FindFirstVolumeW / FindNextVolumeW / FindVolumeClose. Names come back in
  // the form "\\?\Volume{GUID}\".
  virtual Handle FirstVolume(wchar_t* name, std::uint32_t capacity) = 0;
  virtual bool NextVolume(Handle search, wchar_t* name, std::uint32_t capacity) = 0;
  virtual bool CloseVolumeSearch(Handle search) = 0;

  // CreateFileW on a volume device: "\\.\E:" or "\\?\Volume{GUID}" (no trailing
  // backslash), OPEN_EXISTING. readAccess false: access 0, share read and write;
  // true: GENERIC_READ, share read, write and delete. Closed with FileApi::Close.
  virtual Handle OpenVolume(const wchar_t* path, bool readAccess) = 0;
  // CreateFileW on a volume device with GENERIC_READ | GENERIC_WRITE, share
  // read and write, OPEN_EXISTING: the access that locking, dismounting and
  // taking the volume offline ask of the handle. Closed with FileApi::Close.
  virtual Handle OpenVolumeForChange(const wchar_t* path) = 0;
  // FSCTL_LOCK_VOLUME, FSCTL_DISMOUNT_VOLUME and IOCTL_VOLUME_OFFLINE on a
  // handle from OpenVolumeForChange, each one DeviceIoControl.
  virtual bool LockVolume(Handle volume) = 0;
  virtual bool DismountVolume(Handle volume) = 0;
  virtual bool OfflineVolume(Handle volume) = 0;
  // IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS into a VOLUME_DISK_EXTENTS buffer;
  // ERROR_MORE_DATA when the extents do not fit.
  virtual bool GetExtents(Handle volume, void* buffer, std::uint32_t size) = 0;

  // GetVolumePathNamesForVolumeNameW: a multi-string of mount paths. On
  // ERROR_MORE_DATA, *needed holds the length wanted.
  virtual bool PathNames(const wchar_t* volumeName, wchar_t* buffer, std::uint32_t capacity,
                         std::uint32_t* needed) = 0;
  // SetVolumeMountPointW(root, volumeName).
  virtual bool SetMountPoint(const wchar_t* root, const wchar_t* volumeName) = 0;
  // GetLogicalDriveStringsW: "A:\<0>C:\<0>...<0>". capacity counts the final
  // terminator too. Returns the characters written without that terminator; when
  // the list does not fit, the capacity it needs (greater than capacity) and the
  // buffer is left alone; 0 on failure.
  virtual std::uint32_t DriveStrings(std::uint32_t capacity, wchar_t* buffer) = 0;
  // GetVolumeInformationW(root, label, capacity, nothing else). root is "X:\" or
  // "\\?\Volume{GUID}\" (the trailing backslash is required).
  virtual bool VolumeLabel(const wchar_t* root, wchar_t* label, std::uint32_t capacity) = 0;
  // QueryDosDeviceW(dosName, buffer, capacity), dosName being a volume's name
  // without "\\?\" and the trailing backslash ("Volume{GUID}"): the device
  // ("\Device\HarddiskVolume4") as a multi-string. Returns the characters
  // stored, both terminators included; 0 on failure. (A default, so that small
  // test fakes need not care: nothing known.)
  virtual std::uint32_t DeviceName(const wchar_t* dosName, wchar_t* buffer, std::uint32_t capacity) {
    (void)dosName;
    (void)buffer;
    (void)capacity;
    return 0;
  }
  // GetVolumeInformationW(root, ..., file system name): "NTFS", "FAT32". root
  // as for VolumeLabel. (Defaults for small test fakes: nothing known.)
  virtual bool FileSystemName(const wchar_t* root, wchar_t* name, std::uint32_t capacity) {
    (void)root;
    (void)name;
    (void)capacity;
    return false;
  }
  // GetDiskFreeSpaceExW(root): the bytes free on the volume and its size.
  virtual bool FreeSpace(const wchar_t* root, std::uint64_t* freeBytes, std::uint64_t* totalBytes) {
    (void)root;
    (void)freeBytes;
    (void)totalBytes;
    return false;
  }
};

}  // namespace tavu
