// The simulated machine's COM, programs, message boxes and task store behave
// as Windows documents them; other tests rely on that.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "common/win_errors.h"
#include "sim/core/text.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

class SimServicesTest : public SimTest {};

// CreateProcessW as the launcher calls it: the quoted file, then the parameters.
bool Start(sim::SimProcesses& p, const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
           Handle* process) {
  std::wstring commandLine = L"\"" + std::wstring(file) + L"\" " + parameters;
  return p.Create(file, commandLine.data(), directory, 0, nullptr, process);
}

TEST_F(SimServicesTest, ComApartmentsFollowWindowsRules) {
  sim::SimCom& com = machine().com();
  const struct {
    const char* step;
    HResult (*call)(sim::SimCom&);
    HResult expected;
  } steps[] = {
      {"security before any apartment", [](sim::SimCom& c) { return c.InitializeSecurity(0, 3); },
       kCoENotInitialized},
      {"enter MTA", [](sim::SimCom& c) { return c.InitializeMultithreaded(); }, kSOk},
      {"enter MTA again", [](sim::SimCom& c) { return c.InitializeMultithreaded(); }, kSFalse},
      {"STA on an MTA thread", [](sim::SimCom& c) { return c.InitializeApartment(); }, kRpcEChangedMode},
      {"security", [](sim::SimCom& c) { return c.InitializeSecurity(0, 3); }, kSOk},
      {"security again", [](sim::SimCom& c) { return c.InitializeSecurity(6, 3); }, kRpcETooLate},
      {"leave once",
       [](sim::SimCom& c) {
         c.Uninitialize();
         return kSOk;
       },
       kSOk},
      {"still MTA", [](sim::SimCom& c) { return c.InitializeApartment(); }, kRpcEChangedMode},
      {"leave twice",
       [](sim::SimCom& c) {
         c.Uninitialize();
         return kSOk;
       },
       kSOk},
      {"STA after leaving", [](sim::SimCom& c) { return c.InitializeApartment(); }, kSOk},
      {"MTA on an STA thread", [](sim::SimCom& c) { return c.InitializeMultithreaded(); }, kRpcEChangedMode},
  };
  for (const auto& s : steps) EXPECT_EQ(s.call(com), s.expected) << s.step;
  EXPECT_EQ(com.CurrentApartment(), sim::Apartment::SingleThreaded);
  com.Uninitialize();
  com.Uninitialize();  // one too many: counted, harmless
  EXPECT_EQ(com.unbalancedUninitializes(), 1u);
  EXPECT_EQ(com.securityAuthnLevel(), 0u);
}

TEST_F(SimServicesTest, ThreadsWithoutApartmentJoinALiveMultithreadedOne) {
  sim::SimCom& com = machine().com();
  std::atomic<bool> usable{true};
  std::thread([&] { usable = com.Usable(); }).join();
  EXPECT_FALSE(usable);
  com.InitializeMultithreaded();
  std::thread([&] { usable = com.Usable(); }).join();
  EXPECT_TRUE(usable);
  com.Uninitialize();
  std::thread([&] { usable = com.Usable(); }).join();
  EXPECT_FALSE(usable);
}

TEST_F(SimServicesTest, MessageBoxesAnswerFromTheScriptThenWithTheFirstButton) {
  sim::SimUi& ui = machine().ui();
  ui.QueueAnswer(kIdNo);
  const struct {
    std::uint32_t flags;
    int expected;
  } cases[] = {
      {kMbYesNo | kMbDefButton2, kIdNo},  // scripted
      {kMbYesNo | kMbDefButton2, kIdYes},
      {kMbOk, kIdOk},
      {kMbOk | kMbIconWarning, kIdOk},
      {0x1, kIdOk},  // MB_OKCANCEL
      {0x2, 3},      // MB_ABORTRETRYIGNORE: IDABORT
      {0x5, 4},      // MB_RETRYCANCEL: IDRETRY
      {0x7, 0},      // no such button set
  };
  for (const auto& c : cases) EXPECT_EQ(ui.ShowMessage(nullptr, L"t", L"c", c.flags), c.expected) << c.flags;
  machine().faults().FailAll(sim::SimOp::MessageBox);
  EXPECT_EQ(ui.ShowMessage(reinterpret_cast<Handle>(8), L"text", nullptr, kMbOk), 0);
  auto boxes = ui.messageBoxes();
  ASSERT_EQ(boxes.size(), 9u);
  EXPECT_EQ(boxes[8].owner, reinterpret_cast<Handle>(8));
  EXPECT_EQ(boxes[8].text, L"text");
  EXPECT_EQ(boxes[8].caption, L"Error");
}

