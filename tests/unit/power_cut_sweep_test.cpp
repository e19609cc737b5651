// A power cut after every persistent write of an arming and of its undo: the
// notebook must start something (Windows or the recovery) under either
// reading of the boot manager's menu, and the next start of Windows must put
// it back exactly as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "check/recovery_check.h"
#include "common/error_mode.h"
#include "common/next_start.h"
#include "launcher/startup/globals.h"
#include "sim/core/machine.h"
#include "tests/fixtures/launcher_test.h"
#include "tests/fixtures/notebooks.h"
#include "tests/fixtures/temp_dir.h"
#include "tools/tavu-sim/command_runs.h"

namespace tavu::test {
namespace {

using SharedBytes = std::shared_ptr<const Bytes>;

constexpr wchar_t kJournal[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.journal";
const wchar_t kNoRestart[] = L"The computer did not restart. Recovery process is aborted; nothing was changed.";

struct Scenario {
  const char* name;
  SharedBytes disk;
  bool fwMode = true;
  // Changes the machine's boot store before the arming, through bcdedit.
  std::vector<std::wstring> storeCommands;
};

// One notebook as its owner has it: the launcher installed, its window about
// to start the worker.
struct Notebook {
  TempDir dir;
  std::unique_ptr<sim::SimMachine> machine;

  explicit Notebook(const Scenario& s) : machine(std::make_unique<sim::SimMachine>(dir.path())) {
    LauncherTest::ArrangeWindowStart(*machine, dir.path());
    if (!s.fwMode) std::filesystem::remove(dir.path() + "/Program Files/TAVU/TAVU Recovery Launcher/FwMode.exe");
    machine->AddSharedDisk(s.disk);
    machine->Install();
    tool::InstallLauncherProgram(*machine);
    for (const std::wstring& command : s.storeCommands) {
      std::wstring output;
      EXPECT_EQ(machine->windowsTools().store().Run(command, &output), 0) << sim::Narrow(output);
    }
  }
  ~Notebook() {
    machine->ui().JoinThreads();
    SetPlatform(Platform{});
  }
  sim::SimMachine& m() { return *machine; }

  // What "as it was" compares: the first disk's bytes and the boot store.
  std::string Table() {
    sim::DiskImage* image = machine->disks().Image(0);
    std::string bytes(1024 * 1024, '\0');
    EXPECT_TRUE(image->Read(0, bytes.data(), bytes.size()));
    return bytes;
  }
  std::wstring Store() { return machine->windowsTools().store().Listing(); }

  void Arm(std::optional<std::uint64_t> cut) {
    machine->faults().CutPowerAfter(cut);
    (void)tool::Arm(*machine);
    machine->faults().PowerOn();
  }
  void Logon(std::optional<std::uint64_t> cut) {
    machine->faults().CutPowerAfter(cut);
    (void)tool::Logon(*machine);
  }
  std::size_t Writes() { return machine->faults().persistentWrites().size(); }

  void ExpectStarts(const std::string& when) {
    for (MenuRule rule : {MenuRule::First, MenuRule::Default}) {
      const NextStartReport boot = tool::BootOf(*machine, rule);
      EXPECT_NE(boot.next, NextStart::None) << when << ", menu rule " << static_cast<int>(rule) << ": " << boot.why;
    }
  }
  // The support check names the state as the boot rules do: with the
  // firmware mode off, which it cannot read; armed whenever a journal is there.
  void ExpectCheckAgrees(const std::string& when) {
    const bool mode = machine->processes().firmwareMode();
    machine->processes().SetFirmwareMode(false);
    for (MenuRule rule : {MenuRule::First, MenuRule::Default}) {
      const NextStart boot = tool::BootOf(*machine, rule).next;
      LauncherTest::ResetLauncherGlobals();
      FailCriticalErrorsQuietly();
      machine->com().NewProcess();
      machine->com().InitializeMultithreaded();
      machine->com().InitializeSecurity(0, 3);
      g_comReady = 1;
      auto facts = std::make_unique<check::CheckFacts>();
      check::CheckOptions options;
      options.menuRule = rule;
      check::RunCheck(facts.get(), options);
      EXPECT_EQ(facts->nextStart.next, boot) << when << ", menu rule " << static_cast<int>(rule);
      if (machine->files().Exists(kJournal)) {
        EXPECT_TRUE(facts->armedNow) << when;
      }
    }
    machine->processes().SetFirmwareMode(mode);
  }
  void ExpectAsBefore(const std::string& table, const std::wstring& store, const std::string& when) {
    EXPECT_TRUE(Table() == table) << when << ": the partition table differs";
    EXPECT_EQ(sim::Narrow(Store()), sim::Narrow(store)) << when;
    for (MenuRule rule : {MenuRule::First, MenuRule::Default}) {
      EXPECT_EQ(tool::BootOf(*machine, rule).next, NextStart::Windows) << when;
    }
    EXPECT_FALSE(machine->files().Exists(kJournal)) << when;
    EXPECT_FALSE(machine->tasks().Find(L"TAVU F9 Recovery").has_value()) << when;
    EXPECT_FALSE(machine->processes().firmwareMode()) << when;
  }
};

SharedBytes Share(Bytes bytes) { return std::make_shared<const Bytes>(std::move(bytes)); }

// An MBR notebook whose boot manager lies on a small system partition of its
// own, the active one, ahead of Windows.
Bytes MbrWithSystemPartition() {
  Fat32Params recovery;
  recovery.rootEntries = {{DirEntry{"RECOVERY   ", 0x08}}};
  Bytes disk = MbrBuilder(kNotebookSectors)
                   .Primary(0, 0x07, 2048, 2048, true)
                   .Primary(1, 0x07, 4096, 8192)
                   .Primary(2, 0x1C, 14336, 8192)
                   .Build();
  Place(disk, 2048ull * 512, NotebookNtfs(u"System"));
  Place(disk, 4096ull * 512, NotebookNtfs(u"Windows"));
  Place(disk, 14336ull * 512, BuildFat32(recovery).bytes);
  return disk;
}

std::vector<Scenario> Scenarios() {
  static const SharedBytes gpt = Share(GptNotebook());
  static const SharedBytes mbr = Share(MbrNotebook());
  static const SharedBytes mbrSystem = Share(MbrWithSystemPartition());
  return {
      {"GPT notebook", gpt, true, {}},
      {"GPT notebook with a menu of two and an F10 action",
       gpt,
       true,
       {L"/displayorder {current} {memdiag}", L"/set {bootmgr} customactions 0x1000044000001 0x54000001",
        L"/set {bootmgr} custom:54000001 {memdiag}"}},
      {"GPT notebook without FwMode.exe", gpt, false, {}},
      {"MBR notebook", mbr, true, {}},
      {"MBR notebook with an active system partition", mbrSystem, true, {}},
  };
}

// Every prefix of the arming's writes, then the next start of Windows.
TEST(PowerCutSweepTest, EveryPrefixOfAnArmingStartsAndTheNextWindowsPutsItBack) {
  for (const Scenario& s : Scenarios()) {
    std::size_t writes = 0;
    {
      Notebook whole(s);
      whole.Arm(std::nullopt);
      writes = whole.Writes();
      // The task, the journal, at least one change, the firmware mode (with
      // the tool): nothing is changed before the undo is in place.
      ASSERT_GE(writes, s.fwMode ? 4u : 3u) << s.name;
      const auto list = whole.m().faults().persistentWrites();
      EXPECT_EQ(list[0], "task: delete") << s.name;
      EXPECT_EQ(list[1], "task: register") << s.name;
      EXPECT_EQ(list[2], "journal: written") << s.name;
      if (s.fwMode) {
        EXPECT_EQ(list.back(), "firmware mode: on") << s.name;
      }
    }
    for (std::size_t n = 0; n <= writes; ++n) {
      const std::string when = std::string(s.name) + ", power cut after write " + std::to_string(n);
      Notebook nb(s);
      const std::string table = nb.Table();
      const std::wstring store = nb.Store();
      nb.Arm(n);
      nb.ExpectStarts(when);
      nb.ExpectCheckAgrees(when);
      nb.Logon(std::nullopt);
      nb.ExpectAsBefore(table, store, when + ", after the next logon");
    }
  }
}

// Every prefix of the undo that the next start of Windows runs, after a whole
// arming: the machine starts, and the start after that finishes the undo.
TEST(PowerCutSweepTest, EveryPrefixOfTheUndoStartsAndTheNextWindowsFinishesIt) {
  for (const Scenario& s : Scenarios()) {
    if (!s.storeCommands.empty() || !s.fwMode) continue;  // the arming sweep covers those
    std::size_t writes = 0;
    {
      Notebook whole(s);
      whole.Arm(std::nullopt);
      whole.Logon(std::nullopt);
      writes = whole.Writes();
      ASSERT_GE(writes, 4u) << s.name;
      const auto list = whole.m().faults().persistentWrites();
      EXPECT_EQ(list.front(), "firmware mode: off") << s.name;
      EXPECT_EQ(list.back(), "task: delete") << s.name;
    }
    for (std::size_t n = 0; n <= writes; ++n) {
      const std::string when = std::string(s.name) + ", undo cut after write " + std::to_string(n);
      Notebook nb(s);
      const std::string table = nb.Table();
      const std::wstring store = nb.Store();
      nb.Arm(std::nullopt);
      nb.Logon(n);
      nb.ExpectStarts(when);
      nb.Logon(std::nullopt);
      nb.ExpectAsBefore(table, store, when + ", after the next logon");
    }
  }
}

// A restart that was called off, and an owner who changed their mind: the
// launcher itself puts the machine back, with no restart needed.
TEST(PowerCutSweepTest, CancelledRestartAndDisableLeaveTheMachineAsItWas) {
  for (const Scenario& s : Scenarios()) {
    {
      Notebook nb(s);
      const std::string table = nb.Table();
      const std::wstring store = nb.Store();
      nb.m().SetRestartCancelled(true);
      nb.Arm(std::nullopt);
      const auto boxes = nb.m().ui().messageBoxes();
      ASSERT_EQ(boxes.size(), 1u) << s.name;
      EXPECT_EQ(boxes[0].text, kNoRestart) << s.name;
      EXPECT_FALSE(nb.m().windowsTools().programs().restart().pending) << s.name;
      nb.ExpectAsBefore(table, store, std::string(s.name) + ", restart cancelled");
    }
    {
      Notebook nb(s);
      const std::string table = nb.Table();
      const std::wstring store = nb.Store();
      nb.Arm(std::nullopt);
      EXPECT_TRUE(nb.m().files().Exists(kJournal)) << s.name;
      nb.m().faults().CutPowerAfter(std::nullopt);
      EXPECT_EQ(tool::RunLauncher(nb.m(), kLauncherPath, L"/DISABLE").result, 0) << s.name;
      nb.ExpectAsBefore(table, store, std::string(s.name) + ", /DISABLE");
    }
  }
}

}  // namespace
}  // namespace tavu::test
