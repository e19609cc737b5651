#include "launcher/startup/launcher_main.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/fixtures/launcher_test.h"

namespace tavu::test {
namespace {

// The instance mutex in the launcher's private namespace, where another
// elevated launcher makes it.
constexpr wchar_t kLauncherMutex[] = L"TavuRecovery\\TAVU F9 Recovery";

const wchar_t kGateText[] =
    L"Recovery partition cannot be found! Recovery process is aborted. Please contact TAVU Service Center "
    L"for "
    L"further assistance.";
void* const kInstance = reinterpret_cast<void*>(0x400000);
constexpr int kShowDefault = 10;  // SW_SHOWDEFAULT

enum class Mode { Window, FirmwareGate, Enable, Disable };

const char* Name(Mode m) {
  switch (m) {
    case Mode::Window:
      return "window";
    case Mode::FirmwareGate:
      return "firmware gate";
    case Mode::Enable:
      return "enable";
    case Mode::Disable:
      return "disable";
  }
  return "?";
}

class LauncherMainTest : public LauncherTest {
 protected:
  LauncherMainTest() { PutBesideLauncher("FwMode.exe"); }

  // A machine of its own for one case of a table, with the launcher installed
  // and the process-wide values zeroed.
  std::unique_ptr<sim::SimMachine> Fresh() {
    ResetLauncherGlobals();
    auto m = std::make_unique<sim::SimMachine>(root());
    m->system().SetModulePath(kLauncherPath);
    m->ui().SetSynchronousThreads(true);
    m->Install();
    return m;
  }
  int Run(sim::SimMachine& m, const wchar_t* line, int show = kShowDefault) {
    return LauncherMain(m.startup(), kInstance, line, show);
  }
  // Which mode a finished run took, from what it left on the machine.
  static Mode ModeTaken(sim::SimMachine& m) {
    auto tool = m.processes().LaunchesOf(L"FwMode.exe");
    bool window = !m.startup().windowModeCalls().empty();
    bool firmware = !m.firmware().opens().empty();
    if (tool.size() == 1 && !window && !firmware) {
      if (tool[0].parameters.rfind(L"/enable", 0) == 0) return Mode::Enable;
      if (tool[0].parameters.rfind(L"/disable", 0) == 0) return Mode::Disable;
    }
    if (window && tool.empty() && !firmware) return Mode::Window;
    if (firmware && tool.empty() && !window) return Mode::FirmwareGate;
    ADD_FAILURE() << "no single mode: tool " << tool.size() << " window " << window << " firmware "
                  << firmware;
    return Mode::Window;
  }
};

TEST_F(LauncherMainTest, WholeLineChoosesTheMode) {
  const struct {
    std::wstring line;
    Mode mode;
    int debug, log;
  } cases[] = {
      {L"", Mode::Window, 0, 0},
      {L"/AUTO", Mode::FirmwareGate, 0, 0},
      {L"/auto", Mode::FirmwareGate, 0, 0},
      {L"/Auto", Mode::FirmwareGate, 0, 0},
      {L"/AUTO /LOG", Mode::Window, 0, 1},
      {L"/AUTO ", Mode::Window, 0, 0},
      {L"/CHECK", Mode::Disable, 0, 0},
      {L"/check", Mode::Disable, 0, 0},
      {L"/CHECK ", Mode::Window, 0, 0},
      {L" /CHECK", Mode::Window, 0, 0},
      {L"/CHECK\t", Mode::Window, 0, 0},
      {L"/CHECKS", Mode::Window, 0, 0},
      {L"CHECK", Mode::Window, 0, 0},
      {L"/CHEC", Mode::Window, 0, 0},
      {L"/DISABLE", Mode::Disable, 0, 0},
      {L"/disable", Mode::Disable, 0, 0},
      {L"/DISABLE /LOG", Mode::Window, 0, 1},
      {L"/ENABLE", Mode::Enable, 0, 0},
      {L"/Enable", Mode::Enable, 0, 0},
      {L"/ENABLE /LOG", Mode::Window, 0, 1},
      {L"/ENABLE /DEBUG", Mode::Window, 1, 0},
      {L"/LOG", Mode::Window, 0, 1},
      {L"/LOGGING", Mode::Window, 0, 1},
      {L"/DEBUGGER", Mode::Window, 1, 0},
      {L"/debug /log", Mode::Window, 1, 1},
      {L"/LOG/DEBUG", Mode::Window, 1, 1},
      {L"x/logx", Mode::Window, 0, 1},
      {L"/ LOG / DEBUG", Mode::Window, 0, 0},
      {L"\"/CHECK\"", Mode::Window, 0, 0},
      // Only a to z change case: a dotless i or a German sharp s never becomes a switch.
      {L"/ENABLE\u0131", Mode::Window, 0, 0},
      {L"/\u00e4uto", Mode::Window, 0, 0},
  };
  for (const auto& c : cases) {
    auto m = Fresh();
    int exit = Run(*m, c.line.c_str());
    std::string name = "line \"" + sim::Narrow(c.line) + "\"";
    EXPECT_EQ(exit, 0) << name;
    EXPECT_EQ(ModeTaken(*m), c.mode) << name << " took " << Name(ModeTaken(*m));
    EXPECT_EQ(g_debugSwitch, c.debug) << name;
    EXPECT_EQ(g_logSwitch, c.log) << name;
    EXPECT_TRUE(m->ui().messageBoxes().empty()) << name;
  }
}

TEST_F(LauncherMainTest, ToolModesSwitchTheFirmwareModeAndTheTask) {
  const struct {
    const wchar_t* line;
    const wchar_t* arguments;
    bool taskAfter;
  } cases[] = {
      {L"/ENABLE", L"/enable", true},
      {L"/CHECK", L"/disable", false},
      {L"/DISABLE", L"/disable", false},
  };
  for (const auto& c : cases) {
    auto m = Fresh();
    sim::SimTask old;
    old.name = L"TAVU F9 Recovery";
    m->tasks().Put(old);
    EXPECT_EQ(Run(*m, c.line), 0);
    auto tool = m->processes().LaunchesOf(L"FwMode.exe");
    ASSERT_EQ(tool.size(), 1u);
    EXPECT_EQ(tool[0].parameters, c.arguments);
    EXPECT_EQ(tool[0].directory, kLauncherDir);
    EXPECT_EQ(tool[0].show, 5);
    EXPECT_EQ(m->tasks().Find(L"TAVU F9 Recovery").has_value(), c.taskAfter) << sim::Narrow(c.line);
    // Start-up's apartment is left before the task operation enters its own.
    EXPECT_EQ(m->com().calls(),
              (std::vector<std::string>{"CoInitializeEx(MULTITHREADED) = 0x00000000",
                                        "CoInitializeSecurity(0,3) = 0x00000000", "CoUninitialize",
                                        "CoInitialize = 0x00000000", "CoInitializeSecurity(6,3) = 0x80010119",
                                        "CoUninitialize"}));
    // Only the process-long mutex is still held.
    EXPECT_EQ(m->handles().OpenCount(), 1u);
    EXPECT_EQ(m->handles().Misuses(), 0u);
  }
}

TEST_F(LauncherMainTest, ToolModesEndWithZeroWhateverTheToolDid) {
  {
    auto m = Fresh();
    m->processes().SetFwModeExitCode(7);
    EXPECT_EQ(Run(*m, L"/ENABLE"), 0);
    EXPECT_EQ(m->processes().launches().at(0).exitCode, 7u);
  }
  std::remove((root() + "/Program Files/TAVU/TAVU Recovery Launcher/FwMode.exe").c_str());
  // Without the tool nothing is switched on, and no task registered; the
  // task of an earlier arming still goes at the next start.
  const std::vector<std::wstring> deleted{L"OpenFolder \\ = 0x00000000",
                                          L"DeleteTask TAVU F9 Recovery = 0x00000000"};
  const struct {
    const wchar_t* line;
    std::vector<std::wstring> taskCalls;
    bool taskAfter;
  } cases[] = {
      {L"/ENABLE", {}, true},
      {L"/CHECK", deleted, false},
      {L"/DISABLE", deleted, false},
  };
  for (const auto& c : cases) {
    auto m = Fresh();
    sim::SimTask old;
    old.name = L"TAVU F9 Recovery";
    m->tasks().Put(old);
    EXPECT_EQ(Run(*m, c.line), 0) << sim::Narrow(c.line);
    EXPECT_TRUE(m->processes().launches().empty()) << sim::Narrow(c.line);
    EXPECT_EQ(m->tasks().calls(), c.taskCalls) << sim::Narrow(c.line);
    EXPECT_EQ(m->tasks().Find(L"TAVU F9 Recovery").has_value(), c.taskAfter) << sim::Narrow(c.line);
  }
}

TEST_F(LauncherMainTest, OtherManufacturerIsRefusedInEveryMode) {
  for (const wchar_t* line : {L"", L"/AUTO", L"/CHECK", L"/ENABLE", L"/DISABLE", L"/auto /log", L"/DEBUG"}) {
    auto m = Fresh();
    m->wmi().SetManufacturer(L"Other Maker Ltd.");
    m->firmware().SetPresent(true);
    m->firmware().SetReplyStatus(9);
    std::string name = sim::Narrow(line);
    EXPECT_EQ(Run(*m, line), 1) << name;
    auto boxes = m->ui().messageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << name;
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].text, kGateText);
    EXPECT_EQ(boxes[0].caption, L"Recovery Aborted");
    EXPECT_EQ(boxes[0].flags, 0u);  // MB_OK
    EXPECT_TRUE(m->processes().launches().empty()) << name;
    EXPECT_TRUE(m->tasks().calls().empty()) << name;
    EXPECT_TRUE(m->firmware().opens().empty()) << name;
    EXPECT_TRUE(m->startup().windowModeCalls().empty()) << name;
    // The line is not even looked at.
    EXPECT_EQ(g_logSwitch, 0) << name;
    EXPECT_EQ(g_debugSwitch, 0) << name;
  }
}

