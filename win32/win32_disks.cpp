#include "win32/win32_disks.h"

#include <windows.h>
#include <winioctl.h>

#include <cstddef>

#include "common/win_records.h"

// The portable records must be the SDK's, byte for byte: the binding hands the
// SDK's answers to the logic unchanged.
static_assert(sizeof(::DISK_GEOMETRY) == sizeof(tavu::DISK_GEOMETRY));
static_assert(offsetof(::DISK_GEOMETRY, MediaType) == offsetof(tavu::DISK_GEOMETRY, MediaType));
static_assert(offsetof(::DISK_GEOMETRY, BytesPerSector) == offsetof(tavu::DISK_GEOMETRY, BytesPerSector));
static_assert(RemovableMedia == tavu::kMediaTypeRemovable && FixedMedia == tavu::kMediaTypeFixed);

static_assert(sizeof(::PARTITION_INFORMATION_EX) == sizeof(tavu::PARTITION_INFORMATION_EX));
static_assert(offsetof(::PARTITION_INFORMATION_EX, PartitionStyle) ==
              offsetof(tavu::PARTITION_INFORMATION_EX, PartitionStyle));
static_assert(offsetof(::PARTITION_INFORMATION_EX, StartingOffset) ==
              offsetof(tavu::PARTITION_INFORMATION_EX, StartingOffset));
static_assert(offsetof(::PARTITION_INFORMATION_EX, PartitionLength) ==
              offsetof(tavu::PARTITION_INFORMATION_EX, PartitionLength));
static_assert(offsetof(::PARTITION_INFORMATION_EX, PartitionNumber) ==
              offsetof(tavu::PARTITION_INFORMATION_EX, PartitionNumber));
static_assert(offsetof(::PARTITION_INFORMATION_EX, RewritePartition) ==
              offsetof(tavu::PARTITION_INFORMATION_EX, RewritePartition));
static_assert(offsetof(::PARTITION_INFORMATION_EX, Mbr) == offsetof(tavu::PARTITION_INFORMATION_EX, Mbr));
static_assert(offsetof(::PARTITION_INFORMATION_EX, Gpt) == offsetof(tavu::PARTITION_INFORMATION_EX, Gpt));
static_assert(offsetof(::PARTITION_INFORMATION_MBR, PartitionType) ==
              offsetof(tavu::PARTITION_INFORMATION_MBR, PartitionType));
static_assert(offsetof(::PARTITION_INFORMATION_MBR, BootIndicator) ==
              offsetof(tavu::PARTITION_INFORMATION_MBR, BootIndicator));
static_assert(offsetof(::PARTITION_INFORMATION_MBR, RecognizedPartition) ==
              offsetof(tavu::PARTITION_INFORMATION_MBR, RecognizedPartition));
static_assert(offsetof(::PARTITION_INFORMATION_MBR, HiddenSectors) ==
              offsetof(tavu::PARTITION_INFORMATION_MBR, HiddenSectors));
static_assert(sizeof(::PARTITION_INFORMATION_GPT) == sizeof(tavu::PARTITION_INFORMATION_GPT));
static_assert(offsetof(::PARTITION_INFORMATION_GPT, PartitionType) ==
              offsetof(tavu::PARTITION_INFORMATION_GPT, PartitionType));
static_assert(offsetof(::PARTITION_INFORMATION_GPT, Attributes) ==
              offsetof(tavu::PARTITION_INFORMATION_GPT, Attributes));
static_assert(offsetof(::PARTITION_INFORMATION_GPT, Name) == offsetof(tavu::PARTITION_INFORMATION_GPT, Name));

static_assert(sizeof(::DRIVE_LAYOUT_INFORMATION_EX) == sizeof(tavu::DRIVE_LAYOUT_INFORMATION_EX));
static_assert(offsetof(::DRIVE_LAYOUT_INFORMATION_EX, PartitionCount) ==
              offsetof(tavu::DRIVE_LAYOUT_INFORMATION_EX, PartitionCount));
