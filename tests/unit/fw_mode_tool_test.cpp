#include "launcher/services/fw_mode_tool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fixtures/launcher_test.h"
#include "tests/fixtures/temp_dir.h"

namespace tavu::test {
namespace {

using Lines = std::vector<std::string>;

const wchar_t kToolPath[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\FwMode.exe";

class FwModeToolTest : public LauncherTest {
 protected:
  // Start-up's COM as the tool modes find it.
  void StartUpCom() {
    machine().com().InitializeMultithreaded();
    machine().com().InitializeSecurity(0, 3);
    g_comReady = 1;
    machine().com().ClearCalls();
  }
  sim::SimTask Existing() {
    sim::SimTask t;
    t.name = L"TAVU F9 Recovery";
    return t;
  }
};

TEST_F(FwModeToolTest, ArgumentsFollowTheSwitchAndTheLogFlag) {
  PutBesideLauncher("FwMode.exe");
  const struct {
    bool enable;
    int logSwitch;
    const wchar_t* arguments;
  } cases[] = {
      {true, 0, L"/enable"},
      {true, 1, L"/enable /log"},
      {false, 0, L"/disable"},
      {false, 1, L"/disable /log"},
  };
  for (const auto& c : cases) {
    machine().processes().ClearLaunches();
    g_logSwitch = c.logSwitch;
    EXPECT_EQ(RunFwModeTool(c.enable), 1);
    auto launches = machine().processes().launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].file, kToolPath);
    EXPECT_EQ(launches[0].parameters, c.arguments);
    EXPECT_EQ(launches[0].directory, kLauncherDir);
    EXPECT_EQ(launches[0].show, 5);  // SW_SHOW
    EXPECT_TRUE(launches[0].started);
  }
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
  EXPECT_EQ(machine().handles().Misuses(), 0u);
}

TEST_F(FwModeToolTest, SwitchingOnRegistersTheTaskBeforeTheToolRuns) {
  PutBesideLauncher("FwMode.exe");
  StartUpCom();
  bool taskAtLaunch = false;
  machine().processes().RegisterFileProgram(L"FwMode.exe", [&](const sim::SimLaunch&) {
    taskAtLaunch = machine().tasks().Find(L"TAVU F9 Recovery").has_value();
    return 0u;
  });
  EXPECT_EQ(RunFwModeTool(true), 1);
  EXPECT_TRUE(taskAtLaunch);
  auto task = machine().tasks().Find(L"TAVU F9 Recovery");
  ASSERT_TRUE(task.has_value());
  EXPECT_EQ(task->actionPath, kLauncherPath);
  // The start-up apartment is left first, so the task operation gets its own.
  EXPECT_EQ(machine().com().calls(),
            (std::vector<std::string>{"CoUninitialize", "CoInitialize = 0x00000000",
                                      "CoInitializeSecurity(6,3) = 0x80010119", "CoUninitialize"}));
  EXPECT_EQ(LogLines().back(), "[AddTask]\tReturn : 0");
  // The tool ran from the launcher's folder, which is now the current one.
  EXPECT_EQ(machine().processes().launches()[0].currentDirectory, kLauncherDir);
  EXPECT_EQ(machine().paths().current(), kLauncherDir);
}

TEST_F(FwModeToolTest, SwitchingOffRemovesTheTaskAndRunsTheToolEvenWithoutOne) {
  PutBesideLauncher("FwMode.exe");
  StartUpCom();
  machine().tasks().Put(Existing());
  EXPECT_EQ(RunFwModeTool(false), 1);
  EXPECT_EQ(machine().tasks().Count(), 0u);
  // Without a task: DeleteTask fails, the tool still runs.
  EXPECT_EQ(RunFwModeTool(false), 1);
  EXPECT_EQ(machine().processes().LaunchesOf(L"FwMode.exe").size(), 2u);
  EXPECT_EQ(LogLines(), (Lines{"[DeleteTask]\tTask Name: TAVU F9 Recovery", "[DeleteTask]\tReturn : 0",
                               "[DeleteTask]\tTask Name: TAVU F9 Recovery", "[DeleteTask]\tReturn : 1"}));
}

TEST_F(FwModeToolTest, WithoutTheToolNothingChanges) {
  StartUpCom();
  machine().tasks().Put(Existing());
  PutBesideLauncher("FwMod.exe");
  PutBesideLauncher("FwMode.exe.bak");
  WriteHostFile(root() + "/Program Files/TAVU/FwMode.exe", "MZ");  // not in the launcher's folder
  EXPECT_EQ(RunFwModeTool(false), 0);
  EXPECT_EQ(RunFwModeTool(true), 0);
  EXPECT_EQ(machine().tasks().Count(), 1u);
  EXPECT_TRUE(machine().tasks().calls().empty());
  EXPECT_TRUE(machine().processes().launches().empty());
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

TEST_F(FwModeToolTest, OnlyALongerNamedMatchChangesTheTaskButTheLaunchFails) {
  StartUpCom();
  PutBesideLauncher("FwModeUpdate.exe");
  EXPECT_EQ(RunFwModeTool(true), 1);
  EXPECT_TRUE(machine().tasks().Find(L"TAVU F9 Recovery").has_value());
  auto launches = machine().processes().launches();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].file, kToolPath);
  EXPECT_FALSE(launches[0].started);
  EXPECT_EQ(launches[0].error, 2u);  // ERROR_FILE_NOT_FOUND
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
  EXPECT_EQ(machine().handles().Misuses(), 0u);
}

