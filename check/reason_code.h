// Why the check's answer is not "ready", as one word a fleet's scripts can
// match on, and the event each answer is logged as. Words and event IDs are
// published (docs/fleet.md, docs/check.schema.json): a word is never renamed
// and an ID never reused; a new cause gets a new word and new IDs.
#pragma once

#include <cstdint>

#include "common/record_api.h"

namespace tavu::check {

enum class ReasonCode : std::uint8_t {
  None,  // ready, and nothing armed
  Armed,
  HalfArmed,
  ManufacturerRefused,
  BitLockerProtected,
  JournalUntrusted,
  JournalUnreadable,
  PartitionTableUnreadable,
  NoRecoveryPartition,
  ListingNotMade,
  ListingUnreadable,
  WinreDisabled,
  NoRecoveryEntry,
  ImageMissing,
  ImageNotWim,
  SdiMissing,
  NoBootSignature,
  RecoveryLabelWrong,
  RecoveryLabelUnreadable,
  BitLockerLocked,
  WinreLocationMismatch,
  WinreOnWindowsVolume,
  ListingInvalid,
};

inline constexpr int kReasonCodeCount = static_cast<int>(ReasonCode::ListingInvalid) + 1;

// "image-missing", ...; null for None.
const char* ReasonCodeWord(ReasonCode code);

// The Application-log event of an answer: 1000 ready; 1001 and 1002 ready but
// armed or half-armed; 2000 + the code's number for each reason of an abort.
std::uint32_t EventId(bool ready, ReasonCode code);
// Information when ready and not armed, a warning when ready but armed, an
// error for an abort.
EventKind EventKindOf(bool ready, ReasonCode code);
const char* EventKindWord(EventKind kind);

}  // namespace tavu::check
