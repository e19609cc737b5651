// The installed launcher's file version: reading it, turning version texts into
// lists of numbers and ordering two lists.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/wide_text.h"

namespace tavu::patcher {

// Where the launcher is installed, under the folder of (64-bit) programs.
inline constexpr const wchar_t* kLauncherBelowProgramFiles =
    L"TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe";
// The installed launcher's path as this Windows names its program folder,
// followed by suffix (L"" for the launcher itself, L".new" beside it). False
// when it does not fit.
bool LauncherPath(const wchar_t* suffix, wchar_t* out, std::size_t capacity);
// The FileVersion of the launcher this patcher carries.
inline constexpr const wchar_t* kThresholdVersion = L"1.0.0.7";

// A version text is cut to 1023 units before it is split, and no field is
// empty, so no text can give more than 512 fields: a fixed list never fails to
// grow.
inline constexpr std::size_t kMaxVersionFields = kLongTextChars / 2;

struct VersionList {
  std::int32_t values[kMaxVersionFields] = {};
  std::size_t count = 0;
};

// Fills version (capacity units, zero-filled here first) with the FileVersion
// text of the first translation that has one. 0 when the launcher file has no
// version information, otherwise 1, also when no FileVersion was found. A
// FileVersion that does not fit the buffer with its terminator is treated as
// unreadable: it is passed over like a missing one.
[[nodiscard]] int GetFileVersion(wchar_t* version, std::size_t capacity);

// Splits text at dots (runs of dots are one separator, no empty fields) and
// converts each field as wcstol does in base 10, clamped to 32 bits.
void ParseVersion(const wchar_t* text, VersionList* list);

// -1, 0 or 1: the order of a relative to b. An empty a is older than anything.
[[nodiscard]] int CompareVersion(const VersionList& a, const VersionList& b);

}  // namespace tavu::patcher