TEST_F(LauncherMainTest, ManufacturerThatCannotBeAskedIsRefused) {
  auto m = Fresh();
  m->wmi().SetConnectResult(kWbemEFailed);
  EXPECT_EQ(Run(*m, L"/CHECK"), 1);
  EXPECT_EQ(m->ui().messageBoxes().size(), 1u);
  EXPECT_TRUE(m->processes().launches().empty());
}

TEST_F(LauncherMainTest, FirmwareGate) {
  const wchar_t* kNoOutput = nullptr;
  const struct {
    const char* name;
    bool present;
    std::uint32_t requestError;
    std::vector<std::uint8_t> reply;
    const wchar_t* debugText;
    bool window;
  } cases[] = {
      {"device absent", false, 0, {9, 0, 0, 0}, kNoOutput, false},
      {"request fails", true, 31, {9, 0, 0, 0}, L"ret = 0\nGet returen value from BIOS (BSTS)--> 0", false},
      {"empty reply", true, 0, {}, L"ret = 0\nGet returen value from BIOS (BSTS)--> 0", false},
      {"short reply", true, 0, {9, 0, 0}, L"ret = 0\nGet returen value from BIOS (BSTS)--> 0", false},
      {"status 0", true, 0, {0, 0, 0, 0}, L"ret = 0\nGet returen value from BIOS (BSTS)--> 0", false},
      {"status 7", true, 0, {7, 0, 0, 0}, L"ret = 0\nGet returen value from BIOS (BSTS)--> 7", false},
      {"status -1",
       true,
       0,
       {0xFF, 0xFF, 0xFF, 0xFF},
       L"ret = 0\nGet returen value from BIOS (BSTS)--> -1",
       false},
      {"status 9", true, 0, {9, 0, 0, 0}, L"ret = 0\nGet returen value from BIOS (BSTS)--> 9", true},
      {"8-byte reply",
       true,
       0,
       {9, 0, 0, 0, 1, 2, 3, 4},
       L"ret = 0\nGet returen value from BIOS (BSTS)--> 9",
       true},
      {"status 0x109", true, 0, {9, 1, 0, 0}, L"ret = 0\nGet returen value from BIOS (BSTS)--> 265", false},
  };
  for (const auto& c : cases) {
    auto m = Fresh();
    m->firmware().SetPresent(c.present);
    m->firmware().SetRequestError(c.requestError);
    m->firmware().SetReply(c.reply);
    EXPECT_EQ(Run(*m, L"/AUTO", 3), 0) << c.name;
    auto debug = m->ui().debugOutput();
    if (c.debugText == kNoOutput) {
      EXPECT_TRUE(debug.empty()) << c.name;
    } else {
      EXPECT_EQ(debug, std::vector<std::wstring>{c.debugText}) << c.name;
    }
    auto windows = m->startup().windowModeCalls();
    ASSERT_EQ(windows.size(), c.window ? 1u : 0u) << c.name;
    if (c.window) {
      EXPECT_EQ(windows[0].instance, kInstance);
      EXPECT_EQ(windows[0].showCommand, 3);
    }
    EXPECT_TRUE(m->processes().launches().empty()) << c.name;
    // The device is closed again before anything else happens.
    EXPECT_EQ(g_firmwareDevice, c.present ? nullptr : kInvalidHandle) << c.name;
    EXPECT_EQ(m->handles().OpenCount(), 1u) << c.name;  // the mutex
    EXPECT_EQ(m->handles().Misuses(), 0u) << c.name;
    EXPECT_EQ(m->firmware().requests().size(), c.present ? 1u : 0u) << c.name;
  }
}

