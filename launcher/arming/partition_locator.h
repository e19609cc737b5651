// Finds the recovery partition and its volume by looking at the physical disks
// themselves. Results: 0 found, 1 bad argument, 4 not found, 5 query or read failed.
#pragma once

#include <cstdint>

#include "common/platform.h"

namespace tavu {

inline constexpr int kLocateFound = 0;
inline constexpr int kLocateBadArgument = 1;
inline constexpr int kLocateNotFound = 4;
inline constexpr int kLocateFailed = 5;

// QueryPartitionStyle's answers besides kLocateFailed.
inline constexpr int kStyleMbr = 0;
inline constexpr int kStyleGpt = 1;

[[nodiscard]] int FindRecoveryPartition(std::int32_t* partitionNumber, std::int32_t* diskNumber);
// kStyleMbr, kStyleGpt, or kLocateFailed when the layout query failed (also for
// a disk that cannot be opened).
[[nodiscard]] int QueryPartitionStyle(std::int32_t diskNumber);
// volumeRoot: 260 characters; "E:\" or empty.
[[nodiscard]] int FindRecoveryVolume(std::int32_t* diskNumber, std::int32_t* partitionNumber,
                                     wchar_t* volumeRoot);
// The drive root ("E:\") of the mounted volume labelled "Recovery" that has an
// extent on diskNumber starting at offset; volumeRoot: 260 characters.
// 0 found, 4 none (volumeRoot empty), 5 the drive list or an extents query failed.
[[nodiscard]] int FindVolumeRoot(std::int32_t diskNumber, wchar_t* volumeRoot, std::int64_t offset);

}  // namespace tavu
