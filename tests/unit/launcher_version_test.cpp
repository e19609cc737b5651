#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "patcher/launcher_version.h"
#include "sim/core/last_error.h"
#include "tests/fixtures/pe_builder.h"
#include "tests/fixtures/sim_test.h"
#include "tests/fixtures/version_block.h"

namespace tavu::test {
namespace {

using patcher::CompareVersion;
using patcher::GetFileVersion;
using patcher::ParseVersion;
using patcher::VersionList;

std::vector<std::int32_t> Fields(const VersionList& list) {
  return std::vector<std::int32_t>(list.values, list.values + list.count);
}

VersionList ListOf(const std::vector<std::int32_t>& values) {
  VersionList list;
  for (std::int32_t v : values) list.values[list.count++] = v;
  return list;
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text != L'\0'; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

TEST(VersionOrder, InstalledTextsAgainstTheCarriedVersion) {
  struct Case {
    const wchar_t* installed;
    std::vector<std::int32_t> fields;
    int order;  // installed relative to 1.0.0.7
  };
  const Case cases[] = {
      {L"1.0.0.7", {1, 0, 0, 7}, 0},
      {L"1.0.0.10", {1, 0, 0, 10}, 1},
      {L"1.0.0.6", {1, 0, 0, 6}, -1},
      {L"1.0", {1, 0}, -1},
      {L"1.0.0.7.1", {1, 0, 0, 7, 1}, 1},
      {L"2", {2}, 1},
      {L"01.00.00.07", {1, 0, 0, 7}, 0},
      {L"1..0.0.7", {1, 0, 0, 7}, 0},
      {L".1.0.0.7..", {1, 0, 0, 7}, 0},
      {L"1.0.0.7 beta", {1, 0, 0, 7}, 0},
      {L"-1.0", {-1, 0}, -1},
      {L"", {}, -1},
      {L"...", {}, -1},
      {L"1, 0, 0, 7", {1}, -1},
      {L"4294967296.0", {INT32_MAX, 0}, 1},
      {L"2147483647", {INT32_MAX}, 1},
      {L"2147483648", {INT32_MAX}, 1},
      {L"99999999999999999999999.1", {INT32_MAX, 1}, 1},
      {L"-2147483648.5", {INT32_MIN, 5}, -1},
      {L"-99999999999", {INT32_MIN}, -1},
      {L" \t1.\n0.0. 8", {1, 0, 0, 8}, 1},
      {L"+1.+0.-0.7", {1, 0, 0, 7}, 0},
      {L"1.0.0.x", {1, 0, 0, 0}, -1},
      {L"v1.0.0.7", {0, 0, 0, 7}, -1},
      {L"1.0.0.- 7", {1, 0, 0, 0}, -1},
      {L"1.0.0.0x8", {1, 0, 0, 0}, -1},
  };
  VersionList threshold;
  ParseVersion(L"1.0.0.7", &threshold);
  ASSERT_EQ(Fields(threshold), (std::vector<std::int32_t>{1, 0, 0, 7}));
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.installed));
    VersionList installed;
    ParseVersion(c.installed, &installed);
    EXPECT_EQ(Fields(installed), c.fields);
    EXPECT_EQ(CompareVersion(installed, threshold), c.order);
  }
}

TEST(VersionOrder, ListRules) {
  struct Case {
    std::vector<std::int32_t> a, b;
    int order;
  };
  const Case cases[] = {
      {{}, {}, -1},
      {{}, {1}, -1},
      {{0}, {}, 1},
      {{INT32_MIN}, {}, 1},
      {{1, 0, 0, 7}, {1, 0, 0, 7}, 0},
      {{INT32_MIN}, {INT32_MAX}, -1},
      {{INT32_MAX}, {INT32_MIN}, 1},
      {{-1}, {0}, -1},
      {{1, 2}, {1, 2, 0}, -1},
      {{1, 2, 0}, {1, 2}, 1},
      {{3}, {2, 9, 9}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareVersion(ListOf(c.a), ListOf(c.b)), c.order) << ::testing::PrintToString(c.a) << " vs "
                                                                  << ::testing::PrintToString(c.b);
  }
}

