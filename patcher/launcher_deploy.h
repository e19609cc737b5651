// Writing the carried launcher over the installed one.
#pragma once

#include <cstdint>

namespace tavu::patcher {

// The carried launcher: resource type "EXE", identifier 129, of this program.
inline constexpr std::uint16_t kCarriedLauncherId = 129;
inline constexpr const wchar_t* kCarriedLauncherType = L"EXE";
// Beside the installed launcher: the new one, written completely before it
// takes its place, and the name a running launcher makes way under until the
// restart deletes it.
inline constexpr const wchar_t* kNewSuffix = L".new";
inline constexpr const wchar_t* kAsideSuffix = L".old";

// Replaces the installed launcher with the carried one in one step. On any
// failure (resource missing or empty, installed file read-only, temporary
// file not written in full, not flushed, not moved into place) the installed
// launcher stays exactly as it was and the temporary file is gone. A move or
// removal refused for a sharing violation or access denied is tried again,
// ten times in all, 100 ms apart. A running launcher is renamed aside, the
// new one moved in and the old one deleted at the next restart. One that
// still cannot be replaced (it cannot be renamed, or a scanner holds the new
// file) gets the complete new file beside it, moved into place by Windows at
// the next restart: asked for once, logged on every run.
void ExtractLauncher();

}  // namespace tavu::patcher
