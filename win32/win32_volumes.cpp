#include "win32/win32_volumes.h"

#include <windows.h>
#include <winioctl.h>

#include <cstddef>

#include "common/win_records.h"

static_assert(sizeof(::DISK_EXTENT) == sizeof(tavu::DISK_EXTENT));
static_assert(offsetof(::DISK_EXTENT, DiskNumber) == offsetof(tavu::DISK_EXTENT, DiskNumber));
static_assert(offsetof(::DISK_EXTENT, StartingOffset) == offsetof(tavu::DISK_EXTENT, StartingOffset));
static_assert(offsetof(::DISK_EXTENT, ExtentLength) == offsetof(tavu::DISK_EXTENT, ExtentLength));
static_assert(sizeof(::VOLUME_DISK_EXTENTS) == sizeof(tavu::VOLUME_DISK_EXTENTS));
static_assert(offsetof(::VOLUME_DISK_EXTENTS, Extents) == offsetof(tavu::VOLUME_DISK_EXTENTS, Extents));
static_assert(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS == 0x560000);
static_assert(FSCTL_LOCK_VOLUME == 0x90018 && FSCTL_DISMOUNT_VOLUME == 0x90020 &&
              IOCTL_VOLUME_OFFLINE == 0x56c00c);

namespace tavu::win32 {

Handle Win32Volumes::FirstVolume(wchar_t* name, std::uint32_t capacity) {
  HANDLE h = FindFirstVolumeW(name, capacity);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : h;
}

bool Win32Volumes::NextVolume(Handle search, wchar_t* name, std::uint32_t capacity) {
  return FindNextVolumeW(search, name, capacity) != FALSE;
}

bool Win32Volumes::CloseVolumeSearch(Handle search) { return FindVolumeClose(search) != FALSE; }

Handle Win32Volumes::OpenVolume(const wchar_t* path, bool readAccess) {
  HANDLE h =
      readAccess
          ? CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
          : CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : h;
}

Handle Win32Volumes::OpenVolumeForChange(const wchar_t* path) {
  HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : h;
}

namespace {

bool Control(Handle volume, DWORD code) {
  DWORD returned = 0;
  return DeviceIoControl(volume, code, nullptr, 0, nullptr, 0, &returned, nullptr) != FALSE;
}

}  // namespace

bool Win32Volumes::LockVolume(Handle volume) { return Control(volume, FSCTL_LOCK_VOLUME); }

bool Win32Volumes::DismountVolume(Handle volume) { return Control(volume, FSCTL_DISMOUNT_VOLUME); }

bool Win32Volumes::OfflineVolume(Handle volume) { return Control(volume, IOCTL_VOLUME_OFFLINE); }

bool Win32Volumes::GetExtents(Handle volume, void* buffer, std::uint32_t size) {
  DWORD returned = 0;
  return DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer, size, &returned,
                         nullptr) != FALSE;
}

bool Win32Volumes::PathNames(const wchar_t* volumeName, wchar_t* buffer, std::uint32_t capacity,
                             std::uint32_t* needed) {
  DWORD length = 0;
  BOOL ok = GetVolumePathNamesForVolumeNameW(volumeName, buffer, capacity, &length);
  if (needed != nullptr) *needed = length;
  return ok != FALSE;
}

bool Win32Volumes::SetMountPoint(const wchar_t* root, const wchar_t* volumeName) {
  return SetVolumeMountPointW(root, volumeName) != FALSE;
}

std::uint32_t Win32Volumes::DriveStrings(std::uint32_t capacity, wchar_t* buffer) {
  return GetLogicalDriveStringsW(capacity, buffer);
}

bool Win32Volumes::VolumeLabel(const wchar_t* root, wchar_t* label, std::uint32_t capacity) {
  return GetVolumeInformationW(root, label, capacity, nullptr, nullptr, nullptr, nullptr, 0) != FALSE;
}

bool Win32Volumes::FileSystemName(const wchar_t* root, wchar_t* name, std::uint32_t capacity) {
  return GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, name, capacity) != FALSE;
}

// Nonzero on success; the first answer is what the caller's quota leaves free.
bool Win32Volumes::FreeSpace(const wchar_t* root, std::uint64_t* freeBytes, std::uint64_t* totalBytes) {
  ULARGE_INTEGER available{};
  ULARGE_INTEGER total{};
  if (GetDiskFreeSpaceExW(root, &available, &total, nullptr) == FALSE) return false;
  *freeBytes = available.QuadPart;
  *totalBytes = total.QuadPart;
  return true;
}

std::uint32_t Win32Volumes::DeviceName(const wchar_t* dosName, wchar_t* buffer, std::uint32_t capacity) {
  return QueryDosDeviceW(dosName, buffer, capacity);
}

}  // namespace tavu::win32
