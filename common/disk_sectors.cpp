#include "common/disk_sectors.h"

#include <cstring>

#include "common/disk_api.h"
#include "common/heap_block.h"
#include "common/system_api.h"
#include "common/win_records.h"

namespace tavu {

std::uint32_t DiskSectorSize(Handle disk) {
  DISK_GEOMETRY geometry{};
  if (!Sys().disks->GetGeometry(disk, &geometry)) return kClassicSectorBytes;
  const std::uint32_t size = geometry.BytesPerSector;
  const bool powerOfTwo = size != 0 && (size & (size - 1)) == 0;
  return powerOfTwo && size >= 512 && size <= 4096 ? size : kClassicSectorBytes;
}

bool ReadDiskBytes(Handle disk, std::uint32_t sectorSize, std::uint64_t offset, void* buffer,
                   std::uint32_t size, std::uint32_t* read) {
  *read = 0;
  // Sector sizes are powers of two (DiskSectorSize sees to it), so masks do
  // what 64-bit division would, without the runtime's division routines.
  if (sectorSize == 0 || (sectorSize & (sectorSize - 1)) != 0) return false;
  const std::uint32_t mask = sectorSize - 1;
  const std::uint32_t head = static_cast<std::uint32_t>(offset) & mask;
  if (head == 0 && (size & mask) == 0) return Sys().disks->ReadAt(disk, offset, buffer, size, read);
  // The covering sectors: from the one that holds the first byte to the end
  // of the one that holds the last.
  const std::uint64_t start = offset - head;
  const std::uint64_t span = (static_cast<std::uint64_t>(head) + size + mask) & ~static_cast<std::uint64_t>(mask);
  if (span > UINT32_MAX) return false;
  HeapBlock block = HeapBlock::Uninitialised(static_cast<std::size_t>(span));
  if (!block) return false;
  std::uint32_t got = 0;
  if (!Sys().disks->ReadAt(disk, start, block.get(), static_cast<std::uint32_t>(span), &got)) return false;
  if (got <= head) return true;
  const std::uint64_t delivered = got - head < size ? got - head : size;
  std::memcpy(buffer, block.get() + head, static_cast<std::size_t>(delivered));
  *read = static_cast<std::uint32_t>(delivered);
  return true;
}

}  // namespace tavu
