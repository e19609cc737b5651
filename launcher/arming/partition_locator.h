// Finds the recovery partition and its volume by looking at the physical disks
// themselves. Results: 0 found, 1 bad argument, 4 not found, 5 query or read failed.
#pragma once

#include <cstdint>

#include "common/platform.h"
#include "common/volume_label.h"  // kLocateFound ... kLocateFailed

namespace tavu {

// QueryPartitionStyle's answers besides kLocateFailed.
inline constexpr int kStyleMbr = 0;
inline constexpr int kStyleGpt = 1;

// What a search saw on its way, for the support check (the launcher passes
// none): how many disks it opened, and for a result of 5 the disk whose answer
// failed (-1: no room for the answer could be had) with the Windows error.
struct LocateDetail {
  std::int32_t disksOpened = 0;
  std::int32_t failedDisk = -1;
  std::uint32_t error = 0;
  // The StartingOffset of the partition found.
  std::int64_t foundOffset = 0;
  // Disks passed over because they have no medium (bit n for disk n).
  std::uint32_t noMediumDisks = 0;
};

[[nodiscard]] int FindRecoveryPartition(std::int32_t* partitionNumber, std::int32_t* diskNumber,
                                        LocateDetail* detail = nullptr);
// kStyleMbr, kStyleGpt, or kLocateFailed when the layout query failed (also for
// a disk that cannot be opened).
[[nodiscard]] int QueryPartitionStyle(std::int32_t diskNumber, LocateDetail* detail = nullptr);
// The first volume labelled Recovery on the searchable disks, from scratch.
// volumeRoot: 260 characters; "E:\" or empty.
[[nodiscard]] int FindRecoveryVolume(std::int32_t* diskNumber, std::int32_t* partitionNumber,
                                     wchar_t* volumeRoot, LocateDetail* detail = nullptr);
// The volume of the partition that starts at offset on diskNumber, when it is
// labelled Recovery, and nowhere else: what the worker looks for once diskpart
// has made the partition FindRecoveryPartition found visible. 0 found
// (*partitionNumber set, volumeRoot "E:\" or empty), 4 not there or labelled
// otherwise (also when the walk passes that disk over), 5 its layout query failed.
[[nodiscard]] int FindRecoveryVolumeAt(std::int32_t diskNumber, std::int64_t offset,
                                       std::int32_t* partitionNumber, wchar_t* volumeRoot,
                                       LocateDetail* detail = nullptr);
// The drive root ("E:\") of the mounted volume labelled "Recovery" that has an
// extent on diskNumber starting at offset; volumeRoot: 260 characters.
// 0 found, 4 none (volumeRoot empty), 5 the drive list or an extents query failed.
[[nodiscard]] int FindVolumeRoot(std::int32_t diskNumber, wchar_t* volumeRoot, std::int64_t offset);

}  // namespace tavu