TEST_F(LauncherMainTest, FirmwareGateSendsTheStatusRequest) {
  auto m = Fresh();
  m->firmware().SetPresent(true);
  Run(*m, L"/auto");
  auto requests = m->firmware().requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].code, 0x0022240Cu);
  EXPECT_EQ(requests[0].input, (std::vector<std::uint8_t>{'B', 'S', 'T', 'S', 4, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(m->firmware().opens(), std::vector<std::wstring>{L"\\\\.\\QVXACPI"});
}

TEST_F(LauncherMainTest, WindowModeGetsInstanceAndShowAndGivesTheExitCode) {
  auto m = Fresh();
  m->startup().SetWindowMode([](void*, int) { return 4; });
  EXPECT_EQ(Run(*m, L"", 7), 4);
  auto windows = m->startup().windowModeCalls();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].instance, kInstance);
  EXPECT_EQ(windows[0].showCommand, 7);
  EXPECT_EQ(g_comReady, 1);
  // COM stays as start-up left it, for the window and its worker.
  EXPECT_EQ(m->com().CurrentApartment(), sim::Apartment::Multithreaded);
  EXPECT_EQ(m->com().securityAuthnLevel(), 0u);
  EXPECT_EQ(m->com().securityImpLevel(), 3u);
}

TEST_F(LauncherMainTest, StringsAndWindowClassComeFirst) {
  auto m = Fresh();
  m->startup().HoldMutex(kLauncherMutex);
  EXPECT_EQ(Run(*m, L""), 0);
  EXPECT_EQ(m->startup().loadedStrings(), (std::vector<std::uint32_t>{103, 109}));
  EXPECT_EQ(std::wstring(g_windowTitle), L"TAVUF9Recovery");
  EXPECT_EQ(std::wstring(g_windowClassName), L"TAVUF9RECOVERY");
  EXPECT_EQ(m->startup().classRegistrations(), std::vector<void*>{kInstance});
}

