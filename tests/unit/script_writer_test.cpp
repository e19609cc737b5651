#include "launcher/arming/script_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "sim/core/faults.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

class ScriptWriterTest : public SimTest {
 protected:
  ScriptWriterTest() { WriteHostFile(root() + "/Windows/Temp/keep", ""); }
  std::string HostScript() { return root() + "/Windows/Temp/RcvBoot.cmd"; }
  std::string Bytes() { return ReadHostFile(HostScript()); }
  void ExpectNoHandleLeft() {
    EXPECT_EQ(machine().handles().OpenCount(), 0u);
    EXPECT_EQ(machine().handles().Misuses(), 0u);
  }
  const wchar_t* path_ = L"C:\\Windows\\Temp\\RcvBoot.cmd";
  ScriptWriter writer_;
};

TEST_F(ScriptWriterTest, LinesAreSingleByteWithCrLfAndNoByteOrderMark) {
  struct {
    std::vector<const wchar_t*> lines;
    std::string bytes;
  } cases[] = {
      {{L"@ECHO OFF", L"CHCP 437", L"bcdedit /enum all > \"C:\\Windows\\Temp\\RcvBoot.txt\""},
       "@ECHO OFF\r\nCHCP 437\r\nbcdedit /enum all > \"C:\\Windows\\Temp\\RcvBoot.txt\"\r\n"},
      {{L"bcdedit /set {bootmgr} extendedinput Yes "}, "bcdedit /set {bootmgr} extendedinput Yes \r\n"},
      {{nullptr, L""}, "\r\n\r\n"},
      {{L"a\nb"}, "a\r\nb\r\n"},
      {{L"sel disk 0", L"sel par 3", L"remove letter= noerr"},
       "sel disk 0\r\nsel par 3\r\nremove letter= noerr\r\n"},
      {{}, ""},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(writer_.Create(path_));
    for (const wchar_t* line : c.lines) {
      EXPECT_TRUE(writer_.AppendLine(line));
      // Closed between lines: a tool can read the script at any moment.
      ExpectNoHandleLeft();
    }
    EXPECT_EQ(Bytes(), c.bytes);
    EXPECT_TRUE(machine().files().IsAdminsOnly(HostScript()));
  }
}

