// The Windows recovery partition of a notebook as Windows leaves it: a real
// NTFS (formatted by mkntfs) holding \Recovery\WindowsRE\Winre.wim, a small
// but real WIM made by wimlib, and \Recovery\WindowsRE\boot.sdi. Unlike the
// byte-by-byte builders these use the real tools, because every reader of the
// partition's files (The Sleuth Kit in the simulated machine, Windows itself)
// must find a file system that real tools made.
#pragma once

#include <cstdint>
#include <string>

#include "sim/images/disk_builders.h"

namespace tavu::images {

// A WIM with one empty image, boot index 1, uncompressed; made once per process.
const Bytes& SmallWinreWim();
// The start of a System Deployment Image as Windows ships boot.sdi.
const Bytes& SmallBootSdi();

// An NTFS volume of `sectors` sectors of sectorSize bytes (the disk's logical
// sector size) for a partition that starts at startLba, with that label and
// the two files above. Empty when mkntfs or
// wimlib is missing or fails. Made once per process for each set of arguments
// (tests build many notebooks).
Bytes RecoveryNtfs(const std::u16string& label, std::uint64_t startLba, std::uint64_t sectors,
                   std::uint32_t sectorSize = kSector);

}  // namespace tavu::images
