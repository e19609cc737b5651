// Waiting for a volume that a partition-table write has just presented.
//
// When IOCTL_DISK_SET_DRIVE_LAYOUT_EX (or diskpart) makes a partition visible
// that Windows did not present before, the partition manager re-enumerates
// the disk and the mount manager announces the new volume some time later;
// until then FindFirstVolumeW does not list it and no drive root shows it.
#pragma once

#include <cstdint>

namespace tavu {

// A few hundred milliseconds is usual, one to two seconds on a slow disk or
// while an anti-malware scanner looks at the new volume first. Five seconds
// covers that with room to spare and is still short beside the minutes the
// recovery takes; polling every 100 ms notices the arrival at most a tenth of
// a second late, for at most 50 volume enumerations.
inline constexpr std::uint32_t kArrivalPollMilliseconds = 100;
inline constexpr std::uint32_t kArrivalLimitMilliseconds = 5000;

// Whether a volume the enumeration lists has an extent on the disk starting
// at the offset.
bool IsVolumeListed(std::uint32_t diskNumber, std::int64_t startingOffset);
// The same search, giving the volume's name ("\\?\Volume{GUID}\") in name
// (capacity characters, 50 are enough); false, name unspecified, when none.
bool FindListedVolume(std::uint32_t diskNumber, std::int64_t startingOffset, wchar_t* name,
                      std::uint32_t capacity);

// Asks at once and then once per poll until the volume is listed or the limit
// has passed. True when it arrived. Volumes that cannot be opened or asked for
// their extents are not it.
bool WaitForVolumeArrival(std::uint32_t diskNumber, std::int64_t startingOffset);

}  // namespace tavu
