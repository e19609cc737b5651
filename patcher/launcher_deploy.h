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
// ten times in all, 100 ms apart. For a running launcher, Windows is first
// asked (and the request flushed) to move the new file into place at the
// next restart; then the running one is renamed aside, the new one moved in
// and the old one deleted at the next restart, so that a power cut at any
// point leaves a launcher under its name once Windows has started again.
// One that still cannot be replaced (it cannot be renamed, or a scanner
// holds the new file) gets the complete new file beside it, moved into place
// by Windows at the next restart: asked for once, logged on every run.
void ExtractLauncher();

// After a power cut part way through that replacement: when the installed
// launcher's name is empty, puts back the new file if it holds the carried
// launcher in full, else the old one beside it; then removes an old one left
// beside the installed launcher. Only in a folder that no one but
// administrators can change; logs the putting back.
void RestoreInterruptedLauncher();

}  // namespace tavu::patcher
