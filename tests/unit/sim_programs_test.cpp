#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "sim/formats/code_pages.h"
#include "sim/programs/bcd_store.h"
#include "sim/programs/diskpart.h"
#include "sim/programs/tool_runs.h"
#include "tests/fixtures/temp_dir.h"

namespace tavu::sim {
namespace {

using test::HostFileExists;
using test::ReadHostFile;
using test::WriteHostFile;

// Disks as a table: disk -> style, (disk, partition) -> type, active, letter.
class FakeDisks : public SimDiskpartTarget {
 public:
  struct Part {
    std::uint8_t type = 0x07;
    bool active = false;
    bool presented = true;
    wchar_t letter = 0;
  };
  std::map<int, int> styles;
  std::map<std::pair<int, int>, Part> parts;
  bool refuseWrites = false;
  std::vector<std::string> calls;

  int DiskStyle(int disk) override { return styles.count(disk) ? styles[disk] : -1; }
  bool HasPartition(int disk, int partition) override { return parts.count({disk, partition}) != 0; }
  bool SetMbrType(int disk, int partition, std::uint8_t type) override {
    calls.push_back("type " + std::to_string(disk) + "/" + std::to_string(partition) + " " + std::to_string(type));
    if (refuseWrites) return false;
    parts[{disk, partition}].type = type;
    return true;
  }
  bool SetActive(int disk, int partition) override {
    calls.push_back("active " + std::to_string(disk) + "/" + std::to_string(partition));
    if (refuseWrites) return false;
    for (auto& [key, part] : parts) {
      if (key.first == disk) part.active = key.second == partition;
    }
    return true;
  }
  bool VolumeLetter(int disk, int partition, wchar_t* letter) override {
    const Part& p = parts[{disk, partition}];
    *letter = p.letter;
    return p.presented;
  }
  bool RemoveLetter(int disk, int partition) override {
    calls.push_back("remove " + std::to_string(disk) + "/" + std::to_string(partition));
    parts[{disk, partition}].letter = 0;
    return true;
  }
};

class SimProgramsTest : public ::testing::Test {
 protected:
  SimProgramsTest() : paths_(dir_.path()), programs_(paths_, store_, disks_) {
    WriteHostFile(dir_.path() + "/Windows/System32/cmd.exe", "");
    const std::string german =
        ReadHostFile(std::string(TAVU_SOURCE_DIR "/tests/fixtures/bcd/german_cp437.txt"));
    listing_ = DecodeCodePage(437, german);
    store_.Load(listing_);
    disks_.styles = {{0, 0}, {1, 1}};
    disks_.parts[{0, 1}] = {0x07, true, true, L'C'};
    disks_.parts[{0, 3}] = {0x1C, false, false, 0};
    disks_.parts[{1, 4}] = {0, false, true, 0};
  }
  std::string Temp(const char* name) { return dir_.path() + "/Windows/Temp/" + name; }
  std::uint32_t RunBatch(const std::string& bytes, bool bcdedit = true) {
    WriteHostFile(Temp("RcvBoot.cmd"), bytes);
    return programs_.Cmd(L"/c \"C:\\Windows\\Temp\\RcvBoot.cmd\"", L"C:\\Windows\\System32", bcdedit);
  }
  std::uint32_t RunDiskScript(const std::string& bytes) {
    WriteHostFile(Temp("RcvBootDisk.txt"), bytes);
    return programs_.Diskpart(L"/s \"C:\\Windows\\Temp\\RcvBootDisk.txt\"", L"C:\\Windows\\System32");
  }