TEST_F(LauncherMainTest, OverlongStringsAreCutToTheirBuffers) {
  auto m = Fresh();
  m->startup().SetString(103, std::wstring(150, L'T'));
  m->startup().SetString(109, std::wstring(99, L'C'));
  Run(*m, L"");
  EXPECT_EQ(std::wstring(g_windowTitle), std::wstring(99, L'T'));
  EXPECT_EQ(std::wstring(g_windowClassName), std::wstring(99, L'C'));
}

TEST_F(LauncherMainTest, SecondLauncherEndsAtOnceAndQuietly) {
  const struct {
    const char* name;
    void (*arrange)(sim::SimMachine&);
  } cases[] = {
      {"open finds the mutex", [](sim::SimMachine& m) { m.startup().HoldMutex(kLauncherMutex); }},
      // The other launcher made it between our open and our create.
      {"create reports it exists",
       [](sim::SimMachine& m) {
         m.startup().HoldMutex(kLauncherMutex);
         m.faults().FailNth(4);  // two strings, the class, then the open
       }},
  };
  for (const auto& c : cases) {
    auto m = Fresh();
    c.arrange(*m);
    EXPECT_EQ(Run(*m, L"/ENABLE"), 0) << c.name;
    EXPECT_TRUE(m->com().calls().empty()) << c.name;
    EXPECT_TRUE(m->wmi().connects().empty()) << c.name;
    EXPECT_TRUE(m->ui().messageBoxes().empty()) << c.name;
    EXPECT_TRUE(m->processes().launches().empty()) << c.name;
    EXPECT_TRUE(m->startup().windowModeCalls().empty()) << c.name;
    EXPECT_EQ(g_comReady, 0) << c.name;
  }
}

