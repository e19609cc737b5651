#include "patcher/launcher_version.h"

#include <cstring>

#include "common/heap_block.h"
#include "common/platform.h"
#include "common/resource_api.h"
#include "common/system_folders.h"
#include "common/utf16.h"

namespace tavu::patcher {

namespace {

bool IsWcstolSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// One field, read as wcstol reads base 10 with a 32-bit long: white space, an
// optional sign, the digits up to the first other unit; no digits give 0, and
// values outside the 32-bit range stick at its ends.
std::int32_t FieldValue(const wchar_t* field, const wchar_t* end) {
  const wchar_t* p = field;
  while (p < end && IsWcstolSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == L'+' || *p == L'-')) {
    negative = *p == L'-';
    ++p;
  }
  constexpr std::int64_t kLimit = 2147483648LL;  // magnitude of INT32_MIN
  std::int64_t magnitude = 0;
  for (; p < end && *p >= L'0' && *p <= L'9'; ++p) {
    magnitude = magnitude * 10 + (*p - L'0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);
  return magnitude >= kLimit ? INT32_MAX : static_cast<std::int32_t>(magnitude);
}

// Units of a UTF-16LE value up to its terminator, looking at no more than
// maxUnits of them.
std::size_t Utf16Length(const std::uint8_t* bytes, std::uint32_t maxUnits) {
  std::size_t n = 0;
  while (n < maxUnits && (bytes[2 * n] != 0 || bytes[2 * n + 1] != 0)) ++n;
  return n;
}

}  // namespace

bool LauncherPath(const wchar_t* suffix, wchar_t* out, std::size_t capacity) {
  return ProgramFilesPath(kLauncherBelowProgramFiles, out, capacity) &&
         AppendBounded(out, capacity, suffix != nullptr ? suffix : L"");
}

int GetFileVersion(wchar_t* version, std::size_t capacity) {
  if (version == nullptr || capacity == 0) return 0;
  std::memset(version, 0, capacity * sizeof(wchar_t));
  wchar_t path[kLongTextChars];
  if (!LauncherPath(L"", path, kLongTextChars)) return 0;

  ResourceApi& resources = *Sys().resources;
  std::uint32_t size = resources.VersionInfoSize(path);
  if (size == 0) return 0;
  HeapBlock block = HeapBlock::Zeroed(size);
  if (!block || !resources.VersionInfo(path, size, block.get())) return 1;

  const std::uint8_t* table = nullptr;
  std::uint32_t tableBytes = 0;
  if (!resources.QueryValue(block.get(), L"\\VarFileInfo\\Translation", &table, &tableBytes) ||
      table == nullptr) {
    tableBytes = 0;
  }
  for (std::uint32_t pair = 0; pair < tableBytes / 4; ++pair) {
    const std::uint8_t* p = table + 4 * pair;
    unsigned language = p[0] | (p[1] << 8);
    unsigned codePage = p[2] | (p[3] << 8);
    wchar_t subBlock[kLongTextChars];
    if (FormatBounded(subBlock, kLongTextChars, L"\\StringFileInfo\\%04x%04x\\FileVersion", language,
                      codePage) < 0) {
      continue;
    }
    const std::uint8_t* value = nullptr;
    std::uint32_t units = 0;
    if (!resources.QueryValue(block.get(), subBlock, &value, &units) || value == nullptr) continue;
    std::size_t length = Utf16Length(value, units);
    // Empty, or too long for the caller's buffer: no usable text in this pair.
    if (length == 0 || length >= capacity) continue;
    DecodeUtf16Le(value, 2 * length, version, capacity);
    break;
  }
  return 1;
}

void ParseVersion(const wchar_t* text, VersionList* list) {
  if (list == nullptr) return;
  list->count = 0;
  wchar_t work[kLongTextChars];
  CopyBounded(work, kLongTextChars, text);
  const wchar_t* p = work;
  while (*p != L'\0' && list->count < kMaxVersionFields) {
    while (*p == L'.') ++p;
    if (*p == L'\0') break;
    const wchar_t* end = p;
    while (*end != L'\0' && *end != L'.') ++end;
    list->values[list->count++] = FieldValue(p, end);
    p = end;
  }
}

int CompareVersion(const VersionList& a, const VersionList& b) {
  if (a.count == 0) return -1;
  if (b.count == 0) return 1;
  std::size_t common = a.count < b.count ? a.count : b.count;
  for (std::size_t i = 0; i < common; ++i) {
    if (a.values[i] > b.values[i]) return 1;
    if (a.values[i] < b.values[i]) return -1;
  }
  if (a.count == b.count) return 0;
  return a.count > b.count ? 1 : -1;
}

}  // namespace tavu::patcher
