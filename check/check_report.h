// The support check's answer, as one JSON object's members and as a readable
// report; the same text from TavuRecoveryCheck.exe and from tavu-sim check.
#pragma once

#include "check/recovery_check.h"
#include "common/json_out.h"

namespace tavu::check {

// The members of the check's JSON object, in order; the caller opens and
// closes the object (tavu-sim adds its disks).
void WriteCheckMembers(const CheckFacts& facts, JsonOut& json);
void WriteCheckReport(const CheckFacts& facts, TextSink& out);

}  // namespace tavu::check
