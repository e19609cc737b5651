// The patcher's log: fixed context and file, so callers give only tag and message.
#pragma once

#include "common/log_writer.h"

namespace tavu::patcher {

// In the Windows folder, as Windows names it.
inline constexpr const wchar_t* kPatcherLogPath = L"%SystemRoot%\\Temp\\TvPatchDowngrade.log";

bool WriteLog(const wchar_t* tag, const wchar_t* message);

// The shared buffer that messages are formatted into just before they are logged.
// Large enough for "Assign %s, Letter = %s" with a 49-character volume name.
extern wchar_t g_patchMessage[kPathChars];

}  // namespace tavu::patcher