TEST(VersionOrder, LongTextsAreCutNotOverrun) {
  // 2000 units of "1." is cut to 1023 units before splitting: 512 fields.
  std::wstring text;
  for (int i = 0; i < 1000; ++i) text += L"1.";
  VersionList list;
  ParseVersion(text.c_str(), &list);
  ASSERT_EQ(list.count, 512u);
  for (std::size_t i = 0; i < list.count; ++i) ASSERT_EQ(list.values[i], 1);
  // A refill empties the list first.
  ParseVersion(L"4.5", &list);
  EXPECT_EQ(Fields(list), (std::vector<std::int32_t>{4, 5}));
}

// The launcher file on the simulated C: and what GetFileVersion reads from it.
class FileVersionTest : public SimTest {
 protected:
  std::string LauncherHost() {
    return root() + "/Program Files/TAVU/TAVU Recovery Launcher/TAVU Recovery.exe";
  }
  void Install(const std::string& bytes) { WriteHostFile(LauncherHost(), bytes); }
  // GetFileVersion's result and text.
  std::pair<int, std::string> Read() {
    wchar_t text[kPathChars];
    std::fill(std::begin(text), std::end(text), L'#');
    int result = GetFileVersion(text, kPathChars);
    return {result, Narrow(text)};
  }
};

