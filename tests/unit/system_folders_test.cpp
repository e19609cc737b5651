#include "common/system_folders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log_writer.h"
#include "launcher/services/trusted_launcher.h"
#include "launcher/startup/launcher_log.h"
#include "launcher/startup/process_runner.h"
#include "launcher/startup/tool_environment.h"
#include "patcher/launcher_version.h"
#include "sim/core/environment.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

class SystemFoldersTest : public SimTest {};

// Whatever folder Windows names, every path under it follows; an answer that
// cannot serve as a base gives the usual folder, never a relative path.
TEST_F(SystemFoldersTest, EveryPathFollowsTheFoldersWindowsNames) {
  struct Case {
    const char* what;
    const wchar_t* windowsAnswer;
    const wchar_t* programFilesAnswer;
    bool windows64;
    const wchar_t* windows;       // the folder the paths are built on
    const wchar_t* programFiles;  // likewise
    const wchar_t* toolFolder;    // where the native tools are started from
  } cases[] = {
      {"usual, 64-bit", L"C:\\Windows", L"C:\\Program Files", true, L"C:\\Windows", L"C:\\Program Files",
       L"C:\\Windows\\Sysnative"},
      {"usual, 32-bit", L"C:\\Windows", L"C:\\Program Files", false, L"C:\\Windows", L"C:\\Program Files",
       L"C:\\Windows\\System32"},
      {"elsewhere", L"C:\\WinNT", L"C:\\Apps", true, L"C:\\WinNT", L"C:\\Apps", L"C:\\WinNT\\Sysnative"},
      {"with a trailing separator", L"C:\\WinNT\\", L"C:\\Apps\\", true, L"C:\\WinNT", L"C:\\Apps",
       L"C:\\WinNT\\Sysnative"},
      {"another drive", L"D:\\Windows", L"D:\\Program Files", false, L"D:\\Windows", L"D:\\Program Files",
       L"D:\\Windows\\System32"},
      {"no answer", L"", L"", true, L"C:\\Windows", L"C:\\Program Files", L"C:\\Windows\\Sysnative"},
      {"a relative answer", L"Windows", L"..\\Apps", true, L"C:\\Windows", L"C:\\Program Files",
       L"C:\\Windows\\Sysnative"},
      {"a drive alone", L"C:\\", L"C:", true, L"C:\\Windows", L"C:\\Program Files",
       L"C:\\Windows\\Sysnative"},
      {"a climbing part", L"C:\\Windows\\..\\Users\\Owner", L"C:\\Apps\\.", true, L"C:\\Windows",
       L"C:\\Program Files", L"C:\\Windows\\Sysnative"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    machine().system().SetWindowsFolder(c.windowsAnswer);
    machine().system().SetProgramFilesFolder(c.programFilesAnswer);
    machine().system().SetWindows64(c.windows64);
    const std::wstring windows = c.windows;
    const std::wstring programFiles = c.programFiles;

    wchar_t path[260];
    ASSERT_TRUE(WindowsPath(L"Temp\\RcvBoot.cmd", path, 260));
    EXPECT_EQ(std::wstring(path), windows + L"\\Temp\\RcvBoot.cmd");
    // The 64-bit program folder even where a 32-bit program is told the other.
    ASSERT_TRUE(patcher::LauncherPath(L".new", path, 260));
    EXPECT_EQ(std::wstring(path), programFiles + L"\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe.new");
    // The launcher that the tool and the logon task may start is looked for there too.
    ASSERT_TRUE(InstalledLauncherPath(path, 260));
    EXPECT_EQ(std::wstring(path), programFiles + L"\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe");

    wchar_t block[kToolEnvironmentChars];
    ASSERT_TRUE(BuildToolEnvironment(block, kToolEnvironmentChars));
    EXPECT_EQ(sim::ParseEnvironmentBlock(block),
              (sim::SimEnvironment{
                  L"ComSpec=" + windows + L"\\System32\\cmd.exe",
                  L"PATH=" + windows + L"\\System32;" + windows + L";" + windows + L"\\System32\\Wbem",
                  L"PATHEXT=.COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC",
                  L"SystemDrive=" + windows.substr(0, 2), L"SystemRoot=" + windows,
                  L"TEMP=" + windows + L"\\Temp", L"TMP=" + windows + L"\\Temp", L"windir=" + windows}));

    machine().processes().ClearLaunches();
    (void)RunSystemTool(L"shutdown.exe", L"-r -t 10", 1);
    ASSERT_EQ(machine().processes().launches().size(), 1u);
    EXPECT_EQ(machine().processes().launches()[0].file, std::wstring(c.toolFolder) + L"\\shutdown.exe");
    EXPECT_EQ(machine().processes().launches()[0].directory, windows + L"\\System32");
  }
}

TEST_F(SystemFoldersTest, LogsLieInTheWindowsFolderWindowsNames) {
  machine().system().SetWindowsFolder(L"C:\\WinNT");
  LogContext ctx;
  EXPECT_TRUE(WriteLog(ctx, g_logFileName, L"AddTask", L"x"));
  EXPECT_TRUE(HostFileExists(root() + "/WinNT/Temp/TAVU F9 Recovery.log"));
  EXPECT_FALSE(HostFileExists(root() + "/Windows/Temp/TAVU F9 Recovery.log"));
}

}  // namespace
}  // namespace tavu::test