static_assert(offsetof(::DRIVE_LAYOUT_INFORMATION_EX, Mbr) == offsetof(tavu::DRIVE_LAYOUT_INFORMATION_EX, Mbr));
static_assert(offsetof(::DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == tavu::kDriveLayoutHeaderSize);
static_assert(offsetof(::DRIVE_LAYOUT_INFORMATION_GPT, StartingUsableOffset) ==
              offsetof(tavu::DRIVE_LAYOUT_INFORMATION_GPT, StartingUsableOffset));
static_assert(offsetof(::DRIVE_LAYOUT_INFORMATION_GPT, MaxPartitionCount) ==
              offsetof(tavu::DRIVE_LAYOUT_INFORMATION_GPT, MaxPartitionCount));
static_assert(PARTITION_STYLE_MBR == tavu::PARTITION_STYLE_MBR && PARTITION_STYLE_GPT == tavu::PARTITION_STYLE_GPT &&
              PARTITION_STYLE_RAW == tavu::PARTITION_STYLE_RAW);

static_assert(sizeof(::STORAGE_PROPERTY_QUERY) == sizeof(tavu::STORAGE_PROPERTY_QUERY));
static_assert(offsetof(::STORAGE_ADAPTER_DESCRIPTOR, BusType) == offsetof(tavu::STORAGE_ADAPTER_DESCRIPTOR, BusType));
static_assert(StorageAdapterProperty == tavu::StorageAdapterProperty &&
              PropertyStandardQuery == tavu::PropertyStandardQuery && BusTypeUsb == tavu::BusTypeUsb);

// The control codes by their published values.
static_assert(IOCTL_DISK_GET_DRIVE_LAYOUT_EX == 0x70050 && IOCTL_DISK_SET_DRIVE_LAYOUT_EX == 0x7C054 &&
              IOCTL_STORAGE_QUERY_PROPERTY == 0x2D1400 && IOCTL_DISK_GET_DRIVE_GEOMETRY == 0x70000);

namespace tavu::win32 {

namespace {

// DeviceIoControl returns non-zero on success; the bytes returned are not
// needed by any caller (the records say their own sizes).
bool Control(Handle device, DWORD code, const void* in, std::uint32_t inSize, void* out, std::uint32_t outSize) {
  DWORD returned = 0;
  return DeviceIoControl(device, code, const_cast<void*>(in), inSize, out, outSize, &returned, nullptr) != FALSE;
}

}  // namespace

Handle Win32Disks::OpenDisk(const wchar_t* deviceName, bool write) {
  HANDLE h = CreateFileW(deviceName, write ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : h;
}

bool Win32Disks::GetGeometry(Handle disk, DISK_GEOMETRY* geometry) {
  return Control(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, geometry, sizeof(*geometry));
}

bool Win32Disks::GetLayout(Handle disk, void* buffer, std::uint32_t size) {
  return Control(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer, size);
}

bool Win32Disks::SetLayout(Handle disk, const void* buffer, std::uint32_t size) {
  return Control(disk, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, buffer, size, nullptr, 0);
}

bool Win32Disks::QueryProperty(Handle disk, const STORAGE_PROPERTY_QUERY* query, void* answer,
                               std::uint32_t answerSize) {
  return Control(disk, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof(*query), answer, answerSize);
}

bool Win32Disks::ReadAt(Handle disk, std::uint64_t offset, void* buffer, std::uint32_t size,
                        std::uint32_t* read) {
  if (read != nullptr) *read = 0;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(disk, to, nullptr, FILE_BEGIN)) return false;
  DWORD got = 0;
  BOOL ok = ReadFile(disk, buffer, size, &got, nullptr);
  if (read != nullptr) *read = got;
  return ok != FALSE;
}

}  // namespace tavu::win32
