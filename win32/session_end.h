// What Windows said about the end of the session, carried from the window
// procedure (WM_ENDSESSION, on the window's thread) to the thread that waits
// for it after asking for a restart (UiApi::WaitForSessionEnd).
#pragma once

#include <cstdint>

#include "common/ui_api.h"

namespace tavu::win32 {

// WM_ENDSESSION's wParam: whether the session ends. Wakes the waiter, or
// stays for the next one to come.
void RecordSessionEnd(bool ending);
// Drops an answer recorded before, so that a shutdown stopped earlier is not
// taken for the answer to the restart asked for now.
void ForgetSessionEnd();
// The answer recorded since the last ForgetSessionEnd, waiting at most the
// given time for it.
SessionEnd AwaitSessionEnd(std::uint32_t milliseconds);

}  // namespace tavu::win32