TEST_F(ScriptWriterTest, CreateStartsEveryFileAfreshAndProtected) {
  struct {
    const char* what;
    std::string planted;
  } cases[] = {
      {"no file", ""},
      {"a batch planted by a user", "@ECHO OFF\r\nformat c: /q\r\n"},
      {"our own earlier script", "@ECHO OFF\r\nCHCP 437\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.planted.empty()) WriteHostFile(HostScript(), c.planted);
    ASSERT_TRUE(writer_.Create(path_));
    EXPECT_TRUE(HostFileExists(HostScript()));
    EXPECT_EQ(Bytes(), "");
    EXPECT_TRUE(machine().files().IsAdminsOnly(HostScript()));
    EXPECT_TRUE(writer_.AppendLine(L"x"));
    EXPECT_EQ(Bytes(), "x\r\n");
  }
  ExpectNoHandleLeft();
}

TEST_F(ScriptWriterTest, PlantedLinkIsRemovedNotFollowed) {
  const std::string target = root() + "/Windows/System32/important.dat";
  WriteHostFile(target, "precious");
  ASSERT_EQ(::symlink(target.c_str(), HostScript().c_str()), 0);
  ASSERT_TRUE(writer_.Create(path_));
  EXPECT_TRUE(writer_.AppendLine(L"@ECHO OFF"));
  EXPECT_EQ(ReadHostFile(target), "precious");
  EXPECT_EQ(Bytes(), "@ECHO OFF\r\n");
}

// The folder is one where every user creates files: whatever holds the name
// is never written, and never stops the script from being made beside it.
TEST_F(ScriptWriterTest, NameThatCannotBeMadeOursIsPassedOverForAFreshOne) {
  const std::string folderTarget = root() + "/Users/Owner/folder";
  struct {
    const char* what;
    std::function<void()> arrange;
    bool ownName;  // the script is made at its own name after all
  } cases[] = {
      {"an empty folder", [&] { std::filesystem::create_directories(HostScript()); }, true},
      {"a link to a folder",
       [&] {
         std::filesystem::create_directories(folderTarget);
         ASSERT_EQ(::symlink(folderTarget.c_str(), HostScript().c_str()), 0);
       },
       true},
      {"a folder with a file in it",
       [&] {
         std::filesystem::create_directories(HostScript());
         WriteHostFile(HostScript() + "/inside", "x");
       },
       false},
      {"a file held open without delete sharing",
       [&] {
         WriteHostFile(HostScript(), "planted");
         machine().files().SetScanner(3600000);
         machine().files().ScanAfterUse(HostScript());
       },
       false},
      {"file that cannot be removed",
       [&] {
         WriteHostFile(HostScript(), "planted");
         machine().faults().FailAll(sim::SimOp::FileRemove);
       },
       false},
      {"file that reappears right after its removal",
       [&] {
         WriteHostFile(HostScript(), "planted");
         machine().files().SetAfterRemove([&](const std::string& host) {
           if (host == HostScript()) WriteHostFile(host, "planted");
         });
       },
       false},
      {"link that reappears right after its removal",
       [&] {
         const std::string target = root() + "/Windows/Temp/keep";
         WriteHostFile(HostScript(), "planted");
         machine().files().SetAfterRemove([&, target](const std::string& host) {
           if (host == HostScript() && ::symlink(target.c_str(), host.c_str()) != 0) ADD_FAILURE();
         });
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(root() + "/Windows/Temp");
    WriteHostFile(root() + "/Windows/Temp/keep", "");
    machine().faults().Reset();
    machine().files().SetScanner(0);
    machine().files().SetAfterRemove(nullptr);
    ScriptWriter writer;
    c.arrange();
    const std::string before = std::filesystem::is_regular_file(HostScript()) ? Bytes() : "<none>";
    ASSERT_TRUE(writer.Create(path_));
    machine().files().SetAfterRemove(nullptr);
    machine().faults().Reset();
    EXPECT_TRUE(writer.AppendLine(L"@ECHO OFF"));
    const std::string made = Host(writer.path());
    EXPECT_EQ(std::wstring(writer.path()) == path_, c.ownName) << made;
    EXPECT_EQ(ReadHostFile(made), "@ECHO OFF\r\n");
    EXPECT_TRUE(machine().files().IsAdminsOnly(made));
    if (!c.ownName) {
      EXPECT_EQ(made.rfind(root() + "/Windows/Temp/RcvBoot-", 0), 0u) << made;
      EXPECT_EQ(made.substr(made.size() - 4), ".cmd");
      // Whatever holds the name stays as it was, never written through.
      if (before != "<none>") {
        EXPECT_EQ(Bytes(), before);
      }
    }
    EXPECT_EQ(ReadHostFile(root() + "/Windows/Temp/keep"), "");
  }
  machine().files().SetScanner(0);
  ExpectNoHandleLeft();
}

TEST_F(ScriptWriterTest, NoNameAtAllIsNeverWritten) {
  machine().faults().FailAll(sim::SimOp::FileOpen);
  EXPECT_FALSE(writer_.Create(path_));
  machine().faults().Reset();
  EXPECT_FALSE(writer_.AppendLine(L"bcdedit /set {bootmgr} displayorder {x}"));
  EXPECT_FALSE(HostFileExists(HostScript()));
  ExpectNoHandleLeft();
}

TEST_F(ScriptWriterTest, LinesThatCannotBeWrittenWholeAreRefused) {
  ASSERT_TRUE(writer_.Create(path_));
  ASSERT_TRUE(writer_.AppendLine(L"first"));
  struct {
    const char* what;
    std::wstring text;
    bool ok;
  } cases[] = {
      {"258 characters and the line end fill the 260-character line", std::wstring(258, L'a'), true},
      {"259 characters would be cut", std::wstring(259, L'b'), false},
      {"far too long", std::wstring(5000, L'c'), false},
      {"outside ASCII", L"remove letter=\x00c4 noerr", false},
      {"outside the single-byte range", L"{\x4e2d-1}", false},
  };
  std::string expected = "first\r\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(writer_.AppendLine(c.text.c_str()), c.ok);
    if (c.ok) expected += std::string(c.text.begin(), c.text.end()) + "\r\n";
    EXPECT_EQ(Bytes(), expected);
  }
  ExpectNoHandleLeft();
}

TEST_F(ScriptWriterTest, LineOfAVanishedFileIsLostNotRecreated) {
  ASSERT_TRUE(writer_.Create(path_));
  ASSERT_TRUE(writer_.AppendLine(L"one"));
  ::unlink(HostScript().c_str());
  EXPECT_FALSE(writer_.AppendLine(L"two"));
  EXPECT_FALSE(HostFileExists(HostScript()));

  ASSERT_TRUE(writer_.Create(path_));
  machine().faults().FailAll(sim::SimOp::FileWrite);
  EXPECT_FALSE(writer_.AppendLine(L"three"));
  machine().faults().Reset();
  EXPECT_EQ(Bytes(), "");
  ExpectNoHandleLeft();
}

TEST_F(ScriptWriterTest, PathThatDoesNotFitIsRefused) {
  std::wstring longPath = L"C:\\Windows\\Temp\\" + std::wstring(250, L'x');
  EXPECT_FALSE(writer_.Create(longPath.c_str()));
  EXPECT_FALSE(writer_.Create(nullptr));
  EXPECT_FALSE(writer_.AppendLine(L"x"));
  // Nothing was created under the cut name either.
  std::wstring cut = longPath.substr(0, 259);
  EXPECT_FALSE(machine().files().Exists(cut.c_str()));
  EXPECT_FALSE(writer_.Create(L"C:\\No\\Such\\Folder\\x.cmd"));
}

}  // namespace
}  // namespace tavu::test
