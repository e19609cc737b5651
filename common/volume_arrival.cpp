#include "common/volume_arrival.h"

#include <cwchar>

#include "common/drive_layout_view.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/volume_api.h"
#include "common/wide_text.h"

namespace tavu {

namespace {

constexpr std::uint32_t kNameChars = 260;
// The count and 101 extents: more than any volume of a notebook has.
constexpr std::uint32_t kExtentsBytes = 2432;

bool HasExtentAt(wchar_t* name, std::uint32_t diskNumber, std::int64_t startingOffset) {
  const std::size_t length = wcsnlen(name, kNameChars);
  if (length < 2 || length == kNameChars || name[length - 1] != L'\\') return false;
  // The device is the name without its trailing backslash.
  name[length - 1] = L'\0';
  UniqueHandle volume(Sys().volumes->OpenVolume(name, false));
  name[length - 1] = L'\\';
  if (!volume) return false;
  alignas(8) unsigned char area[kExtentsBytes];
  if (!Sys().volumes->GetExtents(volume.get(), area, kExtentsBytes)) return false;
  const VolumeExtentsView extents(area, kExtentsBytes);
  for (std::uint32_t i = 0; i < extents.Count(); ++i) {
    const DISK_EXTENT& e = extents.Entry(i);
    if (e.DiskNumber == diskNumber && e.StartingOffset == startingOffset) return true;
  }
  return false;
}

}  // namespace

bool IsVolumeListed(std::uint32_t diskNumber, std::int64_t startingOffset) {
  wchar_t name[kNameChars] = {};
  return FindListedVolume(diskNumber, startingOffset, name, kNameChars);
}

bool FindListedVolume(std::uint32_t diskNumber, std::int64_t startingOffset, wchar_t* name,
                      std::uint32_t capacity) {
  if (name == nullptr || capacity == 0) return false;
  VolumeApi& volumes = *Sys().volumes;
  wchar_t found[kNameChars] = {};
  UniqueVolumeSearch search(volumes.FirstVolume(found, kNameChars));
  if (!search) return false;
  do {
    if (HasExtentAt(found, diskNumber, startingOffset)) return CopyBounded(name, capacity, found);
  } while (volumes.NextVolume(search.get(), found, kNameChars));
  return false;
}

bool WaitForVolumeArrival(std::uint32_t diskNumber, std::int64_t startingOffset) {
  for (std::uint32_t waited = 0;; waited += kArrivalPollMilliseconds) {
    if (IsVolumeListed(diskNumber, startingOffset)) return true;
    if (waited >= kArrivalLimitMilliseconds) return false;
    Sys().system->Pause(kArrivalPollMilliseconds);
  }
}

}  // namespace tavu
