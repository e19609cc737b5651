// The volume the system presents for a partition, and a drive letter for it.
#pragma once

#include <cstdint>

namespace tavu::patcher {

// Room offered to the volume enumeration for one name.
inline constexpr std::uint32_t kVolumeNameChars = 260;
// The extents answer: the count and room for 257 extents of 24 bytes.
inline constexpr std::uint32_t kExtentsBytes = 6176;

// Walks the system's volumes for the one with an extent that is exactly the
// partition (disk number, starting offset and length). True: volumeName
// (kVolumeNameChars units) holds its name with the trailing backslash. False:
// "Can not find volume" has been logged.
[[nodiscard]] bool FindVolume(wchar_t* volumeName, std::uint32_t diskNumber, std::int64_t startingOffset,
                              std::int64_t length);

// Gives a volume without any mount path the first drive letter from C: to Z:
// that the system accepts. volumeName carries its trailing backslash.
void SetVolumeLetter(const wchar_t* volumeName);

}  // namespace tavu::patcher
