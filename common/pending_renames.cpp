#include "common/pending_renames.h"

#include "common/wide_text.h"

namespace tavu {

namespace {

// The Win32 path inside one listed name: the "*N" prefix, the replace mark
// and the "\??\" of the object namespace left out.
const wchar_t* ListedPath(const wchar_t* listed) {
  if (listed[0] == L'*') {
    ++listed;
    while (*listed >= L'0' && *listed <= L'9') ++listed;
  }
  if (listed[0] == L'!') ++listed;
  if (listed[0] == L'\\' && listed[1] == L'?' && listed[2] == L'?' && listed[3] == L'\\') listed += 4;
  return listed;
}

// The length of the string at `at`, never reading past `end`.
std::size_t BoundedLength(const wchar_t* at, const wchar_t* end) {
  std::size_t n = 0;
  while (at + n < end && at[n] != L'\0') ++n;
  return n;
}

}  // namespace

bool PendingMoveListed(const wchar_t* value, std::size_t chars, const wchar_t* from, const wchar_t* to) {
  if (value == nullptr || from == nullptr) return false;
  const wchar_t* at = value;
  const wchar_t* const end = value + chars;
  wchar_t source[kPathChars];
  wchar_t target[kPathChars];
  while (at < end && *at != L'\0') {
    const std::size_t sourceLength = BoundedLength(at, end);
    const bool sourceFits = sourceLength < kPathChars;
    if (sourceFits) {
      for (std::size_t i = 0; i < sourceLength; ++i) source[i] = at[i];
      source[sourceLength] = L'\0';
    }
    at += sourceLength + 1;
    if (at >= end) break;
    const std::size_t targetLength = BoundedLength(at, end);
    const bool targetFits = targetLength < kPathChars;
    if (targetFits) {
      for (std::size_t i = 0; i < targetLength; ++i) target[i] = at[i];
      target[targetLength] = L'\0';
    }
    at += targetLength + 1;
    if (!sourceFits || !targetFits || !EqualsIgnoreAsciiCase(ListedPath(source), from)) continue;
    if (to == nullptr ? targetLength == 0
                      : targetLength != 0 && EqualsIgnoreAsciiCase(ListedPath(target), to)) {
      return true;
    }
  }
  return false;
}

}  // namespace tavu
