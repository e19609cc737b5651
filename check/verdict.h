// The check's verdict: the first abort the launcher would meet, in its own
// order, with one plain sentence on why and what to do.
#pragma once

#include "check/recovery_check.h"

namespace tavu::check {

void DecideVerdict(CheckFacts& facts);

}  // namespace tavu::check
