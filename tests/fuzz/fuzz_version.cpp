// Version texts as they come from a file's version resource: any units, any
// length. Two texts (split at the first newline) are parsed and ordered; the
// order must be a consistent one whatever the texts hold.
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>

#include "patcher/launcher_version.h"
#include "tests/fuzz/fuzz_text.h"

namespace {

using tavu::patcher::CompareVersion;
using tavu::patcher::kMaxVersionFields;
using tavu::patcher::ParseVersion;
using tavu::patcher::VersionList;

// A field is a maximal run of non-dots: at most as many as the text has runs.
std::size_t FieldsAtMost(const std::wstring& text) {
  std::size_t runs = 0;
  bool inRun = false;
  for (wchar_t c : text) {
    if (c == L'\0') break;
    if (c != L'.' && !inRun) ++runs;
    inRun = c != L'.';
  }
  return runs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring all = tavu::fuzz::WideFromFuzz(data, size);
  std::size_t cut = all.find(L'\n');
  std::wstring texts[2] = {all.substr(0, cut), cut == std::wstring::npos ? L"1.0.0.7" : all.substr(cut + 1)};
  static VersionList lists[2];
  for (int i = 0; i < 2; ++i) {
    ParseVersion(texts[i].c_str(), &lists[i]);
    if (lists[i].count > kMaxVersionFields) __builtin_trap();
    if (lists[i].count > FieldsAtMost(texts[i])) __builtin_trap();
  }
  const int ab = CompareVersion(lists[0], lists[1]);
  const int ba = CompareVersion(lists[1], lists[0]);
  if (ab < -1 || ab > 1) __builtin_trap();
  // An empty list is older than anything, even another empty one.
  if (lists[0].count == 0 && ab != -1) __builtin_trap();
  if (lists[0].count != 0 && lists[1].count != 0 && ab != -ba) __builtin_trap();
  if (lists[0].count != 0 && CompareVersion(lists[0], lists[0]) != 0) __builtin_trap();
  // The same text parsed again, into a list that held other values, gives
  // the same list.
  static VersionList again;
  ParseVersion(texts[0].c_str(), &again);
  if (again.count != lists[0].count) __builtin_trap();
  for (std::size_t i = 0; i < again.count; ++i) {
    if (again.values[i] != lists[0].values[i]) __builtin_trap();
  }
  return 0;
}