TEST_F(FwModeToolTest, ToolNameIsMatchedWithoutRegardToCase) {
  PutBesideLauncher("FWMODE.EXE");
  EXPECT_EQ(RunFwModeTool(false), 1);
  auto launches = machine().processes().launches();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_TRUE(launches[0].started);
}

TEST_F(FwModeToolTest, ComIsLeftOnlyWhenStartUpEnteredIt) {
  PutBesideLauncher("FwMode.exe");
  EXPECT_EQ(RunFwModeTool(false), 1);
  EXPECT_EQ(machine().com().calls().front(), "CoInitialize = 0x00000000");
  EXPECT_EQ(machine().com().unbalancedUninitializes(), 0u);
}

TEST_F(FwModeToolTest, DeepLauncherFolderNeverStartsACutPath) {
  // A folder so deep that "\FwMode.exe" no longer fits behind it.
  std::wstring dir = L"C:\\Program Files\\" + std::wstring(233, L'd');  // 250 characters
  machine().system().SetModulePath(dir + L"\\L.exe");
  WriteHostFile(Host(dir + L"\\L.exe"), "MZ");
  WriteHostFile(Host(dir + L"\\FwMode.exe"), "MZ");
  EXPECT_EQ(RunFwModeTool(false), 1);
  EXPECT_TRUE(machine().processes().launches().empty());
  EXPECT_EQ(LogLines().back(), "[DeleteTask]\tReturn : 1");
}

// The tool and the task's program run elevated: whatever a standard user can
// put or change never runs. Beside a launcher elsewhere, the installed one
// and its tool are used; with no installed launcher nothing is switched on,
// so nothing is left for the next logon to switch off.
TEST_F(FwModeToolTest, ToolAndTaskComeOnlyFromWhereNoStandardUserCanChangeThem) {
  const std::wstring kDownloads = L"C:\\Users\\Owner\\Downloads";
  const std::wstring kCut = L"C:\\Program Files\\" + std::wstring(231, L'd') + L"\\TAVU Recovery.exe";
  const struct {
    const char* what;
    std::wstring running;
    const wchar_t* userWritable;
    bool installed;
    const wchar_t* toolDir;  // null: nothing runs and the task stays as it was
  } cases[] = {
      {"Downloads, installed launcher", kDownloads + L"\\TAVU Recovery.exe", nullptr, true, kLauncherDir},
      {"Downloads, no installed launcher", kDownloads + L"\\TAVU Recovery.exe", nullptr, false, nullptr},
      {"folder users may write", L"C:\\Tools\\TAVU Recovery.exe", L"C:\\Tools", false, nullptr},
      {"not one of the program folders", L"C:\\Tools\\TAVU Recovery.exe", nullptr, false, nullptr},
      {"stick", L"E:\\TAVU Recovery.exe", nullptr, true, kLauncherDir},
      {"program folder made writable", L"C:\\Program Files\\Other\\TAVU Recovery.exe",
       L"C:\\Program Files\\Other", true, kLauncherDir},
      {"a path as long as the buffer may be cut", kCut, nullptr, true, kLauncherDir},
      {"installed folder made writable", kLauncherPath, L"C:\\Program Files\\TAVU", true, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    sim::SimMachine m(dir.path());
    m.Install();
    m.system().SetModulePath(c.running);
    if (c.installed) {
      WriteHostFile(m.HostPath(kLauncherPath), "MZ");
      WriteHostFile(m.HostPath(kToolPath), "MZ");
    }
    if (c.userWritable != nullptr) m.files().AddUserWritable(c.userWritable);
    const std::string besideRunning = m.HostPath(c.running.substr(0, c.running.rfind(L'\\')) + L"\\FwMode.exe");
    if (!besideRunning.empty()) WriteHostFile(besideRunning, "MZ");
    m.tasks().Put(Existing());

    EXPECT_EQ(RunFwModeTool(true), c.toolDir != nullptr ? 1 : 0);
    auto launches = m.processes().launches();
    auto task = m.tasks().Find(L"TAVU F9 Recovery");
    ASSERT_TRUE(task.has_value());
    if (c.toolDir == nullptr) {
      EXPECT_TRUE(launches.empty());
      EXPECT_EQ(task->actionPath, L"");
      continue;
    }
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].file, std::wstring(c.toolDir) + L"\\FwMode.exe");
    EXPECT_EQ(launches[0].directory, c.toolDir);
    EXPECT_EQ(task->actionPath, kLauncherPath);
  }
  machine().Install();
}

}  // namespace
}  // namespace tavu::test
