// Trying a step again while another program briefly holds its file.
#pragma once

#include <cstdint>

#include "common/platform.h"
#include "common/system_api.h"
#include "common/win_errors.h"

namespace tavu {

// Anti-malware scanners, the search indexer and Explorer open a file right
// after it was written, or after a tool has read it, and hold it for a moment
// without FILE_SHARE_DELETE: a delete or rename of it is then refused with a
// sharing violation (or access denied while its deletion is pending). Most
// let go within tens of milliseconds; ten tries 100 ms apart wait out the
// slow ones for up to 0.9 s and then leave the refusal to the caller. Any
// other refusal will not go away and ends the tries at once.
inline constexpr int kInUseTries = 10;
inline constexpr std::uint32_t kInUsePauseMilliseconds = 100;
// A cloud-backed scanner holds a fresh script or listing while it asks its
// service, for seconds: a program waits this long for a file of its own
// before it gives the file up.
inline constexpr std::uint32_t kOwnFileWaitMilliseconds = 10000;

inline bool RefusedWhileInUse(std::uint32_t error) {
  return error == kErrorSharingViolation || error == kErrorAccessDenied;
}

// step() is a call that sets the last error when it fails.
template <class Step>
bool RetryWhileInUse(Step step, int tries = kInUseTries) {
  for (int attempt = 1;; ++attempt) {
    if (step()) return true;
    if (attempt >= tries || !RefusedWhileInUse(Sys().system->LastError())) return false;
    Sys().system->Pause(kInUsePauseMilliseconds);
  }
}

// Waits out a scanner on a file of the program's own, for up to
// kOwnFileWaitMilliseconds.
template <class Step>
bool RetryWhileOwnFileInUse(Step step) {
  return RetryWhileInUse(step, static_cast<int>(kOwnFileWaitMilliseconds / kInUsePauseMilliseconds) + 1);
}

}  // namespace tavu
