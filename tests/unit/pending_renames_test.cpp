#include "common/pending_renames.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace tavu {
namespace {

constexpr wchar_t kNew[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe.new";
constexpr wchar_t kInstalled[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe";
constexpr wchar_t kAside[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe.old";

// A REG_MULTI_SZ value from its strings: each ended by its NUL, then one more.
std::wstring Value(std::initializer_list<std::wstring> strings) {
  std::wstring value;
  for (const std::wstring& s : strings) value += s + L'\0';
  return value + L'\0';
}

TEST(PendingRenames, EveryFormWindowsWritesIsRecognised) {
  const std::wstring src = std::wstring(L"\\??\\") + kNew;
  const std::wstring dst = std::wstring(L"\\??\\") + kInstalled;
  const std::wstring aside = std::wstring(L"\\??\\") + kAside;
  struct Case {
    const char* what;
    std::wstring value;
    const wchar_t* to;  // null: a deletion
    bool listed;
  } cases[] = {
      {"Windows 10/11 source and replacing target", Value({L"*1" + src, L"*1!" + dst}), kInstalled, true},
      {"*2 source", Value({L"*2" + src, L"*1!" + dst}), kInstalled, true},
      {"*2 on both", Value({L"*2" + src, L"*2!" + dst}), kInstalled, true},
      {"replacing target without *N", Value({src, L"!" + dst}), kInstalled, true},
      {"plain names of older Windows", Value({src, dst}), kInstalled, true},
      {"names in another case",
       Value({L"*1\\??\\c:\\program files\\tavu\\tavu recovery launcher\\tavu recovery.exe.NEW",
              L"*1!\\??\\C:\\PROGRAM FILES\\TAVU\\TAVU RECOVERY LAUNCHER\\TAVU RECOVERY.EXE"}),
       kInstalled, true},
      {"after other pairs", Value({L"*1\\??\\C:\\a.tmp", L"", L"*1" + src, L"*1!" + dst}), kInstalled, true},
      {"deletion, empty target", Value({L"*1" + aside, L""}), nullptr, true},
      {"a deletion is not the move", Value({L"*1" + src, L""}), kInstalled, false},
      {"a move is not a deletion", Value({L"*1" + aside, L"*1!" + dst}), nullptr, false},
      {"the move the other way", Value({L"*1" + dst, L"*1!" + src}), kInstalled, false},
      {"another target", Value({L"*1" + src, L"*1!\\??\\C:\\Windows\\System32\\x.exe"}), kInstalled, false},
      {"a source cut short of its prefix", Value({L"*1\\??" + std::wstring(kNew), L"*1!" + dst}), kInstalled,
       false},
      {"empty value", Value({}), kInstalled, false},
  };
  for (const Case& c : cases) {
    const wchar_t* from = c.to == nullptr ? kAside : kNew;
    EXPECT_EQ(PendingMoveListed(c.value.data(), c.value.size(), from, c.to), c.listed) << c.what;
  }
}

TEST(PendingRenames, DamagedValuesAreReadWithinTheirBounds) {
  const std::wstring src = std::wstring(L"*1\\??\\") + kNew;
  const std::wstring dst = std::wstring(L"*1!\\??\\") + kInstalled;
  struct Case {
    const char* what;
    std::wstring value;
    bool listed;
  } cases[] = {
      {"without its final terminators", src + L'\0' + dst, true},
      {"a source without its target", src + L'\0', false},
      {"a name longer than any path",
       std::wstring(5000, L'x') + L'\0' + dst + L'\0' + src + L'\0' + dst + L'\0', true},
  };
  for (const Case& c : cases) {
    // Copied into a block of exactly its length, so a read past it is caught
    // by the address sanitizer.
    const std::vector<wchar_t> exact(c.value.begin(), c.value.end());
    EXPECT_EQ(PendingMoveListed(exact.data(), exact.size(), kNew, kInstalled), c.listed) << c.what;
  }
  EXPECT_FALSE(PendingMoveListed(nullptr, 0, kNew, kInstalled));
}

}  // namespace
}  // namespace tavu
