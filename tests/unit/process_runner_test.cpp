#include "launcher/startup/process_runner.h"

#include <gtest/gtest.h>

#include <string>

#include "common/win_errors.h"
#include "sim/core/environment.h"
#include "tests/fixtures/launcher_test.h"

namespace tavu::test {
namespace {

// The runner passes paths on as it is given them; a 32-bit Windows keeps
// WOW64's redirection out of the way.
class ProcessRunnerTest : public LauncherTest {
 protected:
  ProcessRunnerTest() { machine().system().SetWindows64(false); }
};

TEST_F(ProcessRunnerTest, OnlyShowOneShowsTheWindow) {
  machine().processes().Register(L"C:\\Windows\\System32\\shutdown.exe",
                                 [](const sim::SimLaunch&) { return 0u; });
  const struct {
    std::uint8_t show;
    int expectedShow;
  } cases[] = {{0, 0}, {1, 5}, {2, 0}, {5, 0}, {255, 0}};
  for (const auto& c : cases) {
    machine().processes().ClearLaunches();
    EXPECT_EQ(
        RunProcess(L"C:\\Windows\\System32\\shutdown.exe", L"-r -t 10", L"C:\\Windows\\System32", c.show),
        0u);
    auto launches = machine().processes().launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].show, c.expectedShow) << "show " << int(c.show);
  }
}

// The owner's account started the elevated launcher and chose the
// environment it inherited; the programs it starts get Windows' own.
TEST_F(ProcessRunnerTest, StartsTheFileItIsGivenWithWindowsOwnEnvironment) {
  machine().processes().Register(L"c:\\windows\\system32\\CMD.EXE", [](const sim::SimLaunch&) { return 0u; });
  machine().processes().SetOwnerVariable(L"PATHEXT", L".CMD");
  machine().processes().SetOwnerVariable(L"Path", L"C:\\Users\\Owner\\bin;C:\\Windows\\System32");
  machine().processes().SetOwnerVariable(L"TEMP", L"C:\\Users\\Owner\\AppData\\Local\\Temp");
  RunProcess(L"C:\\Windows\\System32\\cmd.exe", L"/d /c \"C:\\Windows\\Temp\\RcvBoot.cmd\"",
             L"C:\\Windows\\System32", 0);
  auto launches = machine().processes().launches();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_TRUE(launches[0].started);
  EXPECT_EQ(launches[0].file, L"C:\\Windows\\System32\\cmd.exe");
  EXPECT_EQ(launches[0].commandLine,
            L"\"C:\\Windows\\System32\\cmd.exe\" /d /c \"C:\\Windows\\Temp\\RcvBoot.cmd\"");
  EXPECT_EQ(launches[0].directory, L"C:\\Windows\\System32");
  const struct {
    const wchar_t* name;
    const wchar_t* value;
  } expected[] = {
      {L"PATHEXT", L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
      {L"PATH", L"C:\\Windows\\System32;C:\\Windows;C:\\Windows\\System32\\Wbem"},
      {L"TEMP", L"C:\\Windows\\Temp"},
      {L"SystemRoot", L"C:\\Windows"},
      {L"ComSpec", L"C:\\Windows\\System32\\cmd.exe"},
  };
  for (const auto& e : expected) {
    std::wstring value;
    EXPECT_TRUE(sim::EnvironmentValue(launches[0].environment, e.name, &value)) << sim::Narrow(e.name);
    EXPECT_EQ(value, e.value) << sim::Narrow(e.name);
  }
}

TEST_F(ProcessRunnerTest, ResultIsExitCodeOrLaunchError) {
  machine().processes().Register(L"C:\\Tools\\five.exe", [](const sim::SimLaunch&) { return 5u; });
  machine().processes().Register(L"C:\\Tools\\big.exe", [](const sim::SimLaunch&) { return 0xC0000005u; });
  machine().processes().Register(L"C:\\Tools\\zero.exe", [](const sim::SimLaunch&) { return 0u; });
  const struct {
    const wchar_t* file;
    std::uint32_t expected;
  } cases[] = {
      {L"C:\\Tools\\five.exe", 5},
      {L"C:\\Tools\\big.exe", 0xC0000005u},
      {L"C:\\Tools\\zero.exe", 0},
      {L"C:\\Tools\\missing.exe", kErrorFileNotFound},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunProcess(c.file, L"", L"C:\\Tools", 0), c.expected) << sim::Narrow(c.file);
  }
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
  EXPECT_EQ(machine().handles().Misuses(), 0u);
}

TEST_F(ProcessRunnerTest, FailuresAfterTheLaunchAreReportedAndTheHandleClosed) {
  machine().processes().Register(L"C:\\Tools\\five.exe", [](const sim::SimLaunch&) { return 5u; });
  // The launch itself fails.
  machine().faults().FailAll(sim::SimOp::ProcessStart);
  EXPECT_EQ(RunProcess(L"C:\\Tools\\five.exe", L"", L"C:\\Tools", 1), kErrorAccessDenied);
  machine().faults().Reset();
  // The exit code cannot be read: the launch, the wait, then the read fails.
  machine().faults().FailNth(3);
  EXPECT_EQ(RunProcess(L"C:\\Tools\\five.exe", L"", L"C:\\Tools", 1), kErrorGenFailure);
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
  EXPECT_EQ(machine().handles().Misuses(), 0u);
}

}  // namespace
}  // namespace tavu::test