TEST_F(LauncherMainTest, TheFirstLauncherHoldsTheMutexAgainstTheNext) {
  auto m = Fresh();
  EXPECT_EQ(Run(*m, L"/CHECK"), 0);
  EXPECT_EQ(m->startup().mutexCalls(),
            (std::vector<std::wstring>{std::wstring(L"open ") + kLauncherMutex,
                                       std::wstring(L"create ") + kLauncherMutex}));
  EXPECT_TRUE(m->startup().MutexExists(kLauncherMutex));
  m->processes().ClearLaunches();
  EXPECT_EQ(Run(*m, L"/CHECK"), 0);
  EXPECT_TRUE(m->processes().launches().empty());
}

TEST_F(LauncherMainTest, NoUserHeldNameKeepsTheLogonTaskFromTheFirmwareSwitch) {
  const struct {
    const char* name;
    void (*arrange)(sim::SimMachine&);
  } cases[] = {
      {"a user's mutex of the launcher's name in the session",
       [](sim::SimMachine& m) { m.startup().HoldMutex(L"TAVU F9 Recovery"); }},
      {"a user's mutex of the namespace's name",
       [](sim::SimMachine& m) { m.startup().HoldMutex(L"TavuRecovery"); }},
      // Without a namespace the session's name is the only guard left.
      {"private namespaces refused", [](sim::SimMachine& m) { m.startup().SetNamespacesRefused(true); }},
  };
  for (const auto& c : cases) {
    auto m = Fresh();
    c.arrange(*m);
    EXPECT_EQ(Run(*m, L"/CHECK"), 0) << c.name;
    EXPECT_EQ(m->processes().launches().size(), 1u) << c.name;
  }
}

TEST_F(LauncherMainTest, ComFailuresEndQuietlyWithZero) {
  const struct {
    const char* name;
    void (*arrange)(sim::SimMachine&);
    std::vector<std::string> com;
  } cases[] = {
      {"CoInitializeEx fails",
       [](sim::SimMachine& m) { m.com().SetInitializeResult(kEOutOfMemory); },
       {"CoInitializeEx(MULTITHREADED) = 0x8007000E"}},
      {"CoInitializeSecurity fails",
       [](sim::SimMachine& m) { m.com().SetSecurityResult(kRpcETooLate); },
       {"CoInitializeEx(MULTITHREADED) = 0x00000000", "CoInitializeSecurity(0,3) = 0x80010119",
        "CoUninitialize"}},
  };
  for (const auto& c : cases) {
    auto m = Fresh();
    c.arrange(*m);
    EXPECT_EQ(Run(*m, L"/ENABLE"), 0) << c.name;
    EXPECT_EQ(m->com().calls(), c.com) << c.name;
    EXPECT_EQ(g_comReady, 0) << c.name;
    EXPECT_TRUE(m->wmi().connects().empty()) << c.name;
    EXPECT_TRUE(m->ui().messageBoxes().empty()) << c.name;
    EXPECT_TRUE(m->processes().launches().empty()) << c.name;
  }
}

TEST_F(LauncherMainTest, OverlongLineIsCutWithinThePathBuffer) {
  const struct {
    std::wstring line;
    int log;
  } cases[] = {
      {L"/CHECK" + std::wstring(300, L' '), 0},
      {L"/AUTO" + std::wstring(5000, L'x'), 0},
      {L"/log" + std::wstring(400, L'x'), 1},
      {std::wstring(255, L'x') + L"/LOG", 1},          // 259 characters: whole
      {std::wstring(256, L'x') + L"/LOG", 0},          // 260: the switch is cut
      {std::wstring(255, L'x') + L"/LOGxxxxxxxx", 1},  // the switch ends exactly at the cut
      {std::wstring(100000, L'/'), 0},
  };
  for (const auto& c : cases) {
    auto m = Fresh();
    m->firmware().SetPresent(true);
    m->firmware().SetReplyStatus(0);
    EXPECT_EQ(Run(*m, c.line.c_str()), 0) << c.line.size();
    EXPECT_EQ(ModeTaken(*m), Mode::Window) << c.line.size();
    EXPECT_EQ(g_logSwitch, c.log) << c.line.size();
  }
}

TEST_F(LauncherMainTest, NullLineIsAnEmptyLine) {
  auto m = Fresh();
  EXPECT_EQ(LauncherMain(m->startup(), kInstance, nullptr, kShowDefault), 0);
  EXPECT_EQ(ModeTaken(*m), Mode::Window);
}

}  // namespace
}  // namespace tavu::test