TEST_F(FileVersionTest, TranslationWalk) {
  const std::string v259(259, '9');
  struct Case {
    const char* what;
    VersionContent content;
    std::string expected;
  };
  using Tables = std::vector<StringTableContent>;
  using Pairs = std::vector<std::pair<std::uint16_t, std::uint16_t>>;
  VersionContent base;
  auto with = [&](Pairs pairs, Tables tables) {
    VersionContent s = base;
    s.translations = std::move(pairs);
    s.tables = std::move(tables);
    return s;
  };
  const Case cases[] = {
      {"one translation", base, "1.0.0.7"},
      {"block name stored in upper case", with({{0x0409, 0x04B0}}, {{"040904B0", {{"FileVersion", "1.0.0.5"}}}}),
       "1.0.0.5"},
      {"first pair has no table, second does",
       with({{0x0407, 0x04E4}, {0x0409, 0x04B0}}, {{"040904b0", {{"FileVersion", "2.0"}}}}), "2.0"},
      {"first pair's table lacks FileVersion",
       with({{0x0407, 0x04E4}, {0x0409, 0x04B0}},
            {{"040704e4", {{"ProductVersion", "9.9"}}}, {"040904b0", {{"FileVersion", "3.1"}}}}),
       "3.1"},
      {"stored order decides",
       with({{0x0407, 0x04E4}, {0x0409, 0x04B0}},
            {{"040904b0", {{"FileVersion", "1.0.0.9"}}}, {"040704e4", {{"FileVersion", "1.0.0.1"}}}}),
       "1.0.0.1"},
      {"no translation pairs", with({}, {{"040904b0", {{"FileVersion", "1.0.0.7"}}}}), ""},
      {"no string tables", with({{0x0409, 0x04B0}}, {}), ""},
      {"empty FileVersion is passed over",
       with({{0x0409, 0x04B0}, {0x0409, 0x04E4}},
            {{"040904b0", {{"FileVersion", ""}}}, {"040904e4", {{"FileVersion", "4.4"}}}}),
       "4.4"},
      {"259 units fit", with({{0x0409, 0x04B0}}, {{"040904b0", {{"FileVersion", v259}}}}), v259},
      {"260 units do not fit: unreadable",
       with({{0x0409, 0x04B0}}, {{"040904b0", {{"FileVersion", std::string(260, '1')}}}}), ""},
      {"an over-long first pair gives way to the next",
       with({{0x0409, 0x04B0}, {0x0409, 0x04E4}},
            {{"040904b0", {{"FileVersion", std::string(5000, '1')}}}, {"040904e4", {{"FileVersion", "1.0.0.6"}}}}),
       "1.0.0.6"},
      {"key matched without regard to case", with({{0x0409, 0x04B0}}, {{"040904b0", {{"FILEVERSION", "8.8"}}}}),
       "8.8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Install(BuildPe(BuildVersionBlock(c.content)).bytes);
    auto [result, text] = Read();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(text, c.expected);
  }
}

TEST_F(FileVersionTest, ImageKinds) {
  struct Case {
    const char* what;
    std::string bytes;
    int result;
    std::string text;
  };
  const std::string block = BuildVersionBlock(VersionContent{});
  const Case cases[] = {
      {"PE32", BuildPe(block).bytes, 1, "1.0.0.7"},
      {"PE32+", BuildPe(block, true).bytes, 1, "1.0.0.7"},
      {"neutral language", BuildPe(block, false, 0).bytes, 1, "1.0.0.7"},
      {"German language only", BuildPe(block, false, 0x407).bytes, 1, "1.0.0.7"},
      {"no resource directory", BuildPe("").bytes, 0, ""},
      {"not a program", "plain text, not MZ", 0, ""},
      {"empty file", "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Install(c.bytes);
    auto [result, text] = Read();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(text, c.text);
  }
}

TEST_F(FileVersionTest, MissingFileAndFailingCallsGiveEmptyText) {
  EXPECT_EQ(Read(), std::make_pair(0, std::string()));
  Install(BuildPe(BuildVersionBlock(VersionContent{})).bytes);
  machine().faults().FailAll(sim::SimOp::VersionInfo);
  EXPECT_EQ(Read(), std::make_pair(0, std::string()));
  machine().faults().Reset();
  // The size call succeeds, the read fails: version information exists but
  // gives no text.
  machine().faults().FailNth(2);
  EXPECT_EQ(Read(), std::make_pair(1, std::string()));
  machine().faults().Reset();
  EXPECT_EQ(Read(), std::make_pair(1, std::string("1.0.0.7")));
}

void Set16(std::string& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Set32(std::string& b, std::size_t at, std::uint32_t v) {
  Set16(b, at, v & 0xFFFF);
  Set16(b, at + 2, v >> 16);
}

TEST_F(FileVersionTest, DamagedImagesAreReadSafely) {
  struct Case {
    const char* what;
    std::function<void(BuiltPe&)> damage;
    std::string text;  // "" when nothing can be read
  };
  const Case cases[] = {
      {"bad MZ", [](BuiltPe& p) { p.bytes[0] = 'X'; }, ""},
      {"PE offset far beyond the file", [](BuiltPe& p) { Set32(p.bytes, 0x3C, 0xFFFFFFF0u); }, ""},
      {"PE offset just inside the end", [](BuiltPe& p) { Set32(p.bytes, 0x3C, static_cast<std::uint32_t>(p.bytes.size() - 2)); }, ""},
      {"bad PE signature", [](BuiltPe& p) { p.bytes[p.peHeader + 2] = 'X'; }, ""},
      {"unknown optional magic", [](BuiltPe& p) { Set16(p.bytes, p.optionalHeader, 0x107); }, ""},
      {"two data directories only", [](BuiltPe& p) { Set32(p.bytes, p.optionalHeader + 92, 2); }, ""},
      {"optional header too small for the directory", [](BuiltPe& p) { Set16(p.bytes, p.peHeader + 20, 100); }, ""},
      {"no sections", [](BuiltPe& p) { Set16(p.bytes, p.peHeader + 6, 0); }, ""},
      {"65535 sections claimed", [](BuiltPe& p) { Set16(p.bytes, p.peHeader + 6, 0xFFFF); }, ""},
      {"section raw data beyond the file", [](BuiltPe& p) { Set32(p.bytes, p.sectionTable + 20, 0x7FFFFFF0u); }, ""},
      // Reads stay within the file whatever the header claims; the data is there.
      {"section raw size wraps", [](BuiltPe& p) { Set32(p.bytes, p.sectionTable + 16, 0xFFFFFFFFu); }, "1.0.0.7"},
      {"resource directory outside every section", [](BuiltPe& p) { Set32(p.bytes, p.optionalHeader + 96 + 16, 0x90000); }, ""},
      {"root claims 65535 named and id entries",
       [](BuiltPe& p) { Set16(p.bytes, p.resourceRoot + 12, 0xFFFF); Set16(p.bytes, p.resourceRoot + 14, 0xFFFF); }, ""},
      {"type entry points back at the root", [](BuiltPe& p) { Set32(p.bytes, p.resourceRoot + 20, 0x80000000u); }, ""},
      {"type entry points far away", [](BuiltPe& p) { Set32(p.bytes, p.resourceRoot + 20, 0xFFFFFFFFu); }, ""},
      {"version type is a data entry, not a directory", [](BuiltPe& p) { Set32(p.bytes, p.resourceRoot + 20, 0x18); }, ""},
      {"data size zero", [](BuiltPe& p) { Set32(p.bytes, p.dataEntry + 4, 0); }, ""},
      {"data size huge", [](BuiltPe& p) { Set32(p.bytes, p.dataEntry + 4, 0xFFFFFFF0u); }, ""},
      {"data beyond the section", [](BuiltPe& p) { Set32(p.bytes, p.dataEntry + 4, 0x8000); }, ""},
      {"data RVA below the section", [](BuiltPe& p) { Set32(p.bytes, p.dataEntry, 0x10); }, ""},
      {"root node length zero", [](BuiltPe& p) { Set16(p.bytes, p.versionData, 0); }, ""},
      {"root node longer than the block", [](BuiltPe& p) { Set16(p.bytes, p.versionData, 0xFFFF); }, ""},
      {"root node of 6 bytes", [](BuiltPe& p) { Set16(p.bytes, p.versionData, 6); }, ""},
      {"root key without terminator",
       [](BuiltPe& p) {
         std::size_t len = static_cast<unsigned char>(p.bytes[p.versionData]) |
                           (static_cast<unsigned char>(p.bytes[p.versionData + 1]) << 8);
         for (std::size_t i = p.versionData + 6; i < p.versionData + len; ++i) p.bytes[i] = 'A';
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BuiltPe pe = BuildPe(BuildVersionBlock(VersionContent{}));
    c.damage(pe);
    Install(pe.bytes);
    EXPECT_EQ(Read().second, c.text);
  }
}

TEST_F(FileVersionTest, EveryTruncationIsReadSafely) {
  BuiltPe pe = BuildPe(BuildVersionBlock(VersionContent{}));
  for (std::size_t size = 0; size < pe.bytes.size(); ++size) {
    Install(pe.bytes.substr(0, size));
    std::string text = Read().second;
    // The version data is complete only in the whole file.
    ASSERT_TRUE(text.empty() || (text == "1.0.0.7" && size >= pe.versionData + 0x100)) << size;
  }
}

TEST_F(FileVersionTest, StringValueLengthIsClampedToItsNode) {
  VersionContent content;
  std::string block = BuildVersionBlock(content);
  // wValueLength of the FileVersion node: find its key and step back.
  std::string key;
  for (char c : std::string("FileVersion")) key += std::string{c, '\0'};
  std::size_t at = block.find(key);
  ASSERT_NE(at, std::string::npos);
  Set16(block, at - 4, 0xFFFF);
  Install(BuildPe(block).bytes);
  EXPECT_EQ(Read().second, "1.0.0.7");
}

// Real program files: the ones this build makes, and Windows programs that
// happen to be on this host.
TEST_F(FileVersionTest, RealProgramFiles) {
  struct Case {
    std::string path;
    int result;
    std::string expected;  // "*": a dotted number, possibly followed by a build note
  };
  const std::string bin = std::string(TAVU_SOURCE_DIR "/build/win32/bin/");
  const std::string wine32 = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
  const std::string wine64 = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/";
  const Case cases[] = {
      {bin + "TAVU Recovery.exe", 1, "1.0.0.7"},
      {bin + "TvPatchDowngrade.exe", 1, "1.0.0.1"},
      {wine32 + "kernel32.dll", 1, "*"},
      {wine32 + "regedit.exe", 1, "*"},
      {wine64 + "kernel32.dll", 1, "*"},
      // Wine's notepad carries no version resource at all.
      {wine32 + "notepad.exe", 0, ""},
  };
  int seen = 0;
  for (const Case& c : cases) {
    if (!std::filesystem::exists(c.path)) continue;
    SCOPED_TRACE(c.path);
    ++seen;
    Install(ReadHostFile(c.path));
    auto [result, text] = Read();
    EXPECT_EQ(result, c.result);
    if (c.expected == "*") {
      EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d+(\.\d+)+( .*)?)"))) << text;
    } else {
      EXPECT_EQ(text, c.expected);
    }
  }
  if (seen == 0) GTEST_SKIP() << "no Windows program files on this host";
}

}  // namespace
}  // namespace tavu::test
