// The programs on Windows as shipped notebooks run it: a display language
// other than English, volumes that arrive a while after a table write, an
// empty card-reader slot, an anti-malware scanner and a running launcher.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "common/system_api.h"
#include "common/task_api.h"
#include "launcher/arming/recovery_worker.h"
#include "launcher/services/scheduled_task.h"
#include "launcher/startup/launcher_main.h"
#include "patcher/fix_downgrade.h"
#include "sim/core/language.h"
#include "sim/programs/windows_tools.h"
#include "tests/fixtures/launcher_test.h"
#include "tests/fixtures/notebooks.h"
#include "tests/fixtures/pe_builder.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/tavu_sim_run.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/version_block.h"

namespace tavu::test::shipped_windows {
namespace {

const char* const kLanguages[] = {"en-US", "de-DE", "fr-FR", "es-ES", "pl-PL", "ru-RU", "ja-JP", "zh-CN"};

class ShippedWindowsTest : public LauncherTest {};

// ---- a display language other than English ----------------------------------

TEST_F(ShippedWindowsTest, LogonTaskIsRegisteredForSystemOnEveryDisplayLanguage) {
  for (const char* tag : kLanguages) {
    SCOPED_TRACE(tag);
    const sim::SimLanguage* language = sim::FindSimLanguage(tag);
    ASSERT_NE(language, nullptr);
    machine().SetLanguage(*language);
    EXPECT_EQ(AddTask(kLauncherPath), 0);
    auto task = machine().tasks().Find(L"TAVU F9 Recovery");
    ASSERT_TRUE(task.has_value());
    // By its well-known SID, which no display language translates.
    EXPECT_EQ(task->userId, L"S-1-5-18");
    EXPECT_EQ(task->logonType, kTaskLogonServiceAccount);
    EXPECT_EQ(task->principalLogonType, kTaskLogonServiceAccount);
    EXPECT_EQ(task->runLevel, kTaskRunLevelHighest);
  }
}

// What the simulated Task Scheduler takes for the group, as Windows does.
TEST_F(ShippedWindowsTest, GroupNamesAreMappedOnlyInTheirOwnLanguage) {
  struct Case {
    const char* language;
    const wchar_t* name;
    bool mapped;
  } const cases[] = {
      {"en-US", L"Builtin\\Administrators", true},
      {"en-US", L"administrators", true},
      {"de-DE", L"Builtin\\Administrators", false},
      {"de-DE", L"VORDEFINIERT\\Administratoren", true},
      {"de-DE", L"vordefiniert\\administratoren", true},
      {"fr-FR", L"BUILTIN\\Administrateurs", true},
      {"fr-FR", L"BUILTIN\\Administratoren", false},
      {"ru-RU",
       L"BUILTIN\\\u0430\u0434\u043c\u0438\u043d\u0438\u0441\u0442\u0440\u0430\u0442\u043e\u0440\u044b",
       true},
      {"ja-JP", L"BUILTIN\\Administrators", true},
      {"pl-PL", L"S-1-5-32-544", true},
      {"pl-PL", L"S-1-5-32-545", false},
      {"es-ES", L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.language));
    EXPECT_EQ(sim::NamesAdministrators(*sim::FindSimLanguage(c.language), c.name), c.mapped);
  }
}

TEST_F(ShippedWindowsTest, RegistrationForAnUnknownNameFailsAsWindowsFailsIt) {
  machine().SetLanguage(*sim::FindSimLanguage("de-DE"));
  Handle session = nullptr;
  machine().com().InitializeApartment();
  ASSERT_EQ(machine().tasks().OpenFolder(L"\\", &session), kSOk);
  TaskRegistration r;
  r.flags = kTaskCreateOrUpdate;
  r.logonType = kTaskLogonGroup;
  r.userId = L"Builtin\\Administrators";
  EXPECT_EQ(machine().tasks().RegisterTask(session, L"T", r), HResultOf(0x80070534u));
  EXPECT_FALSE(machine().tasks().Find(L"T").has_value());
  r.userId = L"S-1-5-32-544";
  EXPECT_EQ(machine().tasks().RegisterTask(session, L"T", r), kSOk);
  machine().tasks().CloseFolder(session);
}

// The listing bcdedit writes after the launcher's CHCP 437: localized headers
// and identifier word in code page 437, everything else as on English Windows.
TEST_F(ShippedWindowsTest, BootListingIsLocalizedAndWrittenInTheConsoleCodePage) {
  machine().AddDiskBytes(GptNotebook());
  struct Case {
    const char* language;
    std::string identifierLine;  // the bytes as code page 437 writes them
    std::string header;
  } const cases[] = {
      {"en-US", "identifier              {bootmgr}", "Windows Boot Manager"},
      {"de-DE", "Bezeichner              {bootmgr}", "Windows-Start-Manager"},
      {"fr-FR", "identificateur          {bootmgr}", "Gestionnaire de d\x82marrage Windows"},
      {"ru-RU", "?????????????           {bootmgr}", "????????? ???????? Windows"},
      {"zh-CN", "???                     {bootmgr}", "Windows ?????"},
  };
  const std::string batch = Host(L"C:\\Windows\\Temp\\list.cmd");
  WriteHostFile(batch, "@ECHO OFF\r\nCHCP 437\r\nbcdedit /enum all > \"C:\\Windows\\Temp\\list.txt\"\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    machine().SetLanguage(*sim::FindSimLanguage(c.language));
    sim::SimWindowsTools tools(machine().paths(), machine().disks(), machine().volumes(),
                               machine().processes());
    tools.SetLanguage(machine().language());
    tools.store();
    tools.programs().Cmd(L"/c \"C:\\Windows\\Temp\\list.cmd\"", L"C:\\Windows\\System32", true);
    const std::string listing = ReadHostFile(Host(L"C:\\Windows\\Temp\\list.txt"));
    EXPECT_NE(listing.find("\r\n" + c.header + "\r\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("\r\n" + c.identifierLine + "\r\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("description             Windows Recovery Environment\r\n"), std::string::npos);
    EXPECT_NE(listing.find("\\Recovery\\WindowsRE\\Winre.wim,{"), std::string::npos);
  }
}

// MultiByteToWideChar(CP_ACP): the language's ANSI code page decides.
TEST_F(ShippedWindowsTest, TextIsReadInTheLanguagesAnsiCodePage) {
  struct Case {
    const char* language;
    const char* bytes;
    std::wstring text;
  } const cases[] = {
      {"de-DE", "\xC4\x80", L"\u00C4\u20AC"},
      {"pl-PL", "\xA3\xB9", L"\u0141\u0105"},
      {"ru-RU", "\xC0\xFF", L"\u0410\u044F"},
      {"ja-JP",
       "\x82\xA0"
       "A\xB1",
       L"\uFFFD"
       L"A\uFF71"},  // a double-byte character, then half-width katakana
      {"zh-CN", "\xC4\xE3{", L"\uFFFD{"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    machine().SetLanguage(*sim::FindSimLanguage(c.language));
    wchar_t out[16] = {};
    const int n = machine().system().AnsiToWide(c.bytes, -1, out, 16);
    EXPECT_EQ(n, static_cast<int>(c.text.size()) + 1);
    EXPECT_EQ(std::wstring(out), c.text);
  }
}

// ---- an empty card-reader slot ------------------------------------------------

TEST_F(ShippedWindowsTest, EmptyCardReaderAsksForItsMediumUnlessTheProgramSaidNotTo) {
  machine().AddDiskBytes(GptNotebook());
  machine().AddCardReader();
  // C: is Windows', so the slot's drive is D:.
  wchar_t label[32] = {};
  EXPECT_FALSE(machine().volumes().VolumeLabel(L"D:\\", label, 32));
  EXPECT_EQ(machine().system().LastError(), 21u);
  auto boxes = machine().ui().messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, L"TAVU Recovery.exe - No Disk");
  EXPECT_EQ(boxes[0].text,
            L"There is no disk in the drive. Please insert a disk into drive \\Device\\Harddisk1\\DR1.");
  EXPECT_EQ(boxes[0].answer, 2);  // IDCANCEL

  machine().system().SetErrorMode(kSemFailCriticalErrors);
  EXPECT_FALSE(machine().volumes().VolumeLabel(L"D:\\", label, 32));
  EXPECT_EQ(machine().system().LastError(), 21u);
  EXPECT_EQ(machine().ui().messageBoxes().size(), 1u);
}

TEST_F(ShippedWindowsTest, LauncherAndPatcherSetTheErrorModeBeforeAnythingElse) {
  struct Case {
    const char* program;
    std::function<void()> run;
  } const cases[] = {
      {"launcher /DISABLE", [this] { LauncherMain(machine().startup(), nullptr, L"/DISABLE", 10); }},
      {"launcher window mode", [this] { LauncherMain(machine().startup(), nullptr, L"", 10); }},
      {"patcher", [] { patcher::FixDowngarde(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    machine().system().SetErrorMode(0);
    const auto before = static_cast<std::int64_t>(machine().faults().Count());
    c.run();
    EXPECT_NE(machine().system().errorMode() & kSemFailCriticalErrors, 0u);
    EXPECT_EQ(machine().system().errorModeSetAt(), before);
  }
}

// ---- volumes that arrive after the table write ---------------------------------

// The patcher's log lines of this run, without time stamps.
std::vector<std::string> PatcherLog(const std::string& host) {
  const std::string bytes = ReadHostFile(host);
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const char c = bytes[i];
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line.size() > 22 ? line.substr(22) : line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

constexpr std::int64_t kHiddenDataOffset = 14336ll * 512;

// EFI, reserved, Windows (C: at start), and a data volume a downgrade hid.
Bytes HiddenDataNotebook() {
  return GptBuilder(kNotebookSectors)
      .Add(kEfiSystemType, 2048, 2048)
      .Add(kMsReservedType, 4096, 2048)
      .Add(kBasicDataType, 6144, 8192)
      .Add(kBasicDataType, 14336, 4096, 0xC000000000000000ull, u"Data")
      .Build();
}

TEST_F(ShippedWindowsTest, PatcherWaitsForTheVolumeItUnhid) {
  struct Case {
    bool automount;
    std::uint32_t arrivalMs;
    bool arrives;         // within the patcher's wait
    bool patcherAssigns;  // the letter is the patcher's, not Windows'
  } const cases[] = {
      {true, 300, true, false},  {false, 300, true, true},    {true, 0, true, false},
      {false, 4900, true, true}, {true, 60000, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("automount " + std::to_string(c.automount) + ", arrival " + std::to_string(c.arrivalMs));
    TempDir dir;
    sim::SimMachine m(dir.path());
    m.Install();
    m.volumes().SetAutomount(c.automount);
    m.volumes().SetArrivalMilliseconds(c.arrivalMs);
    m.AddDiskBytes(HiddenDataNotebook());
    patcher::FixDowngarde();
    const std::vector<std::string> log = PatcherLog(m.HostPath(L"C:\\WIndows\\Temp\\TvPatchDowngrade.log"));
    EXPECT_EQ(Has(log, "[FindVolume]\tCan not find volume"), !c.arrives);
    EXPECT_EQ(m.volumes().assignments().size(), c.patcherAssigns ? 1u : 0u);
    // Bounded: the patcher waited as long as the volume took, never more than its limit.
    EXPECT_LE(m.system().elapsedMilliseconds(), 5000u);
    if (c.arrives) {
      EXPECT_GE(m.system().elapsedMilliseconds(), c.arrivalMs);
      EXPECT_EQ(m.volumes().VolumeOf(0, kHiddenDataOffset).letter, L'D');
    } else {
      EXPECT_TRUE(m.volumes().VolumeOf(0, kHiddenDataOffset).name.empty());
    }
    SetPlatform(Platform{});
  }
}

// The machine as the window starts the worker: the launcher and its tool in
// place, COM as start-up left it (the thread in the multithreaded apartment,
// and the launcher knowing so).
void ArrangeWorker(sim::SimMachine& m, const Bytes& disk) {
  ShippedWindowsTest::ResetLauncherGlobals();
  m.system().SetModulePath(kLauncherPath);
  m.ui().SetSynchronousThreads(true);
  WriteHostFile(m.HostPath(kLauncherPath), "MZ");
  WriteHostFile(m.HostPath(L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\FwMode.exe"), "MZ");
  WriteHostFile(m.HostPath(L"C:\\Windows\\System32\\keep"), "");
  WriteHostFile(m.HostPath(L"C:\\Windows\\Temp\\keep"), "");
  m.com().InitializeMultithreaded();
  m.com().InitializeSecurity(0, 3);
  g_comReady = 1;
  m.AddDiskBytes(disk);
}

// On the MBR route the letter Windows gives the recovery volume a moment after
// diskpart made it visible is the one the worker must remove.
TEST_F(ShippedWindowsTest, WorkerRemovesTheLetterOfTheRecoveryVolumeThatArrivesLate) {
  struct Case {
    bool automount;
    std::uint32_t arrivalMs;
    const char* removeLine;
    bool letterAfter;  // the recovery volume still has a letter a moment after the run
  } const cases[] = {
      {true, 300, "remove letter=E noerr", false},
      {false, 300, "remove letter= noerr", false},
      {true, 0, "remove letter=E noerr", false},
      {true, 60000, "remove letter= noerr", true},  // beyond any wait: nothing to be done
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("automount " + std::to_string(c.automount) + ", arrival " + std::to_string(c.arrivalMs));
    TempDir dir;
    sim::SimMachine m(dir.path());
    m.Install();
    m.volumes().SetAutomount(c.automount);
    m.volumes().SetArrivalMilliseconds(c.arrivalMs);
    ArrangeWorker(m, MbrNotebook());
    EXPECT_EQ(RecoveryWorker(nullptr), 0u);
    EXPECT_TRUE(m.ui().messageBoxes().empty());
    const auto runs = m.windowsTools().programs().scriptRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_NE(runs[1].script.find(std::string("\r\n") + c.removeLine + "\r\n"), std::string::npos)
        << runs[1].script;
    EXPECT_LE(m.system().elapsedMilliseconds(), 5000u);
    m.Settle();
    EXPECT_EQ(m.volumes().VolumeOf(0, 14336ll * 512).letter != 0, c.letterAfter);
    EXPECT_TRUE(m.windowsTools().programs().restart().pending);
    SetPlatform(Platform{});
  }
}

// ---- an anti-malware scanner and a running launcher -----------------------------

TEST_F(ShippedWindowsTest, WorkerArmsWhileAScannerHoldsItsFilesForAMoment) {
  const wchar_t* const temporary[] = {L"C:\\Windows\\Temp\\RcvBoot.cmd", L"C:\\Windows\\Temp\\RcvBoot.txt",
                                      L"C:\\Windows\\Temp\\RcvBootDisk.txt"};
  for (const bool gpt : {true, false}) {
    for (const std::uint32_t hold : {500u, 3000u, 15000u}) {
      SCOPED_TRACE(std::string(gpt ? "GPT" : "MBR") + ", held " + std::to_string(hold) + " ms");
      TempDir dir;
      sim::SimMachine m(dir.path());
      m.Install();
      ArrangeWorker(m, gpt ? GptNotebook() : MbrNotebook());
      m.files().SetScanner(hold);
      const std::uint32_t result = RecoveryWorker(nullptr);
      const auto boxes = m.ui().messageBoxes();
      // A cloud scan of seconds is waited out; a longer hold makes the
      // worker write its next script under a fresh name, and what stays
      // behind is its own.
      EXPECT_EQ(result, 0u);
      EXPECT_TRUE(boxes.empty());
      EXPECT_TRUE(m.windowsTools().programs().restart().pending);
      for (const wchar_t* path : temporary) {
        if (hold <= 3000) {
          EXPECT_FALSE(m.files().Exists(path)) << m.HostPath(path);
        } else if (m.files().Exists(path)) {
          EXPECT_TRUE(m.files().IsAdminsOnly(m.HostPath(path))) << m.HostPath(path);
        }
      }
      EXPECT_EQ(m.handles().OpenCount(), 0u);
      SetPlatform(Platform{});
    }
  }
}

constexpr wchar_t kNewLauncher[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe.new";
constexpr wchar_t kAsideLauncher[] =
    L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe.old";
const char kAtRestartLine[] = "[FixDowngarde]\tTAVU Recovery is running, it is replaced at the next restart";
const char kHeldNewLine[] =
    "[FixDowngarde]\tThe new TAVU Recovery is in use, it is replaced at the next restart";

std::string OldLauncher() {
  VersionContent content;
  content.tables = {{"040904b0", {{"FileVersion", "1.0.0.6"}}}};
  return BuildPe(BuildVersionBlock(content)).bytes;
}

TEST_F(ShippedWindowsTest, RunningLauncherIsReplacedAtOnceByRenamingItAside) {
  const std::string carried(6000, '\x5A');
  struct Case {
    const char* what;
    std::uint32_t scannerHold;
    bool replacedAtOnce;
    const char* logLine;  // the line that says why it waits, or null
  } cases[] = {
      {"nothing else holds a file", 0, true, nullptr},
      {"a scanner lets go of the new file within the tries", 300, true, nullptr},
      // The running launcher takes its name back; the new file waits.
      {"a scanner holds the new file for seconds", 5000, false, kAtRestartLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    sim::SimMachine m(dir.path());
    m.Install();
    m.resources().SetCarriedLauncher(std::vector<std::uint8_t>(carried.begin(), carried.end()));
    WriteHostFile(m.HostPath(kLauncherPath), OldLauncher());
    m.files().SetRunning(m.HostPath(kLauncherPath));
    m.files().SetScanner(c.scannerHold);
    patcher::FixDowngarde();
    const auto log = PatcherLog(m.HostPath(L"C:\\Windows\\Temp\\TvPatchDowngrade.log"));
    // Asked for before the rename aside, so that a cut between the two
    // still has a launcher put in place at the restart.
    ASSERT_EQ(m.files().restartMoves().size(), c.replacedAtOnce ? 2u : 1u);
    EXPECT_EQ(m.files().restartMoves()[0].from, kNewLauncher);
    EXPECT_EQ(m.files().restartMoves()[0].to, kLauncherPath);
    if (c.replacedAtOnce) {
      EXPECT_TRUE(ReadHostFile(m.HostPath(kLauncherPath)) == carried);
      EXPECT_TRUE(ReadHostFile(m.HostPath(kAsideLauncher)) == OldLauncher());
      // The old file still runs: it can only go at the restart.
      EXPECT_FALSE(m.files().Remove(kAsideLauncher));
      EXPECT_EQ(m.files().restartMoves()[1].from, kAsideLauncher);
      EXPECT_EQ(m.files().restartMoves()[1].to, L"");
      EXPECT_FALSE(m.files().Exists(kNewLauncher));
    } else {
      EXPECT_TRUE(ReadHostFile(m.HostPath(kLauncherPath)) == OldLauncher());
      EXPECT_FALSE(m.files().Exists(kAsideLauncher));
      EXPECT_EQ(m.files().restartMoves()[0].from, kNewLauncher);
      EXPECT_EQ(m.files().restartMoves()[0].to, kLauncherPath);
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), kAtRestartLine), c.logLine != nullptr ? 1 : 0);
    m.Restart();
    EXPECT_TRUE(ReadHostFile(m.HostPath(kLauncherPath)) == carried);
    EXPECT_FALSE(m.files().Exists(kAsideLauncher));
    EXPECT_FALSE(m.files().Exists(kNewLauncher));
    EXPECT_EQ(m.handles().OpenCount(), 0u);
    SetPlatform(Platform{});
  }
}

TEST_F(ShippedWindowsTest, HeldNewLauncherIsReplacedAtTheNextRestartNeverKeptUnsaid) {
  const std::string carried(6000, '\x5A');
  machine().resources().SetCarriedLauncher(std::vector<std::uint8_t>(carried.begin(), carried.end()));
  WriteHostFile(Host(kLauncherPath), OldLauncher());
  machine().files().SetScanner(3000);
  patcher::FixDowngarde();
  EXPECT_TRUE(ReadHostFile(Host(kLauncherPath)) == OldLauncher());
  ASSERT_EQ(machine().files().restartMoves().size(), 1u);
  EXPECT_EQ(machine().files().restartMoves()[0].from, kNewLauncher);
  EXPECT_EQ(machine().files().restartMoves()[0].to, kLauncherPath);
  const auto log = PatcherLog(Host(L"C:\\WIndows\\Temp\\TvPatchDowngrade.log"));
  EXPECT_EQ(std::count(log.begin(), log.end(), kHeldNewLine), 1);
  machine().Restart();
  EXPECT_TRUE(ReadHostFile(Host(kLauncherPath)) == carried);
}

// A launcher that was renamed aside earlier and still runs holds the name
// the next one would take.
void HoldTheAsideName(sim::SimMachine& m) {
  WriteHostFile(m.HostPath(kAsideLauncher), OldLauncher());
  m.files().SetRunning(m.HostPath(kAsideLauncher));
}

TEST_F(ShippedWindowsTest, RunningLauncherIsReplacedAtTheNextRestartAskedForOnce) {
  const std::string carried(6000, '\x5A');
  machine().resources().SetCarriedLauncher(std::vector<std::uint8_t>(carried.begin(), carried.end()));
  WriteHostFile(Host(kLauncherPath), OldLauncher());
  machine().files().SetRunning(Host(kLauncherPath));
  HoldTheAsideName(machine());
  machine().files().SetScanner(300);
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    patcher::FixDowngarde();
    // Found once the patcher made its folder, in whatever case.
    const std::string logHost = Host(L"C:\\WIndows\\Temp\\TvPatchDowngrade.log");
    EXPECT_TRUE(ReadHostFile(Host(kLauncherPath)) == OldLauncher());
    EXPECT_TRUE(ReadHostFile(Host(kNewLauncher)) == carried);
    // It waits there for the restart where no one else may change it.
    EXPECT_TRUE(machine().files().IsAdminsOnly(Host(kNewLauncher)));
    ASSERT_EQ(machine().files().restartMoves().size(), 1u);
    EXPECT_EQ(machine().files().restartMoves()[0].from, kNewLauncher);
    EXPECT_EQ(machine().files().restartMoves()[0].to, kLauncherPath);
    const auto log = PatcherLog(logHost);
    EXPECT_EQ(std::count(log.begin(), log.end(), kAtRestartLine), run);
  }
  machine().Restart();
  EXPECT_TRUE(ReadHostFile(Host(kLauncherPath)) == carried);
  EXPECT_FALSE(machine().files().Exists(kNewLauncher));
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

TEST_F(ShippedWindowsTest, RunningLauncherStaysWholeWhenTheRestartMoveIsRefused) {
  const std::string carried(6000, '\x5A');
  machine().resources().SetCarriedLauncher(std::vector<std::uint8_t>(carried.begin(), carried.end()));
  WriteHostFile(Host(kLauncherPath), OldLauncher());
  machine().files().SetRunning(Host(kLauncherPath));
  HoldTheAsideName(machine());
  machine().faults().FailAll(sim::SimOp::RestartRename);
  patcher::FixDowngarde();
  EXPECT_TRUE(ReadHostFile(Host(kLauncherPath)) == OldLauncher());
  EXPECT_FALSE(machine().files().Exists(kNewLauncher));
  EXPECT_TRUE(machine().files().restartMoves().empty());
  const auto log = PatcherLog(Host(L"C:\\WIndows\\Temp\\TvPatchDowngrade.log"));
  EXPECT_EQ(std::count(log.begin(), log.end(), kAtRestartLine), 0);
}

// ---- tavu-sim on the notebooks ------------------------------------------------

class ShippedWindowsCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is needed to read the JSON";
    Write("gpt.img", GptNotebook());
    Write("mbr.img", MbrNotebook());
  }
  void Write(const std::string& name, const Bytes& bytes) {
    WriteHostFile(Path(name), bytes);
  }
  std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
  std::vector<std::string> Fields(const std::string& args, const std::vector<std::string>& expressions,
                                  int status = 0) {
    CommandResult r = RunTavuSim(args);
    EXPECT_EQ(r.status, status) << args << ": " << r.err;
    return JsonFields(dir_.path(), r.out, expressions);
  }
  TempDir dir_;
};

TEST_F(ShippedWindowsCliTest, ArmAndCheckOnEveryDisplayLanguageAndBothRoutes) {
  for (const char* tag : kLanguages) {
    for (const char* image : {"gpt.img", "mbr.img"}) {
      const std::string machine = std::string("--language ") + tag + " --disk " + ShellQuote(Path(image));
      SCOPED_TRACE(machine);
      const bool gpt = std::string(image) == "gpt.img";
      EXPECT_EQ(Fields(machine + " arm --json",
                       {"d['result']", "d['route']", "d['task_registered']", "d['task_principal']",
                        "d['task_action']['arguments']", "d['restart_pending']", "d['message_boxes']"}),
                (std::vector<std::string>{"0", gpt ? "boot-manager" : "partition-table", "True", "S-1-5-18",
                                          "/CHECK", "True", ""}));
      EXPECT_EQ(Fields(machine + " check --json", {"d['verdict']", "d['recovery_entry'] is not None"}),
                (std::vector<std::string>{"ready", gpt ? "True" : "False"}));
    }
  }
}

// A slot before the system disk is passed over; one after it is asked about
// its drive on the partition-table route, without a box.
TEST_F(ShippedWindowsCliTest, EmptyCardReaderIsPassedOverWithoutABox) {
  for (const char* machine : {"--card-reader --disk gpt.img", "--card-reader --disk mbr.img",
                              "--disk mbr.img --card-reader", "--disk gpt.img --card-reader"}) {
    SCOPED_TRACE(machine);
    std::string args = machine;
    args.replace(args.find(".img") - 3, 3, Path(args.substr(args.find(".img") - 3, 3)));
    const bool first = args.rfind("--card-reader", 0) == 0;
    const bool gpt = args.find("gpt.img") != std::string::npos;
    EXPECT_EQ(Fields(args + " arm --json", {"d['result']", "d['route']", "d['message_boxes']"}),
              (std::vector<std::string>{"0", gpt ? "boot-manager" : "partition-table", ""}));
    EXPECT_EQ(Fields(args + " locate --json",
                     {"d['recovery_partition']['result']", "d['recovery_partition']['disk']"}),
              (std::vector<std::string>{"0", first ? "1" : "0"}));
    EXPECT_EQ(Fields(args + " check --json", {"d['verdict']", "d['message_boxes']"}),
              (std::vector<std::string>{"ready", ""}));
  }
}

// The notebook of the demo: the data volume the patcher unhides arrives while
// it waits, and automatic mounting letters it.
TEST_F(ShippedWindowsCliTest, VolumeThatArrivesLateIsReported) {
  EXPECT_EQ(
      Fields(
          "demo --json",
          {"[(a['disk'], a['partition'], a['after_ms'], a['letter']) for a in d['patch']['volume_arrivals']]",
           "d['patch']['letters_assigned']", "'[FindVolume]\\tCan not find volume' in d['patch']['log']",
           "[p['letter'] for p in d['patch']['disks'][0]['partitions']][3]"}),
      (std::vector<std::string>{"(0, 4, 300, 'E:')", "", "False", "E:"}));
  Write("hidden.img", HiddenDataNotebook());
  for (const char* arrival : {"300", "60000"}) {
    SCOPED_TRACE(arrival);
    CommandResult r = RunTavuSim("--arrival-ms " + std::string(arrival) + " --disk " +
                                 ShellQuote(Path("hidden.img")) + " patch");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string line = std::string("disk 0, partition 4: \\\\?\\Volume{");
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::string(arrival) == "300" ? " ms after the write, while the program waited; "
                                                         "automatic mounting gave it D:"
                                                       : " ms after the write, after the program had ended; "
                                                         "automatic mounting gave it D:"),
              std::string::npos)
        << r.out;
  }
}

// An install folder that anyone but Windows and its administrators may
// change keeps its launcher, and the log says why.
TEST_F(ShippedWindowsCliTest, LauncherKeptInAFolderOthersMayChange) {
  const struct {
    const char* what;
    std::string options;
    const char* launcher;
    const char* lastLine;
  } cases[] = {
      {"Windows' own", "", "replaced", "[FixDowngarde]\tFile version is older, copy file"},
      {"users may write", "--user-writable 'C:\\Program Files\\TAVU'", "kept",
       "[FixDowngarde]\tUsers can change the launcher's folder, do not copy"},
      {"a domain group may write",
       "--acl 'C:\\Program Files\\TAVU\\TAVU Recovery Launcher=O:BAD:(A;OICI;FA;;;BA)"
       "(A;OICI;0x1301bf;;;S-1-5-21-3623811015-3361044348-30300820-513)'",
       "kept", "[FixDowngarde]\tUsers can change the launcher's folder, do not copy"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir root;
    WriteHostFile(root.path() + "/Program Files/TAVU/TAVU Recovery Launcher/TAVU Recovery.exe",
                  OldLauncher());
    EXPECT_EQ(Fields("--root " + ShellQuote(root.path()) + " " + c.options + " --disk " +
                         ShellQuote(Path("gpt.img")) + " patch --json",
                     {"d['launcher']", "d['log'][-1]"}),
              (std::vector<std::string>{c.launcher, c.lastLine}));
  }
}

TEST_F(ShippedWindowsCliTest, ScannerAndRunningLauncherOnTheCommandLine) {
  const std::string folder = "C:\\\\Program Files\\\\TAVU\\\\TAVU Recovery Launcher\\\\";
  struct Case {
    const char* options;
    std::vector<std::string> expected;
  } cases[] = {
      {" --scanner-hold-ms 400 --launcher-running",
       {"replaced",
        "('" + folder + "TAVU Recovery.exe.new', '" + folder + "TAVU Recovery.exe')|('" + folder +
            "TAVU Recovery.exe.old', None)",
        "[FixDowngarde]\tFile version is older, copy file", ""}},
      {" --scanner-hold-ms 3000",
       {"at restart", "('" + folder + "TAVU Recovery.exe.new', '" + folder + "TAVU Recovery.exe')",
        kHeldNewLine, ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    TempDir root;
    WriteHostFile(root.path() + "/Program Files/TAVU/TAVU Recovery Launcher/TAVU Recovery.exe",
                  OldLauncher());
    EXPECT_EQ(Fields("--root " + ShellQuote(root.path()) + c.options + " --disk " +
                         ShellQuote(Path("gpt.img")) + " patch --json",
                     {"d['launcher']", "[(p['from'], p['to']) for p in d['pending_renames']]", "d['log'][-1]",
                      "d['message_boxes']"}),
              c.expected);
  }
  TempDir root;
  WriteHostFile(root.path() + "/Program Files/TAVU/TAVU Recovery Launcher/TAVU Recovery.exe", OldLauncher());
  const std::string machine =
      "--root " + ShellQuote(root.path()) + " --scanner-hold-ms 400 --launcher-running";
  CommandResult r = RunTavuSim(machine + " --disk " + ShellQuote(Path("gpt.img")) + " patch");
  EXPECT_NE(r.out.find("Installed launcher: replaced\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("TAVU Recovery.exe.old -> (deleted)\n"), std::string::npos) << r.out;
  EXPECT_EQ(Fields(machine + " --disk " + ShellQuote(Path("mbr.img")) + " arm --json",
                   {"d['result']", "d['temp_files_left']", "d['message_boxes']"}),
            (std::vector<std::string>{"0", "", ""}));
}

}  // namespace
}  // namespace tavu::test::shipped_windows
