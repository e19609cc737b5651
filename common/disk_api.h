// Physical disks, in the terms the locator and the patcher use them. Each call
// is one Windows call in the binding (CreateFileW, DeviceIoControl, ReadFile).
#pragma once

#include <cstdint>

#include "common/platform.h"
#include "common/win_records.h"

namespace tavu {

class DiskApi {
 public:
  virtual ~DiskApi() = default;

  // CreateFileW on "\\.\PHYSICALDRIVEn" (the caller builds the name), share read
  // and write, OPEN_EXISTING. write false: GENERIC_READ; true: GENERIC_READ |
  // GENERIC_WRITE. kInvalidHandle when there is no such disk. Closed with
  // FileApi::Close (CloseHandle).
  virtual Handle OpenDisk(const wchar_t* deviceName, bool write) = 0;
  // IOCTL_DISK_GET_DRIVE_GEOMETRY into a 24-byte DISK_GEOMETRY.
  virtual bool GetGeometry(Handle disk, DISK_GEOMETRY* geometry) = 0;
  // IOCTL_DISK_GET_DRIVE_LAYOUT_EX into buffer (a DRIVE_LAYOUT_INFORMATION_EX);
  // fails with ERROR_INSUFFICIENT_BUFFER when the entries do not fit.
  virtual bool GetLayout(Handle disk, void* buffer, std::uint32_t size) = 0;
  // IOCTL_DISK_SET_DRIVE_LAYOUT_EX with the whole buffer as input.
  virtual bool SetLayout(Handle disk, const void* buffer, std::uint32_t size) = 0;
  // IOCTL_STORAGE_QUERY_PROPERTY: query in, answer (a STORAGE_ADAPTER_DESCRIPTOR
  // for the adapter property) out.
  virtual bool QueryProperty(Handle disk, const STORAGE_PROPERTY_QUERY* query, void* answer,
                             std::uint32_t answerSize) = 0;
  // SetFilePointerEx to the byte offset, then ReadFile of size bytes. A disk
  // reads whole sectors only: offset and size must be multiples of the sector
  // size (ERROR_INVALID_PARAMETER otherwise). A read that starts at or past the
  // end fails; one that runs over the end returns the bytes up to it (*read).
  virtual bool ReadAt(Handle disk, std::uint64_t offset, void* buffer, std::uint32_t size,
                      std::uint32_t* read) = 0;
};

// The disk-name rule: "\\.\PHYSICALDRIVE" and one character, '0' plus the
// number, so only disks 0 to 9 can be named and 10 gives a ':' that opens nothing.
void PhysicalDriveName(int number, wchar_t (&name)[32]);
// The rule names the disks below this bound; a search that stops at it stays
// finite whatever the platform answers.
inline constexpr int kNameableDisks = 10;

// The adapter answer area: the descriptor and room for what a driver adds.
inline constexpr std::uint32_t kAdapterAnswerBytes = 1024;
// Whether the disk's adapter reports BusTypeUsb. An external disk reports
// FixedMedia like the system disk, so its bus is what marks it as one that
// leaves with its owner. A failed query answers false: the disk is then
// handled like an internal one.
bool IsUsbDisk(Handle disk);

}  // namespace tavu