  test::TempDir dir_;
  SimPaths paths_;
  SimBcdStore store_;
  FakeDisks disks_;
  SimPrograms programs_;
  std::wstring listing_;
};

TEST_F(SimProgramsTest, ListingBatchWritesTheStoreInTheConsoleCodePage) {
  const std::string german =
      ReadHostFile(std::string(TAVU_SOURCE_DIR "/tests/fixtures/bcd/german_cp437.txt"));
  struct {
    const char* what;
    int oem;
    std::string chcp;
    char aUmlaut;  // how "Geräteoptionen" is written
  } cases[] = {
      {"CHCP 437", 850, "CHCP 437\r\n", '\x84'},
      {"no CHCP on a 437 console", 437, "", '\x84'},
      {"CHCP 1252", 437, "CHCP 1252\r\n", '\xE4'},
      {"unknown code page keeps the console's", 437, "CHCP 99999\r\n", '\x84'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    programs_.SetOemCodePage(c.oem);
    std::string batch = "@ECHO OFF\r\n" + c.chcp + "bcdedit /enum all > \"C:\\Windows\\Temp\\RcvBoot.txt\"\r\n";
    EXPECT_EQ(RunBatch(batch), 0u);
    std::string written = ReadHostFile(Temp("RcvBoot.txt"));
    EXPECT_EQ(written.size(), german.size());
    EXPECT_NE(written.find(std::string("Ger") + c.aUmlaut + "teoptionen\r\n"), std::string::npos);
    if (c.aUmlaut == '\x84') {
      EXPECT_EQ(written, german);
    }
    ASSERT_FALSE(programs_.scriptRuns().empty());
    const SimScriptRun& run = programs_.scriptRuns().back();
    EXPECT_EQ(run.script, batch);
    EXPECT_EQ(run.scriptPath, L"C:\\Windows\\Temp\\RcvBoot.cmd");
    EXPECT_TRUE(run.scriptRead);
  }
  EXPECT_EQ(store_.changes(), 0);
}

TEST_F(SimProgramsTest, BatchOutcomes) {
  struct {
    const char* what;
    std::string batch;
    bool bcdedit;
    std::uint32_t exitCode;
    int changes;
    const wchar_t* console;  // a part of what the command processor printed
  } cases[] = {
      {"arming batch",
       "@ECHO OFF\r\nCHCP 437\r\nbcdedit /set {bootmgr} customactions 0x1000043000001 0x5400000f\r\n"
       "bcdedit /set {bootmgr} custom:5400000f {0C5FD1A7-A1C3-11E3-BE57-806E6F6E6963}\r\n"
       "bcdedit /set {bootmgr} extendedinput Yes \r\nbcdedit /set {current} isolatedcontext No\r\n"
       "bcdedit /displayorder {0C5FD1A7-A1C3-11E3-BE57-806E6F6E6963}\r\n",
       true, 0, 5, L"Active code page: 437"},
      {"32-bit command processor: no bcdedit", "@ECHO OFF\r\nbcdedit /set {bootmgr} extendedinput Yes \r\n", false,
       9009, 0, L"'bcdedit' is not recognized as an internal or external command"},
      {"failing bcdedit line does not stop the batch",
       "bcdedit /set {bootmgr} custom:5400000f {00000000-0000-0000-0000-000000000000}\r\n"
       "bcdedit /set {current} isolatedcontext No\r\n",
       true, 0, 1, L"An error occurred"},
      {"operators run what follows them", "bcdedit /set {current} isolatedcontext No & evil.exe\r\n", true, 9009, 1,
       L"'evil.exe' is not recognized"},
      {"unknown variables expand to nothing", "bcdedit /set {current} isolatedcontext %NOPE%No\r\n", true, 0, 1,
       L"completed successfully"},
      {"exit ends the batch", "EXIT /B 3\r\nbcdedit /set {current} isolatedcontext No\r\n", true, 3, 0, L""},
      {"LF-only lines and REM", "rem x\nbcdedit /set {current} isolatedcontext No\n", true, 0, 1, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    store_.Load(listing_);
    EXPECT_EQ(RunBatch(c.batch, c.bcdedit), c.exitCode);
    EXPECT_EQ(store_.changes(), c.changes);
    EXPECT_NE(programs_.scriptRuns().back().output.find(c.console), std::wstring::npos)
        << testing::PrintToString(programs_.scriptRuns().back().output);
  }
}

TEST_F(SimProgramsTest, RedirectionTargetIsCreatedEvenWhenTheCommandIsMissing) {
  WriteHostFile(Temp("RcvBoot.txt"), "stale listing");
  EXPECT_EQ(RunBatch("bcdedit /enum all > \"C:\\Windows\\Temp\\RcvBoot.txt\"\r\n", false), 9009u);
  EXPECT_TRUE(HostFileExists(Temp("RcvBoot.txt")));
  EXPECT_EQ(ReadHostFile(Temp("RcvBoot.txt")), "");

  EXPECT_EQ(RunBatch("bcdedit /enum all > \"C:\\No\\Such\\RcvBoot.txt\"\r\n"), 1u);
  EXPECT_NE(programs_.scriptRuns().back().output.find(L"cannot find the path"), std::wstring::npos);

  // A missing batch file runs nothing.
  EXPECT_EQ(programs_.Cmd(L"/c \"C:\\Windows\\Temp\\Missing.cmd\"", L"C:\\Windows\\System32", true), 1u);
  EXPECT_FALSE(programs_.scriptRuns().back().scriptRead);
}

TEST_F(SimProgramsTest, DiskpartScripts) {
  struct {
    const char* what;
    std::string script;
    std::uint32_t exitCode;
    std::vector<std::string> calls;
  } cases[] = {
      {"first disk script", "sel disk 0\r\nsel par 3\r\nset id=0c override\r\nactive\r\n", 0,
       {"type 0/3 12", "active 0/3"}},
      {"second disk script", "sel disk 0\r\nsel par 1\r\nremove letter=C noerr\r\n", 0, {"remove 0/1"}},
      {"letter of another volume, noerr", "sel disk 0\r\nsel par 1\r\nremove letter=E noerr\r\n", 0, {}},
      {"letter of another volume without noerr", "sel disk 0\r\nsel par 1\r\nremove letter=E\r\nactive\r\n", 5, {}},
      {"empty letter is a syntax error, noerr or not", "sel disk 0\r\nsel par 1\r\nremove letter= noerr\r\nactive\r\n",
       5, {}},
      {"hidden partition has no volume", "sel disk 0\r\nsel par 3\r\nremove letter=E noerr\r\nactive\r\n", 0,
       {"active 0/3"}},
      {"GPT disk refuses a type byte and active", "sel disk 1\r\nsel par 4\r\nset id=0c override\r\nactive\r\n", 5,
       {}},
      {"GPT disk with noerr goes on", "sel disk 1\r\nsel par 4\r\nset id=0c override noerr\r\nactive noerr\r\n", 0,
       {}},
      {"no such disk stops the script", "sel disk 7\r\nsel par 3\r\nactive\r\n", 5, {}},
      {"no such partition", "sel disk 0\r\nsel par 9\r\nactive\r\n", 5, {}},
      {"nothing selected", "active\r\n", 5, {}},
      {"long forms and 0x", "SELECT DISK 0\nSELECT PARTITION 3\nSET ID=0x1C OVERRIDE\n", 0, {"type 0/3 28"}},
      {"LDM type refused", "sel disk 0\r\nsel par 3\r\nset id=42\r\n", 5, {}},
      {"unknown command", "sel disk 0\r\nclean\r\n", 5, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    disks_.calls.clear();
    disks_.parts[{0, 1}].letter = L'C';
    EXPECT_EQ(RunDiskScript(c.script), c.exitCode) << testing::PrintToString(programs_.scriptRuns().back().output);
    EXPECT_EQ(disks_.calls, c.calls);
    EXPECT_EQ(programs_.scriptRuns().back().script, c.script);
  }
  EXPECT_FALSE((disks_.parts[{0, 1}].active));
  EXPECT_TRUE((disks_.parts[{0, 3}].active));

  disks_.refuseWrites = true;
  EXPECT_EQ(RunDiskScript("sel disk 0\r\nsel par 3\r\nset id=0c override\r\nactive\r\n"), 4u);
  EXPECT_EQ(programs_.Diskpart(L"/s C:\\Windows\\Temp\\Missing.txt", L"C:\\Windows\\System32"), 3u);
  EXPECT_EQ(programs_.Diskpart(L"", L"C:\\Windows\\System32"), 2u);
}

TEST_F(SimProgramsTest, ShutdownSchedulesOneRestart) {
  struct {
    const wchar_t* parameters;
    std::uint32_t exitCode;
    bool pending;
    bool reboot;
    int seconds;
  } steps[] = {
      {L"-t 10", 87, false, false, 30},
      {L"-r -t", 87, false, false, 30},
      {L"-r -t x", 87, false, false, 30},
      // Beyond ten years, also where ten times the last value would overflow.
      {L"-r -t 315360001", 87, false, false, 30},
      {L"-r -t 3153600000", 87, false, false, 30},
      {L"-r -t 99999999999999999999", 87, false, false, 30},
      {L"-q", 87, false, false, 30},
      {L"-a", 1116, false, false, 30},
      {L"-r -t 10", 0, true, true, 10},
      {L"-s", 1190, true, true, 10},
      {L"/a", 0, false, false, 30},
      {L"/s", 0, true, false, 30},
      {L"/a", 0, false, false, 30},
      {L"-r -t 315360000", 0, true, true, 315360000},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(s.parameters)));
    EXPECT_EQ(programs_.Shutdown(s.parameters), s.exitCode);
    EXPECT_EQ(programs_.restart().pending, s.pending);
    EXPECT_EQ(programs_.restart().reboot, s.reboot);
    EXPECT_EQ(programs_.restart().seconds, s.seconds);
  }
}

}  // namespace
}  // namespace tavu::sim
