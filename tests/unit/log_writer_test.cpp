#include "common/log_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "launcher/startup/launcher_log.h"
#include "patcher/patcher_log.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

const std::string kBom = "\xFF\xFE";
const std::string kStamp = "[2014/03/02 09:05:07]\t";

class LogWriterTest : public SimTest {
 protected:
  std::string LogBytes() { return ReadHostFile(Host(L"C:\\Windows\\Temp\\TAVU F9 Recovery.log")); }
  LogContext ctx_;
};

TEST_F(LogWriterTest, FirstLineCreatesFolderFileAndByteOrderMark) {
  ASSERT_FALSE(HostFileExists(root() + "/Windows"));
  EXPECT_TRUE(WriteLog(ctx_, g_logFileName, L"AddTask", L"Task Name: TAVU F9 Recovery"));
  EXPECT_EQ(LogBytes(), kBom + Utf16(kStamp + "[AddTask]\tTask Name: TAVU F9 Recovery\r\n"));
}

TEST_F(LogWriterTest, LinesAppendInOrderWithTimestampFromLocalClock) {
  EXPECT_TRUE(WriteLog(ctx_, g_logFileName, L"DeleteTask", L"one"));
  machine().system().SetNow({2026, 12, 31, 23, 59, 58});
  EXPECT_TRUE(WriteLogValue(ctx_, g_logFileName, L"DeleteTask", 1));
  EXPECT_EQ(LogBytes(), kBom + Utf16(kStamp + "[DeleteTask]\tone\r\n" +
                                     "[2026/12/31 23:59:58]\t[DeleteTask]\tReturn : 1\r\n"));
}

TEST_F(LogWriterTest, EmptyExistingFileGetsByteOrderMark) {
  WriteHostFile(root() + "/Windows/Temp/TAVU F9 Recovery.log", "");
  EXPECT_TRUE(WriteLog(ctx_, g_logFileName, nullptr, L"x"));
  EXPECT_EQ(LogBytes(), kBom + Utf16(kStamp + "x\r\n"));
}

TEST_F(LogWriterTest, ForeignFileIsNeverWrittenTo) {
  const std::string foreign = "plain ANSI text\r\n";
  WriteHostFile(root() + "/Windows/Temp/TAVU F9 Recovery.log", foreign);
  EXPECT_FALSE(WriteLog(ctx_, g_logFileName, L"AddTask", L"x"));
  EXPECT_FALSE(WriteLogValue(ctx_, g_logFileName, L"AddTask", 0));
  EXPECT_FALSE(WriteLog(ctx_, g_logFileName, nullptr, L"x"));
  EXPECT_EQ(LogBytes(), foreign);
  // A one-byte file cannot hold the mark either.
  WriteHostFile(root() + "/Windows/Temp/TAVU F9 Recovery.log", "\xFF");
  EXPECT_FALSE(WriteLog(ctx_, g_logFileName, L"AddTask", L"x"));
  EXPECT_EQ(LogBytes(), "\xFF");
}

