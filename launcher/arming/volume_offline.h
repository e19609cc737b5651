// Keeping the partition that boots next out of users' reach until the restart.
//
// Once the MBR route has made the recovery partition a visible FAT32 volume
// and removed its letter, the volume is still reachable by every user through
// "\\?\Volume{GUID}\", and FAT32 has no permissions: whatever is written there
// runs at the next start, before Windows. A volume dismounted and taken
// offline cannot be mounted again until IOCTL_VOLUME_ONLINE or the restart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavu {

enum class OfflineStep : std::uint8_t { None, Find, Open, Lock, Dismount, Offline };

struct OfflineOutcome {
  bool offline = false;
  // The first step Windows refused (None when none was) and its error.
  OfflineStep firstRefused = OfflineStep::None;
  std::uint32_t error = 0;
};

// Whether to go on with the next step after Windows refused this one. A lock is
// refused while any file on the volume is open, which is exactly what a user
// who wants to keep the volume does: the dismount then goes ahead without it
// and takes those files from their holder. Every other refusal leaves the
// volume as it is.
bool GoOnAfterRefusal(OfflineStep refused);

// Locks, dismounts and takes offline the volume that the enumeration lists
// with an extent on the disk at the offset. Nothing it meets stops the caller.
OfflineOutcome TakeVolumeOffline(std::uint32_t diskNumber, std::int64_t startingOffset);

// The drive root ("E:\\") that the volume listed at the offset is mounted
// at, from the mount manager's own list: it answers for an offline volume
// too, where a query of the file system does not. Empty when it has none.
bool LetterRootOfVolume(std::uint32_t diskNumber, std::int64_t startingOffset, wchar_t* root,
                        std::size_t capacity);

enum class VolumeReach : std::uint8_t {
  // No listed volume lies there (a hidden partition): no path reaches it.
  NotPresented,
  // Listed, but its file system cannot be reached.
  Offline,
  // A user can reach its files.
  Reachable,
};

// Asks Windows how the volume at the offset stands now, so that a later
// process (the support check) learns whether the taking offline held.
VolumeReach QueryVolumeReach(std::uint32_t diskNumber, std::int64_t startingOffset);

}  // namespace tavu
