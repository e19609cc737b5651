// The environment that every program the launcher starts receives: Windows'
// own, never the one the owner's account handed the elevated launcher. That
// one is the owner's to change: a PATHEXT of ".CMD" and a folder of the
// owner's at the head of PATH make "bcdedit" in a batch file run the owner's
// bcdedit.cmd with the administrator's rights.
#pragma once

#include <cstddef>

namespace tavu {

// Room for the block with a Windows folder of the longest path.
inline constexpr std::size_t kToolEnvironmentChars = 4096;

// Fills block, for CreateProcessW with CREATE_UNICODE_ENVIRONMENT: entries
// "NAME=VALUE", each ended by its NUL, sorted by name as Windows keeps them,
// and one more NUL. Its folders are those of the Windows folder as Windows
// names it. False when it does not fit.
bool BuildToolEnvironment(wchar_t* block, std::size_t capacity);

}  // namespace tavu