// Whichever single operation of a call fails, the lines of earlier runs stay:
// the call either appends its whole line or leaves the file as it was. A
// failing existence probe once made the writer create the file anew, empty.
TEST_F(LogWriterTest, AnyOneFailingOperationLeavesEarlierLinesWhole) {
  const std::string earlier = kBom + Utf16("[2014/03/01 08:00:00]\t[AddTask]\tearlier\r\n");
  const std::string appended = earlier + Utf16(kStamp + "[DeleteTask]\tnow\r\n");
  int failedCalls = 0;
  for (std::uint64_t k = 1; k <= 12; ++k) {
    WriteHostFile(root() + "/Windows/Temp/TAVU F9 Recovery.log", earlier);
    machine().faults().FailNth(k);
    const bool ok = WriteLog(ctx_, g_logFileName, L"DeleteTask", L"now");
    machine().faults().FailNth(0);
    if (!ok) ++failedCalls;
    EXPECT_EQ(LogBytes(), ok ? appended : earlier) << "operation " << k << " failing";
  }
  // The sweep reached past the end of a call: some calls failed, some did not.
  EXPECT_GT(failedCalls, 0);
  EXPECT_LT(failedCalls, 12);
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

// Every user may create files in C:\Windows\Temp, so before the run the log's
// name may hold a link to another file, or someone else's file. Whatever
// it is, the other file keeps every byte, and the log is a fresh protected
// file of its own, which the next line is appended to.
TEST_F(LogWriterTest, PlantedLinksAndForeignFilesAreReplacedNeverWrittenThrough) {
  std::filesystem::create_directories(root() + "/Windows/Temp");
  const std::string log = root() + "/Windows/Temp/TAVU F9 Recovery.log";
  TempDir outside;
  const std::string system = root() + "/Windows/System32/config.dat";
  const std::string away = outside.path() + "/victim.log";
  // Victims that look like a log, so that a writer led to them would append.
  const std::string precious = kBom + Utf16("[2014/03/01 08:00:00]\tprecious\r\n");
  const std::string line = Utf16(kStamp + "[AddTask]\tnow\r\n");
  struct Case {
    const char* what;
    std::function<void()> plant;
  };
  const Case cases[] = {
      {"symbolic link to a file of the system",
       [&] { ASSERT_EQ(::symlink(system.c_str(), log.c_str()), 0); }},
      {"symbolic link out of C:", [&] { ASSERT_EQ(::symlink(away.c_str(), log.c_str()), 0); }},
      {"symbolic link to no file yet",
       [&] { ASSERT_EQ(::symlink((root() + "/Windows/System32/new.dat").c_str(), log.c_str()), 0); }},
      {"hard link to a file of the system", [&] { ASSERT_EQ(::link(system.c_str(), log.c_str()), 0); }},
      {"a standard user's file with the mark",
       [&] {
         WriteHostFile(log, precious);
         machine().files().SetUserOwned(log);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteHostFile(system, precious);
    WriteHostFile(away, precious);
    (void)::unlink(log.c_str());
    c.plant();
    EXPECT_TRUE(WriteLog(ctx_, g_logFileName, L"AddTask", L"now"));
    EXPECT_EQ(ReadHostFile(system), precious);
    EXPECT_EQ(ReadHostFile(away), precious);
    EXPECT_FALSE(HostFileExists(root() + "/Windows/System32/new.dat"));
    struct stat st {};
    ASSERT_EQ(::lstat(log.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_TRUE(machine().files().IsAdminsOnly(log));
    EXPECT_EQ(LogBytes(), kBom + line);
    // The new log is ours: the next line joins it.
    EXPECT_TRUE(WriteLog(ctx_, g_logFileName, L"AddTask", L"now"));
    EXPECT_EQ(LogBytes(), kBom + line + line);
  }

  // A link planted again right after the removal: the create fails, and the
  // line goes to a fresh name rather than through the link.
  (void)::unlink(log.c_str());
  ASSERT_EQ(::symlink(system.c_str(), log.c_str()), 0);
  machine().files().SetAfterRemove([&](const std::string& removed) {
    if (removed == log && ::symlink(system.c_str(), log.c_str()) != 0) ADD_FAILURE();
  });
  EXPECT_TRUE(WriteLog(ctx_, g_logFileName, L"AddTask", L"now"));
  machine().files().SetAfterRemove(nullptr);
  EXPECT_EQ(ReadHostFile(system), precious);

  // Whichever one operation fails, nothing is written through the link.
  for (std::uint64_t k = 1; k <= 8; ++k) {
    (void)::unlink(log.c_str());
    ASSERT_EQ(::symlink(system.c_str(), log.c_str()), 0);
    machine().faults().FailNth(k);
    (void)WriteLog(ctx_, g_logFileName, L"AddTask", L"now");
    machine().faults().FailNth(0);
    EXPECT_EQ(ReadHostFile(system), precious) << "operation " << k << " failing";
  }
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
  EXPECT_EQ(machine().handles().Misuses(), 0u);
}

// The log's folder is one where every user creates files: whatever a user
// leaves at the log's name never silences the program.
TEST_F(LogWriterTest, NameHeldByAUserMovesTheRunsLinesToAFreshName) {
  const std::string log = root() + "/Windows/Temp/TAVU F9 Recovery.log";
  const std::string elsewhere = root() + "/Users/Owner/kept";
  struct Case {
    const char* what;
    std::function<void()> plant;
    bool nameFreed;  // the log is made at its own name after all
  } cases[] = {
      {"an empty folder", [&] { std::filesystem::create_directories(log); }, true},
      {"a link to a folder", [&] { ASSERT_EQ(::symlink(elsewhere.c_str(), log.c_str()), 0); }, true},
      {"a folder with a file in it",
       [&] {
         std::filesystem::create_directories(log);
         WriteHostFile(log + "/inside", "x");
       },
       false},
      // A handle without delete sharing: the name can be neither removed nor opened.
      {"a user's file held open",
       [&] {
         WriteHostFile(log, "user");
         machine().files().SetUserOwned(log);
         machine().files().SetScanner(3600000);
         machine().files().ScanAfterUse(log);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(root() + "/Windows/Temp");
    std::filesystem::create_directories(root() + "/Windows/Temp");
    std::filesystem::create_directories(elsewhere);
    LogContext ctx;
    c.plant();
    EXPECT_TRUE(WriteLog(ctx, g_logFileName, L"AddTask", L"one"));
    EXPECT_TRUE(WriteLogValue(ctx, g_logFileName, L"AddTask", 2));
    const std::string lines =
        kBom + Utf16(kStamp + "[AddTask]\tone\r\n" + kStamp + "[AddTask]\tReturn : 2\r\n");
    std::vector<std::string> logs;
    for (const auto& entry : std::filesystem::directory_iterator(root() + "/Windows/Temp")) {
      if (entry.is_regular_file() && ReadHostFile(entry.path().string()) == lines)
        logs.push_back(entry.path().string());
    }
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0] == log, c.nameFreed) << logs[0];
    EXPECT_TRUE(machine().files().IsAdminsOnly(logs[0]));
    EXPECT_TRUE(std::filesystem::is_directory(elsewhere));
    machine().files().SetScanner(0);
  }
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

TEST_F(LogWriterTest, NullTagAndValueForms) {
  EXPECT_TRUE(WriteLog(ctx_, g_logFileName, nullptr, L"no tag"));
  EXPECT_TRUE(WriteLogValue(ctx_, g_logFileName, L"AddTask", -1));
  EXPECT_TRUE(WriteLogValue(ctx_, g_logFileName, nullptr, 2147483647));
  EXPECT_EQ(LogBytes(), kBom + Utf16(kStamp + "no tag\r\n" + kStamp + "[AddTask]\tReturn : -1\r\n" + kStamp +
                                     "Return : 2147483647\r\n"));
}

TEST_F(LogWriterTest, FolderNameIsMatchedWithoutRegardToCase) {
  EXPECT_TRUE(WriteLog(ctx_, L"C:\\Windows\\Temp\\TvPatchDowngrade.log", L"a", L"1"));
  EXPECT_TRUE(patcher::WriteLog(L"FixDowngarde", L"Disk: 0"));
  EXPECT_EQ(ReadHostFile(root() + "/Windows/Temp/TvPatchDowngrade.log"),
            kBom + Utf16(kStamp + "[a]\t1\r\n" + kStamp + "[FixDowngarde]\tDisk: 0\r\n"));
}

TEST_F(LogWriterTest, BareFileNameLandsInProgramDirectory) {
  machine().system().SetModulePath(L"C:\\Tools\\Sub\\prog.exe");
  EXPECT_TRUE(WriteLog(ctx_, L"bare.log", L"t", L"m"));
  EXPECT_EQ(ReadHostFile(root() + "/Tools/Sub/bare.log"), kBom + Utf16(kStamp + "[t]\tm\r\n"));
}

TEST_F(LogWriterTest, LongLinesAreCutAndKeepTheirLineEnd) {
  // Tag and message each far beyond the 1024-character line buffer.
  std::wstring tag(5000, L'T');
  std::wstring message(5000, L'm');
  EXPECT_TRUE(WriteLog(ctx_, g_logFileName, tag.c_str(), message.c_str()));
  EXPECT_TRUE(WriteLogValue(ctx_, g_logFileName, tag.c_str(), 7));
  std::string bytes = LogBytes();
  // BOM plus two lines of 1023 characters each (terminator excluded), CR LF kept.
  ASSERT_EQ(bytes.size(), 2u + 2 * 1023 * 2);
  std::string first = bytes.substr(2, 1023 * 2);
  EXPECT_EQ(first.substr(first.size() - 4), Utf16("\r\n"));
  EXPECT_EQ(first.substr(0, kStamp.size() * 2 + 4), Utf16(kStamp + "[T"));
}

TEST_F(LogWriterTest, FailuresReturnFalseAndReleaseEverything) {
  machine().faults().FailAll(sim::SimOp::FileOpen);
  EXPECT_FALSE(WriteLog(ctx_, g_logFileName, L"t", L"m"));
  machine().faults().Reset();
  machine().faults().FailAll(sim::SimOp::FileWrite);
  EXPECT_FALSE(WriteLog(ctx_, g_logFileName, L"t", L"m"));
  machine().faults().Reset();
  // The lock was released on the failing paths: the next call goes through.
  EXPECT_TRUE(WriteLog(ctx_, g_logFileName, L"t", L"m"));
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
  EXPECT_EQ(machine().handles().Misuses(), 0u);
}

TEST_F(LogWriterTest, ConcurrentWritersNeverInterleaveWithinALine) {
  constexpr int kThreads = 8;
  constexpr int kLines = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      std::wstring message(200, static_cast<wchar_t>(L'a' + t));
      for (int i = 0; i < kLines; ++i) WriteLog(ctx_, g_logFileName, L"T", message.c_str());
    });
  }
  for (auto& th : threads) th.join();
  std::string bytes = LogBytes();
  ASSERT_EQ(bytes.substr(0, 2), kBom);
  std::string lineBytes = Utf16(kStamp + "[T]\t" + std::string(200, 'a') + "\r\n");
  ASSERT_EQ(bytes.size(), 2 + lineBytes.size() * kThreads * kLines);
  for (std::size_t off = 2; off < bytes.size(); off += lineBytes.size()) {
    std::string line = bytes.substr(off, lineBytes.size());
    char c = line[(kStamp.size() + 4) * 2];
    EXPECT_EQ(line, Utf16(kStamp + "[T]\t" + std::string(200, c) + "\r\n"));
  }
}

}  // namespace
}  // namespace tavu::test