TEST_F(SimServicesTest, ThreadsRunSynchronouslyOrOnTheirOwn) {
  sim::SimUi& ui = machine().ui();
  static std::thread::id ranOn;
  ThreadRoutine routine = [](void* p) -> std::uint32_t {
    ranOn = std::this_thread::get_id();
    return *static_cast<std::uint32_t*>(p);
  };
  std::uint32_t code = 17;
  Handle first = nullptr, second = nullptr;
  ui.SetSynchronousThreads(true);
  ASSERT_TRUE(ui.StartThread(routine, &code, &first));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  ui.SetSynchronousThreads(false);
  ASSERT_TRUE(ui.StartThread(routine, &code, &second));
  ui.JoinThreads();
  EXPECT_NE(ranOn, std::this_thread::get_id());
  EXPECT_NE(first, second);
  auto runs = ui.threads();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_TRUE(runs[1].finished);
  EXPECT_EQ(runs[1].exitCode, 17u);
  machine().faults().FailAll(sim::SimOp::ThreadStart);
  EXPECT_FALSE(ui.StartThread(routine, &code, &first));
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

TEST_F(SimServicesTest, ProgramsAreFoundByPathOrByFileOnDisk) {
  // Paths as given: no WOW64 redirection on a 32-bit Windows.
  machine().system().SetWindows64(false);
  sim::SimProcesses& p = machine().processes();
  p.Register(L"C:\\Windows\\System32\\cmd.exe",
             [](const sim::SimLaunch& l) { return l.parameters == L"/c exit 3" ? 3u : 0u; });
  WriteHostFile(root() + "/Tools/FwMode.exe", "MZ");
  WriteHostFile(root() + "/Tools/other.exe", "MZ");
  const struct {
    const wchar_t* file;
    const wchar_t* parameters;
    bool started;
    std::uint32_t result;  // exit code, or the launch error
  } cases[] = {
      {L"C:\\Windows\\System32\\cmd.exe", L"/c exit 3", true, 3},
      {L"c:\\WINDOWS\\system32\\CMD.EXE", L"", true, 0},
      {L"C:\\Windows\\System32\\format.com", L"", false, kErrorFileNotFound},
      {L"C:\\Tools\\fwmode.exe", L"/enable", true, 0},
      {L"C:\\Tools\\other.exe", L"", true, 0},
      {L"C:\\Tools\\FwModeX.exe", L"", false, kErrorFileNotFound},
      {L"C:\\Elsewhere\\FwMode.exe", L"", false, kErrorFileNotFound},
  };
  for (const auto& c : cases) {
    Handle process = nullptr;
    bool ok = Start(p, c.file, c.parameters, L"C:\\", &process);
    EXPECT_EQ(ok, c.started) << sim::Narrow(c.file);
    if (ok) {
      std::uint32_t code = 99;
      EXPECT_TRUE(p.Wait(process));
      EXPECT_TRUE(p.ExitCode(process, &code));
      EXPECT_EQ(code, c.result) << sim::Narrow(c.file);
      EXPECT_TRUE(machine().files().Close(process));
    } else {
      EXPECT_EQ(process, nullptr);
      EXPECT_EQ(machine().system().LastError(), c.result) << sim::Narrow(c.file);
    }
  }
  EXPECT_EQ(p.launches().size(), 7u);
  EXPECT_EQ(p.LaunchesOf(L"FWMODE.EXE").size(), 2u);
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

TEST_F(SimServicesTest, Wow64RedirectsEachThreadOnItsOwn) {
  sim::SimWow64& wow64 = machine().system().wow64();
  const wchar_t kWowCmd[] = L"C:\\Windows\\SysWOW64\\cmd.exe";
  const struct {
    const wchar_t* path;
    const wchar_t* redirected;  // null: unchanged
  } cases[] = {
      {L"C:\\Windows\\System32\\cmd.exe", kWowCmd},
      {L"c:\\windows\\SYSTEM32", L"C:\\Windows\\SysWOW64"},
      {L"C:\\Windows\\System32\\drivers\\x.sys", L"C:\\Windows\\SysWOW64\\drivers\\x.sys"},
      {L"C:\\Windows\\System32\\drivers\\etc\\hosts", nullptr},
      {L"C:\\Windows\\System32\\catroot2\\x", nullptr},
      {L"C:\\Windows\\System32\\Spool", nullptr},
      {L"C:\\Windows\\System32\\spoolx\\y", L"C:\\Windows\\SysWOW64\\spoolx\\y"},
      {L"C:\\Windows\\System32x\\cmd.exe", nullptr},
      {L"C:\\Windows\\Sysnative\\bcdedit.exe", L"C:\\Windows\\System32\\bcdedit.exe"},
      {L"C:\\Windows\\regedit.exe", L"C:\\Windows\\SysWOW64\\regedit.exe"},
      {L"C:\\Program Files\\TAVU\\a.exe", nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wow64.Redirect(c.path), c.redirected != nullptr ? c.redirected : c.path) << sim::Narrow(c.path);
  }
  Handle process = nullptr;
  ASSERT_TRUE(Start(machine().processes(), L"C:\\Windows\\System32\\cmd.exe", L"/c exit", L"C:\\", &process));
  EXPECT_TRUE(machine().files().Close(process));
  EXPECT_EQ(machine().processes().launches().back().image, kWowCmd);

  // Switched off on another thread: this one still redirects.
  std::thread other([&] {
    EXPECT_TRUE(machine().system().SetWow64FsRedirection(false));
    // Sysnative too stays as it is, and then names no folder.
    for (const auto& c : cases) EXPECT_EQ(wow64.Redirect(c.path), c.path) << sim::Narrow(c.path);
    machine().com().InitializeApartment();
    Handle session = nullptr;
    EXPECT_EQ(machine().tasks().OpenFolder(L"\\", &session), kHResultBadExeFormat);
    EXPECT_EQ(session, nullptr);
    machine().com().Uninitialize();
  });
  other.join();
  EXPECT_TRUE(wow64.RedirectionOn());
  EXPECT_TRUE(wow64.InProcessServerLoads());

  // A 32-bit Windows has neither the switch nor anything to redirect.
  machine().system().SetWindows64(false);
  EXPECT_FALSE(machine().system().SetWow64FsRedirection(false));
  EXPECT_EQ(wow64.Redirect(L"C:\\Windows\\System32\\cmd.exe"), L"C:\\Windows\\System32\\cmd.exe");
  EXPECT_EQ(machine().system().redirectionCalls(), std::vector<bool>{false});
}

// cmd.exe as the owner's account may have prepared it: its AutoRun command runs
// before the batch unless /d is given, and "bcdedit" is looked for in the
// current folder, then along PATH, with each PATHEXT extension in turn, in the
// view of the disk that the command processor's own bitness gives it.
TEST_F(SimServicesTest, CommandProcessorFindsCommandsAsCmdDoes) {
  WriteHostFile(root() + "/Windows/Temp/run.cmd", "bcdedit /enum all > \"C:\\Windows\\Temp\\out.txt\"\r\n");
  WriteHostFile(root() + "/Users/Owner/bin/bcdedit.cmd", "@echo planted\r\n");
  WriteHostFile(root() + "/Users/Owner/bin/autorun.cmd", "@echo planted\r\n");
  const std::wstring kBin = L"C:\\Users\\Owner\\bin";
  const std::wstring kOwnerPath = kBin + L";C:\\Windows\\system32";
  const struct {
    const char* what;
    const wchar_t* cmd;
    const wchar_t* parameters;
    const wchar_t* pathExt;  // null: Windows' own
    const wchar_t* autoRun;
    bool plantCom;                      // a bcdedit.com beside the native bcdedit.exe
    std::vector<std::wstring> started;  // after cmd.exe itself
    bool listed;                        // the boot store wrote its listing
  } cases[] = {
      {"the current folder comes before PATH", L"C:\\Windows\\Sysnative\\cmd.exe", L"/c C:\\Windows\\Temp\\run.cmd",
       nullptr, L"", false, {}, true},
      {"PATHEXT .CMD: the owner's batch along PATH", L"C:\\Windows\\Sysnative\\cmd.exe",
       L"/d /c C:\\Windows\\Temp\\run.cmd", L".CMD", L"", false, {kBin + L"\\bcdedit.cmd"}, false},
      {"PATHEXT's order within a folder", L"C:\\Windows\\Sysnative\\cmd.exe", L"/c C:\\Windows\\Temp\\run.cmd",
       nullptr, L"", true, {L"C:\\Windows\\System32\\bcdedit.com"}, false},
      {"AutoRun first", L"C:\\Windows\\Sysnative\\cmd.exe", L"/c C:\\Windows\\Temp\\run.cmd", nullptr,
       L"autorun & echo more", false, {kBin + L"\\autorun.cmd"}, true},
      {"AutoRun not with /d", L"C:\\Windows\\Sysnative\\cmd.exe", L"/D /C C:\\Windows\\Temp\\run.cmd", nullptr,
       L"autorun", false, {}, true},
      {"a 32-bit cmd.exe finds no bcdedit", L"C:\\Windows\\SysWOW64\\cmd.exe", L"/c C:\\Windows\\Temp\\run.cmd",
       L".EXE", L"", false, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimMachine m(root());
    m.Install();
    m.processes().SetOwnerVariable(L"PATH", kOwnerPath);
    if (c.pathExt != nullptr) m.processes().SetOwnerVariable(L"PATHEXT", c.pathExt);
    m.windowsTools().programs().SetAutoRun(c.autoRun);
    const std::string com = root() + "/Windows/System32/bcdedit.com";
    if (c.plantCom) WriteHostFile(com, "MZ");
    std::remove((root() + "/Windows/Temp/out.txt").c_str());

    Handle process = nullptr;
    ASSERT_TRUE(Start(m.processes(), c.cmd, c.parameters, L"C:\\Windows\\System32", &process));
    EXPECT_TRUE(m.files().Close(process));
    // Names are compared as Windows compares them.
    std::vector<std::wstring> started;
    for (const sim::SimLaunch& l : m.processes().launches()) started.push_back(sim::AsciiUpper(l.image));
    ASSERT_FALSE(started.empty());
    started.erase(started.begin());
    std::vector<std::wstring> expected;
    for (const std::wstring& image : c.started) expected.push_back(sim::AsciiUpper(image));
    EXPECT_EQ(started, expected);
    EXPECT_EQ(HostFileExists(root() + "/Windows/Temp/out.txt") &&
                  !ReadHostFile(root() + "/Windows/Temp/out.txt").empty(),
              c.listed);
    std::remove(com.c_str());
    SetPlatform(Platform{});
  }
}

TEST_F(SimServicesTest, TaskStoreFollowsTheRegistrationFlags) {
  machine().com().InitializeApartment();
  sim::SimTasks& tasks = machine().tasks();
  Handle session = nullptr;
  ASSERT_EQ(tasks.OpenFolder(L"\\", &session), kSOk);
  TaskRegistration r;
  r.actionPath = L"C:\\a.exe";
  r.logonType = 3;
  const struct {
    std::int32_t flags;
    HResult expected;
    std::size_t count;
  } cases[] = {
      {kTaskUpdate, kHResultFileNotFound, 0},  {kTaskCreate, kSOk, 1},
      {kTaskCreate, kHResultAlreadyExists, 1}, {kTaskUpdate, kSOk, 1},
      {kTaskCreateOrUpdate, kSOk, 1},          {0, kEInvalidArg, 1},
  };
  for (const auto& c : cases) {
    r.flags = c.flags;
    EXPECT_EQ(tasks.RegisterTask(session, L"T", r), c.expected) << c.flags;
    EXPECT_EQ(tasks.Count(), c.count) << c.flags;
  }
  // A group task without its group is refused.
  r.flags = kTaskCreateOrUpdate;
  r.logonType = kTaskLogonGroup;
  EXPECT_EQ(tasks.RegisterTask(session, L"G", r), kEInvalidArg);
  EXPECT_EQ(tasks.DeleteTask(session, L"t"), kSOk);
  EXPECT_EQ(tasks.DeleteTask(session, L"T"), kHResultFileNotFound);
  Handle other = nullptr;
  EXPECT_EQ(tasks.OpenFolder(L"\\Microsoft", &other), kHResultFileNotFound);
  tasks.CloseFolder(session);
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

}  // namespace
}  // namespace tavu::test
