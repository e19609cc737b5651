// What the firmware and the Windows boot manager act on at the next start,
// read from this machine: the disk the firmware starts (the first one the
// launcher's own disk walk searches), its master boot record as the BIOS code
// reads it, and the boot store as `bcdedit /enum all` lists it. Deciding is
// DecideNextStart's alone, so whoever asks with the same machine and listing
// gets the same answer.
#pragma once

#include "common/next_start.h"
#include "launcher/arming/recovery_entry.h"

namespace tavu::check {

// Everything DecideNextStart weighs except the firmware mode and the menu
// rule, which stay at their defaults. Reads through the platform seam and
// changes nothing; what cannot be read is left out, and the decision then
// says what it lacked (no disk, a table it cannot start, no entry).
BootFacts ReadBootFacts(const ListingLines& listing);

NextStartReport PredictNextStart(const ListingLines& listing, bool firmwareModeOn, MenuRule rule);

}  // namespace tavu::check
