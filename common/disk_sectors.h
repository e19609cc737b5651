// Reads of a physical disk in whole logical sectors of the disk's own size.
// Windows fails a raw read of a disk that does not start on a sector boundary
// or is not a whole number of sectors long (ERROR_INVALID_PARAMETER): on a
// disk of 4096-byte sectors a 512-byte read fails. Every reader of labels,
// boot sectors and signatures goes through here.
#pragma once

#include <cstdint>

#include "common/platform.h"

namespace tavu {

// The sector size assumed when the disk reports none a disk can have.
inline constexpr std::uint32_t kClassicSectorBytes = 512;

// BytesPerSector from IOCTL_DISK_GET_DRIVE_GEOMETRY; kClassicSectorBytes when
// the geometry cannot be read or reports anything but a power of two from 512
// to 4096.
[[nodiscard]] std::uint32_t DiskSectorSize(Handle disk);

// Reads size bytes at the byte offset as whole sectors of sectorSize: the
// sectors that cover the range in one read, through a block of its own when
// the range is not aligned. *read: the bytes of the range delivered (fewer at
// the disk's end). False when the read fails, the block cannot be had, or
// sectorSize is not a power of two.
[[nodiscard]] bool ReadDiskBytes(Handle disk, std::uint32_t sectorSize, std::uint64_t offset, void* buffer,
                                 std::uint32_t size, std::uint32_t* read);

}  // namespace tavu
