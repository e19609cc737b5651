// What a support ticket about Windows RE needs besides the verdict: the
// recovery partition's size, free space, label, file system and volume (what
// decides whether a Windows RE servicing update fits), every partition that
// looks like a recovery partition with the live one marked, loaders left over
// from earlier installations, where the armed entry's image lies, and the
// image reagentc /enable would need while Windows RE is disabled.
#pragma once

#include <cstddef>
#include <cstdint>

#include "check/volume_place.h"
#include "common/volume_label.h"
#include "common/wide_text.h"
#include "launcher/arming/recovery_entry.h"

namespace tavu::check {

struct CheckFacts;

struct PartitionTicket {
  bool known = false;  // the disk's table names the partition
  std::int64_t offset = 0;
  std::int64_t size = 0;  // its length in the table
  bool hasFree = false;
  std::uint64_t freeBytes = 0;
  bool hasLabel = false;
  wchar_t label[kVolumeLabelChars] = {};
  wchar_t fileSystem[16] = {};      // empty: unknown
  wchar_t volume[kPathChars] = {};  // "\\?\Volume{GUID}\"; empty: not presented
};

struct RecoveryCandidate {
  std::int32_t disk = 0;
  std::int32_t partition = 0;
  bool live = false;
};

enum class Presence : std::uint8_t { Unknown, Present, Missing };

struct TicketFacts {
  PartitionTicket recovery;
  static constexpr std::size_t kRoom = 8;
  RecoveryCandidate candidates[kRoom];
  std::size_t candidateCount = 0;
  wchar_t orphans[kRoom][kMaxEntryIdChars + 1] = {};
  std::size_t orphanCount = 0;
  // The volume the armed entry's image lies on, and the one its boot.sdi does.
  VolumePlace entryPlace;
  VolumePlace sdiPlace;
  // Where ReAgent.xml's WinreLocation points: its volume, and whether
  // Winre.wim lies there.
  VolumePlace locationPlace;
  Presence locationImage = Presence::Unknown;
  // Without a recovery partition: the recovery loader the listing still
  // holds, and its device (Windows RE on C:, typically).
  bool loaderWithoutPartition = false;
  wchar_t loaderId[kMaxEntryIdChars + 1] = {};
  wchar_t loaderDevice[kPathChars] = {};
  // C:\Windows\System32\Recovery\Winre.wim, asked while Windows RE is disabled.
  bool system32Asked = false;
  Presence system32Image = Presence::Unknown;
};

inline constexpr wchar_t kSystem32Image[] = L"C:\\Windows\\System32\\Recovery\\Winre.wim";

// The facts, after the rest of the check ran (the route, the listing, ReAgent.xml).
void ReadTicketFacts(CheckFacts& f, const ListingLines& listing);

}  // namespace tavu::check
