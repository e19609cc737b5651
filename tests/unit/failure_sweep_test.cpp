// Every platform operation of a whole flow made to fail, one at a time: the
// flow is run once to count its operations n, then n more times on a fresh
// machine, failing operation k = 1..n. Whatever fails, the machine must be left
// in a state the owner can live with: every handle given back through the
// right call, disks with valid tables that differ from before only in
// attribute fields, the installed launcher either old or new, and the log
// either as it was or with whole lines appended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "check/recovery_check.h"
#include "launcher/arming/disarm.h"
#include "launcher/arming/recovery_worker.h"
#include "launcher/startup/launcher_main.h"
#include "patcher/fix_downgrade.h"
#include "sim/programs/windows_tools.h"
#include "tests/fixtures/disk_builders.h"
#include "tests/fixtures/launcher_test.h"
#include "tests/fixtures/machine_snapshot.h"
#include "tests/fixtures/notebooks.h"
#include "tests/fixtures/pe_builder.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/version_block.h"

namespace tavu::test {
namespace {

constexpr std::uint64_t kPatcherDiskSectors = 6 * kMiB / kSector;
constexpr std::uint64_t kHiddenNoLetter = 0xC000000000000000ull;
const char kLauncherRel[] = "/Program Files/TAVU/TAVU Recovery Launcher";
const char kPatcherLogRel[] = "/Windows/Temp/TvPatchDowngrade.log";
const char kTempRel[] = "/Windows/Temp";
const char kLauncherLogRel[] = "/Windows/Temp/TAVU F9 Recovery.log";

// A log left by an earlier run: each run appends to it.
std::string EarlierLauncherLog() { return "\xFF\xFE" + Utf16("[2014/03/01 08:00:00]\tearlier run\r\n"); }
void* const kInstance = reinterpret_cast<void*>(0x400000);
const wchar_t kGateText[] =
    L"Recovery partition cannot be found! Recovery process is aborted. Please contact TAVU Service Center "
    L"for further assistance.";

// One run of a flow on its own machine and host folder.
struct FlowRun {
  TempDir dir;
  std::unique_ptr<sim::SimMachine> machine;
  FlowRun() : machine(std::make_unique<sim::SimMachine>(dir.path())) { machine->Install(); }
};

struct Flow {
  const char* name;
  std::function<void(FlowRun&)> arrange;
  std::function<void(FlowRun&)> act;
  // Checks one finished run; `what` names the run in failure messages.
  std::function<void(FlowRun&, const std::string& what)> check;
};

// The name of the kind of operation made to fail in this run ("none" when
// none was), from the same list that declares the kinds.
static_assert(sizeof(sim::kSimOpNames) / sizeof(sim::kSimOpNames[0]) ==
              static_cast<std::size_t>(sim::SimOp::FileAttributes) + 1);
const char* InjectedOpName(sim::SimMachine& m) {
  sim::SimOp op = sim::SimOp::FileOpen;
  return m.faults().Injected(&op) ? sim::SimOpName(op) : "none";
}

// Whether the operation made to fail in this run was one of this kind.
bool InjectedWas(sim::SimMachine& m, sim::SimOp kind) {
  sim::SimOp op = sim::SimOp::FileOpen;
  return m.faults().Injected(&op) && op == kind;
}

// The operations a fault-free run makes, then one run per operation failing it.
// Returns n.
std::uint64_t Sweep(const Flow& flow) {
  std::uint64_t n = 0;
  for (std::uint64_t k = 0; k == 0 || k <= n; ++k) {
    FlowRun run;
    flow.arrange(run);
    const std::uint64_t before = run.machine->faults().Count();
    run.machine->faults().FailNth(k);
    flow.act(run);
    std::string what = std::string(flow.name) + ", operation " + std::to_string(k) + " failing";
    if (k == 0) {
      n = run.machine->faults().Count() - before;
    } else {
      EXPECT_TRUE(run.machine->faults().Injected(nullptr)) << what << ": no operation was failed";
      what += std::string(" (") + InjectedOpName(*run.machine) + ")";
    }
    flow.check(run, what);
    SetPlatform(Platform{});
    if (::testing::Test::HasFatalFailure()) break;
  }
  std::cout << "[ sweep    ] " << flow.name << ": n = " << n << ", " << n + 1 << " runs\n";
  ::testing::Test::RecordProperty(std::string("operations ") + flow.name, static_cast<int>(n));
  return n;
}

// ---- GPT checks, written from the on-disk format ---------------------------

struct GptCheck {
  bool valid = true;
  std::string problem;
};

std::uint32_t HeaderCrc(const Bytes& disk, std::size_t at) {
  const std::uint32_t size = GetLe32(disk, at + 12);
  if (size < 92 || size > kSector) return 0;
  Bytes header(disk.begin() + static_cast<std::ptrdiff_t>(at),
               disk.begin() + static_cast<std::ptrdiff_t>(at + size));
  PutLe32(header, 16, 0);
  return Crc32(header.data(), header.size());
}

// Both headers have their signature and CRCs right, and both entry arrays
// hold the same entries.
GptCheck CheckGpt(const Bytes& disk) {
  const std::uint64_t sectors = disk.size() / kSector;
  const std::uint64_t headers[] = {1, sectors - 1};
  std::vector<Bytes> arrays;
  for (std::uint64_t lba : headers) {
    const std::size_t at = static_cast<std::size_t>(lba * kSector);
    if (std::memcmp(&disk[at], "EFI PART", 8) != 0)
      return {false, "no signature at LBA " + std::to_string(lba)};
    if (GetLe32(disk, at + 16) != HeaderCrc(disk, at))
      return {false, "header CRC at LBA " + std::to_string(lba)};
    const std::uint64_t entries = GetLe64(disk, at + 72);
    const std::uint64_t bytes = std::uint64_t{GetLe32(disk, at + 80)} * GetLe32(disk, at + 84);
    if (bytes == 0 || entries * kSector + bytes > disk.size()) return {false, "entry array out of the disk"};
    const auto from = disk.begin() + static_cast<std::ptrdiff_t>(entries * kSector);
    Bytes array(from, from + static_cast<std::ptrdiff_t>(bytes));
    if (GetLe32(disk, at + 88) != Crc32(array.data(), array.size())) {
      return {false, "entry array CRC of header at LBA " + std::to_string(lba)};
    }
    arrays.push_back(std::move(array));
  }
  if (arrays[0] != arrays[1]) return {false, "primary and backup entries differ"};
  return {};
}

// Whether a byte may change when only attributes change: the attribute field
// of an entry (bytes 48..55) in either array, and the CRC fields of either
// header (bytes 16..19 and 88..91).
bool MayChange(std::uint64_t offset, std::uint64_t sectors) {
  const std::uint64_t lba = offset / kSector;
  const std::uint64_t inSector = offset % kSector;
  if (lba == 1 || lba == sectors - 1)
    return (inSector >= 16 && inSector < 20) || (inSector >= 88 && inSector < 92);
  const std::uint64_t arrays[] = {GptBuilder::kPrimaryEntriesLba, sectors - 1 - 32};
  for (std::uint64_t first : arrays) {
    if (lba >= first && lba < first + 32) {
      const std::uint64_t inEntry = (offset - first * kSector) % GptBuilder::kEntrySize;
      return inEntry >= 48 && inEntry < 56;
    }
  }
  return false;
}

std::string OnlyAttributesChanged(const Bytes& before, const Bytes& after) {
  if (before.size() != after.size()) return "size changed";
  const std::uint64_t sectors = before.size() / kSector;
  // Sector by sector first: the sweep compares whole disks hundreds of times.
  for (std::size_t at = 0; at < before.size(); at += kSector) {
    if (std::memcmp(&before[at], &after[at], kSector) == 0) continue;
    for (std::size_t i = at; i < at + kSector; ++i) {
      if (before[i] != after[i] && !MayChange(i, sectors)) return "byte " + std::to_string(i) + " changed";
    }
  }
  return "";
}

// A disk's bytes as every run of a sweep starts from them: shared, never copied.
using SharedBytes = std::shared_ptr<const Bytes>;
SharedBytes Share(Bytes bytes) { return std::make_shared<const Bytes>(std::move(bytes)); }

// Disk n's bytes now, in a buffer kept for disk n until the next call: a new
// buffer of many MiB for each of a sweep's hundreds of checks is most of its
// time under the sanitizers.
const Bytes& DiskNow(sim::SimMachine& m, int n) {
  static std::vector<Bytes> buffers;
  if (buffers.size() <= static_cast<std::size_t>(n)) buffers.resize(static_cast<std::size_t>(n) + 1);
  Bytes& bytes = buffers[static_cast<std::size_t>(n)];
  sim::DiskImage* image = m.disks().Image(n);
  bytes.resize(image->size());
  EXPECT_TRUE(image->Read(0, bytes.data(), bytes.size()));
  return bytes;
}

// ---- the log ---------------------------------------------------------------

// "" when `after` is `before` with zero or more whole UTF-16LE lines, each
// "[yyyy/mm/dd hh:mm:ss]\t...\r\n", appended (or, for a log that did not
// exist, a new file that is FF FE and such lines).
std::string WholeLinesAppended(const std::string& before, const std::string& after, bool existed) {
  std::size_t start = 0;
  if (existed) {
    if (after.compare(0, before.size(), before) != 0) return "the earlier log was changed";
    start = before.size();
  } else if (!after.empty()) {
    if (after.compare(0, 2, "\xFF\xFE") != 0) return "new log without FF FE";
    start = 2;
  }
  if ((after.size() - start) % 2 != 0) return "odd number of bytes appended";
  std::string text;
  for (std::size_t i = start; i < after.size(); i += 2) {
    if (after[i + 1] != '\0') return "non-ASCII unit appended";
    text.push_back(after[i]);
  }
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) return "a line without its end: \"" + text.substr(at) + "\"";
    const std::string line = text.substr(at, end - at);
    if (line.size() < 22 || line[0] != '[' || line[20] != ']' || line[21] != '\t') {
      return "a line without its time stamp: \"" + line + "\"";
    }
    at = end + 2;
  }
  return "";
}

std::vector<std::string> FolderNames(const std::string& hostDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(hostDir, ec))
    names.push_back(e.path().filename().string());
  return names;
}

// ---- the patcher -----------------------------------------------------------

// EFI, reserved, Windows, then two basic-data partitions a downgrade hid.
Bytes HiddenDataDisk(std::uint64_t dataStart) {
  return GptBuilder(kPatcherDiskSectors)
      .Add(kEfiSystemType, 2048, 1024, 0, u"EFI system partition")
      .Add(kMsReservedType, 3072, 1024, 0, u"Microsoft reserved partition")
      .Add(kBasicDataType, 4096, 2048, 0, u"Basic data partition")
      .Add(kBasicDataType, dataStart, 1024, kHiddenNoLetter, u"Data")
      .Add(kBasicDataType, dataStart + 1024, 1024, 0x8000000000000001ull, u"Tools")
      .Build();
}

struct PatcherState {
  // How long the volumes the patcher unhides take to arrive.
  std::uint32_t arrivalMs = 300;
  // The installed launcher is running (the logon task started it).
  bool launcherRunning = false;
  std::vector<SharedBytes> disks;
  std::string oldLauncher;
  std::string carried;
  std::string log;
};

Flow PatcherFlow(std::shared_ptr<PatcherState> s) {
  s->disks = {Share(HiddenDataDisk(6144)), Share(HiddenDataDisk(7168))};
  VersionContent content;
  content.tables = {{"040904b0", {{"FileVersion", "1.0.0.6"}}}};
  s->oldLauncher = BuildPe(BuildVersionBlock(content)).bytes;
  s->carried.assign(6000, '\x5A');
  // A log left by an earlier run: this run appends to it.
  s->log = Utf16("[2014/03/01 08:00:00]\t[FixDowngarde]\tDisk: 0\r\n");
  s->log.insert(0, "\xFF\xFE");
  return Flow{
      "patcher, two GPT disks and an older launcher",
      [s](FlowRun& r) {
        r.machine->volumes().SetArrivalMilliseconds(s->arrivalMs);
        for (const SharedBytes& d : s->disks) r.machine->AddSharedDisk(d);
        r.machine->resources().SetCarriedLauncher(
            std::vector<std::uint8_t>(s->carried.begin(), s->carried.end()));
        WriteHostFile(r.dir.path() + kLauncherRel + "/TAVU Recovery.exe", s->oldLauncher);
        WriteHostFile(r.dir.path() + kPatcherLogRel, s->log);
        if (s->launcherRunning)
          r.machine->files().SetRunning(r.dir.path() + kLauncherRel + "/TAVU Recovery.exe");
      },
      [](FlowRun&) { patcher::FixDowngarde(); },
      [s](FlowRun& r, const std::string& what) {
        sim::SimMachine& m = *r.machine;
        EXPECT_EQ(m.handles().OpenCount(), 0u) << what;
        EXPECT_EQ(m.handles().Misuses(), 0u) << what;
        for (int d = 0; d < static_cast<int>(s->disks.size()); ++d) {
          const Bytes& now = DiskNow(m, d);
          const GptCheck gpt = CheckGpt(now);
          EXPECT_TRUE(gpt.valid) << what << ": disk " << d << ": " << gpt.problem;
          EXPECT_EQ(OnlyAttributesChanged(*s->disks[static_cast<std::size_t>(d)], now), "")
              << what << ": disk " << d;
        }
        const std::string launcher = ReadHostFile(r.dir.path() + kLauncherRel + "/TAVU Recovery.exe");
        EXPECT_TRUE(launcher == s->oldLauncher || launcher == s->carried)
            << what << ": installed launcher of " << launcher.size() << " bytes is neither old nor new";
        // Beside a running launcher the whole new one may wait for the
        // restart, but only when Windows is to move it into place then.
        const auto& moves = m.files().restartMoves();
        if (s->launcherRunning && !moves.empty()) {
          // The new one's move at restart comes first; the old one's deletion
          // follows once it was renamed aside and the new one moved in.
          EXPECT_LE(moves.size(), 2u) << what;
          const std::string fresh = r.dir.path() + kLauncherRel + "/TAVU Recovery.exe.new";
          if (std::filesystem::exists(fresh)) {
            EXPECT_TRUE(ReadHostFile(fresh) == s->carried) << what;
          } else {
            // Renamed aside: the new one runs from now on, the old one goes.
            EXPECT_TRUE(launcher == s->carried) << what;
          }
          m.Restart();
          EXPECT_TRUE(ReadHostFile(r.dir.path() + kLauncherRel + "/TAVU Recovery.exe") == s->carried) << what;
        } else {
          EXPECT_TRUE(moves.empty()) << what;
        }
        // An old launcher whose deletion Windows refused to note stays beside.
        std::vector<std::string> names = FolderNames(r.dir.path() + kLauncherRel);
        if (InjectedWas(m, sim::SimOp::RestartRename)) std::erase(names, "TAVU Recovery.exe.old");
        EXPECT_EQ(names, std::vector<std::string>{"TAVU Recovery.exe"}) << what;
        EXPECT_EQ(WholeLinesAppended(s->log, ReadHostFile(r.dir.path() + kPatcherLogRel), true), "") << what;
        EXPECT_TRUE(m.ui().messageBoxes().empty()) << what;
      }};
}

TEST(FailureSweepTest, PatcherTwoGptDisksAndOlderLauncher) {
  auto state = std::make_shared<PatcherState>();
  const Flow flow = PatcherFlow(state);
  // The fault-free run does the whole job, so the sweep covers it all.
  {
    FlowRun r;
    flow.arrange(r);
    flow.act(r);
    EXPECT_EQ(ReadHostFile(r.dir.path() + kLauncherRel + "/TAVU Recovery.exe"), state->carried);
    for (int d = 0; d < 2; ++d) {
      EXPECT_NE(DiskNow(*r.machine, d), *state->disks[static_cast<std::size_t>(d)])
          << "disk " << d << " untouched";
    }
    SetPlatform(Platform{});
  }
  EXPECT_GT(Sweep(flow), 20u);
}

// Volumes that arrive only after the patcher's wait has timed out: each wait
// ends at its limit and the pass goes on, whatever else fails on the way.
TEST(FailureSweepTest, PatcherWhoseVolumesArriveAfterItsWait) {
  auto state = std::make_shared<PatcherState>();
  Flow flow = PatcherFlow(state);
  flow.name = "patcher, one GPT disk whose volume arrives too late";
  state->arrivalMs = 60000;
  state->disks.resize(1);
  EXPECT_GT(Sweep(flow), 100u);
}

// The installed launcher is running: its replacement is left for the restart,
// or, when that cannot be asked for, the old one stays and nothing is left.
TEST(FailureSweepTest, PatcherBesideARunningLauncher) {
  auto state = std::make_shared<PatcherState>();
  Flow flow = PatcherFlow(state);
  flow.name = "patcher, running launcher";
  state->launcherRunning = true;
  state->disks.resize(1);
  EXPECT_GT(Sweep(flow), 20u);
}

// ---- the launcher's tool modes ---------------------------------------------

class LauncherSweepTest : public LauncherTest {
 public:
  using LauncherTest::ResetLauncherGlobals;
};

Flow ToolModeFlow(const char* name, const wchar_t* line, bool taskBefore) {
  return Flow{
      name,
      [taskBefore](FlowRun& r) {
        LauncherSweepTest::ResetLauncherGlobals();
        r.machine->system().SetModulePath(kLauncherPath);
        r.machine->ui().SetSynchronousThreads(true);
        WriteHostFile(r.dir.path() + kLauncherRel + "/TAVU Recovery.exe", "MZ");
        WriteHostFile(r.dir.path() + kLauncherRel + "/FwMode.exe", "MZ");
        WriteHostFile(r.dir.path() + kLauncherLogRel, EarlierLauncherLog());
        if (taskBefore) {
          sim::SimTask old;
          old.name = L"TAVU F9 Recovery";
          r.machine->tasks().Put(old);
        }
      },
      [line](FlowRun& r) {
        const int exit = LauncherMain(r.machine->startup(), kInstance, line, 10);
        const auto boxes = r.machine->ui().messageBoxes();
        // Refusal is the one way to end with 1, and it says so in its box.
        EXPECT_TRUE(exit == 0 || exit == 1) << "exit " << exit;
        EXPECT_EQ(exit == 1, boxes.size() == 1u) << "exit " << exit << " with " << boxes.size() << " boxes";
      },
      [](FlowRun& r, const std::string& what) {
        sim::SimMachine& m = *r.machine;
        // The instance mutex is held until the process ends; nothing else is.
        const std::size_t held = m.startup().MutexExists(L"TavuRecovery\\TAVU F9 Recovery") ? 1u : 0u;
        EXPECT_EQ(m.handles().OpenCount(), held) << what;
        EXPECT_EQ(m.handles().Misuses(), 0u) << what;
        for (const auto& box : m.ui().messageBoxes()) {
          EXPECT_EQ(box.text, kGateText) << what;
          EXPECT_EQ(box.caption, L"Recovery Aborted") << what;
        }
        EXPECT_TRUE(m.startup().windowModeCalls().empty()) << what;
        EXPECT_TRUE(m.firmware().opens().empty()) << what;
        EXPECT_LE(m.processes().launches().size(), 1u) << what;
        EXPECT_EQ(FolderNames(r.dir.path() + kLauncherRel).size(), 2u) << what;
        EXPECT_EQ(
            WholeLinesAppended(EarlierLauncherLog(), ReadHostFile(r.dir.path() + kLauncherLogRel), true), "")
            << what;
      }};
}

TEST_F(LauncherSweepTest, EnableAndDisable) {
  const Flow flows[] = {
      ToolModeFlow("/ENABLE", L"/ENABLE", false),
      ToolModeFlow("/ENABLE over an older task", L"/ENABLE", true),
      ToolModeFlow("/DISABLE", L"/DISABLE", true),
  };
  for (const Flow& f : flows) EXPECT_GT(Sweep(f), 5u) << f.name;
}

// ---- the recovery worker ----------------------------------------------------

Handle const kWindow = reinterpret_cast<Handle>(static_cast<std::uintptr_t>(0x30142));
const wchar_t kBitLocker[] = L"Please disable BitLocker and try again.";
const wchar_t kNoTask[] =
    L"The task that undoes the recovery preparation cannot be registered. Recovery process is aborted; "
    L"nothing was changed. Please contact TAVU Service Center for further assistance.";
const wchar_t kNoRestart[] =
    L"The computer did not restart. Recovery process is aborted; nothing was changed.";
const char kJournalName[] = "TAVU Recovery.journal";

// The boot-store elements the arming sets, each with its values as listed.
using StoreElements = std::vector<std::vector<std::wstring>>;
StoreElements ArmedElements(sim::SimMachine& m) {
  const std::pair<const wchar_t*, const wchar_t*> elements[] = {
      {L"{bootmgr}", L"displayorder"},    {L"{bootmgr}", L"customactions"},
      {L"{bootmgr}", L"custom:5400000f"}, {L"{bootmgr}", L"extendedinput"},
      {L"{current}", L"isolatedcontext"},
  };
  StoreElements values;
  for (const auto& [entry, element] : elements)
    values.push_back(m.windowsTools().store().Values(entry, element));
  return values;
}

struct WorkerState {
  std::uint32_t arrivalMs = 300;
  SharedBytes disk;
  bool gpt = true;
  std::string log;
  std::uint32_t exit = 99;
  StoreElements storeBefore;
};

// The machine as the launcher has it when its window starts the worker: the
// launcher and its tool installed, an earlier log, COM as start-up left it.
void ArrangeWindowStart(FlowRun& r, const std::string& log, const SharedBytes& disk) {
  LauncherSweepTest::ArrangeWindowStart(*r.machine, r.dir.path());
  WriteHostFile(r.dir.path() + kLauncherLogRel, log);
  r.machine->AddSharedDisk(disk);
}

Flow WorkerFlow(const char* name, std::shared_ptr<WorkerState> s) {
  s->log = EarlierLauncherLog();
  return Flow{
      name,
      [s](FlowRun& r) {
        r.machine->volumes().SetArrivalMilliseconds(s->arrivalMs);
        ArrangeWindowStart(r, s->log, s->disk);
        g_mainWindow = kWindow;
        g_logSwitch = 1;
        s->storeBefore = ArmedElements(*r.machine);
      },
      [s](FlowRun&) { s->exit = RecoveryWorker(nullptr); },
      [s](FlowRun& r, const std::string& what) {
        sim::SimMachine& m = *r.machine;
        EXPECT_EQ(m.handles().OpenCount(), 0u) << what;
        EXPECT_EQ(m.handles().Misuses(), 0u) << what;
        // A temporary file stays only when its own removal failed. It is
        // harmless: it was made for administrators only, and the next run
        // removes it before it makes its own.
        const auto temp = FolderNames(r.dir.path() + kTempRel);
        if (InjectedWas(m, sim::SimOp::FileRemove)) {
          EXPECT_LE(temp.size(), 2u) << what;
        } else {
          EXPECT_EQ(temp, std::vector<std::string>{"TAVU F9 Recovery.log"})
              << what << ": a temporary file was left";
        }
        const auto boxes = m.ui().messageBoxes();
        EXPECT_LE(boxes.size(), 1u) << what;
        for (const auto& box : boxes) {
          EXPECT_TRUE(box.text == kGateText || box.text == kBitLocker || box.text == kNoTask ||
                      box.text == kNoRestart)
              << what << ": " << sim::Narrow(box.text);
          EXPECT_EQ(box.caption, L"Recovery Aborted") << what;
          EXPECT_EQ(box.owner, kWindow) << what;
        }
        const bool restart = m.windowsTools().programs().restart().pending;
        EXPECT_TRUE(s->exit == 0 || s->exit == 1) << what << ": exit " << s->exit;
        // A box means the worker gave up: no restart, and the window is told to close.
        if (!boxes.empty()) {
          EXPECT_EQ(s->exit, 1u) << what;
          EXPECT_FALSE(restart) << what;
          EXPECT_EQ(m.ui().destroyPosts().size(), 1u) << what;
        }
        if (s->exit == 1) {
          EXPECT_FALSE(restart) << what;
        }
        if (s->gpt) {
          // The boot-manager route leaves the partition table alone.
          EXPECT_EQ(DiskNow(m, 0), *s->disk) << what;
        }
        EXPECT_EQ(WholeLinesAppended(s->log, ReadHostFile(r.dir.path() + kLauncherLogRel), true), "") << what;

        // Beside the launcher: the journal only while something is
        // to be undone, and never a half-written one.
        const std::string folder = r.dir.path() + kLauncherRel;
        const bool journalLeft = HostFileExists(folder + "/" + kJournalName);
        std::vector<std::string> names = FolderNames(folder);
        std::sort(names.begin(), names.end());
        std::vector<std::string> expected{"FwMode.exe", "TAVU Recovery.exe"};
        if (journalLeft) expected.push_back(kJournalName);
        EXPECT_EQ(names, expected) << what;
        const bool taskLeft = m.tasks().Find(L"TAVU F9 Recovery").has_value();
        if (s->exit == 0) {
          // Armed: what puts the machine back at the next start is in place.
          EXPECT_TRUE(journalLeft) << what;
          EXPECT_TRUE(taskLeft) << what;
          return;
        }
        // Given up: the machine is as before, or the undo did not
        // take and journal and task are kept for the next start,
        // which then puts the machine back.
        const bool taskDeleteFailed =
            InjectedWas(m, sim::SimOp::TaskCall) || InjectedWas(m, sim::SimOp::ComInit);
        if (journalLeft) {
          EXPECT_TRUE(taskLeft) << what << ": a journal without the task that follows it";
          m.faults().Reset();
          m.com().NewProcess();
          LauncherSweepTest::ResetLauncherGlobals();
          EXPECT_EQ(Disarm(), DisarmResult::Undone) << what << ": the next start";
          EXPECT_FALSE(HostFileExists(folder + "/" + kJournalName)) << what << ": the next start";
          EXPECT_FALSE(m.tasks().Find(L"TAVU F9 Recovery").has_value()) << what << ": the next start";
        } else if (taskLeft) {
          // Only where deleting it failed; without a journal the task
          // only switches the mode off and deletes itself at the next start.
          EXPECT_TRUE(taskDeleteFailed) << what << ": the task was left";
        }
        EXPECT_FALSE(m.processes().firmwareMode()) << what << ": the firmware mode was left on";
        EXPECT_TRUE(ArmedElements(m) == s->storeBefore) << what << ": the boot store was left changed";
        if (!s->gpt) {
          const Bytes& now = DiskNow(m, 0);
          EXPECT_TRUE(now == *s->disk) << what << ": the partition table was left changed";
        }
      }};
}

TEST_F(LauncherSweepTest, RecoveryWorker) {
  auto gpt = std::make_shared<WorkerState>();
  gpt->disk = Share(GptNotebook());
  auto mbr = std::make_shared<WorkerState>();
  mbr->disk = Share(MbrNotebook());
  mbr->gpt = false;
  // Without faults both arm and restart.
  for (const auto& s : {gpt, mbr}) {
    FlowRun r;
    const Flow f = WorkerFlow("fault-free", s);
    f.arrange(r);
    f.act(r);
    EXPECT_EQ(s->exit, 0u);
    EXPECT_TRUE(r.machine->windowsTools().programs().restart().pending);
    SetPlatform(Platform{});
  }
  EXPECT_GT(Sweep(WorkerFlow("recovery worker, GPT machine", gpt)), 20u);
  EXPECT_GT(Sweep(WorkerFlow("recovery worker, MBR machine", mbr)), 20u);
  // The recovery volume arrives only after the worker's wait timed out.
  auto late = std::make_shared<WorkerState>(*mbr);
  late->arrivalMs = 60000;
  EXPECT_GT(Sweep(WorkerFlow("recovery worker, MBR machine, volume too late", late)), 100u);
}

// ---- the support check -----------------------------------------------------

struct CheckState {
  SharedBytes disk;
  MachineSnapshot before;
};

// Whatever fails, the check changes nothing and starts nothing but the
// command processor with its own listing batch.
Flow CheckFlow(const char* name, std::shared_ptr<CheckState> s) {
  return Flow{name,
              [s](FlowRun& r) {
                ArrangeWindowStart(r, EarlierLauncherLog(), s->disk);
                sim::SimMachine& m = *r.machine;
                m.wmi().AddEncryptableVolume(0);
                m.firmware().SetPresent(true);
                s->before = Snapshot(m, r.dir.path());
              },
              [](FlowRun&) {
                auto facts = std::make_unique<check::CheckFacts>();
                check::RunCheck(facts.get());
              },
              [s](FlowRun& r, const std::string& what) {
                sim::SimMachine& m = *r.machine;
                EXPECT_EQ(m.handles().OpenCount(), 0u) << what;
                EXPECT_EQ(m.handles().Misuses(), 0u) << what;
                EXPECT_TRUE(m.ui().messageBoxes().empty()) << what;
                for (const sim::SimLaunch& l : m.processes().launches()) {
                  // The native one through its alias; System32's, which WOW64 makes
                  // the 32-bit one, only when asking for WOW64 failed (the check asks
                  // again later, for the recovery image's path, so a failure there
                  // leaves the start as it was).
                  if (InjectedWas(m, sim::SimOp::Wow64Query)) {
                    EXPECT_TRUE(l.file == L"C:\\Windows\\System32\\cmd.exe" ||
                                l.file == L"C:\\Windows\\Sysnative\\cmd.exe")
                        << what;
                  } else {
                    EXPECT_EQ(l.file, L"C:\\Windows\\Sysnative\\cmd.exe") << what;
                  }
                  EXPECT_FALSE(l.redirectionOff) << what;
                  // A name that cannot be made is passed over for a fresh one beside it.
                  const bool usual = l.parameters == L"/d /c \"C:\\Windows\\Temp\\TavuRecoveryCheck.cmd\"";
                  const bool fresh =
                      l.parameters.size() == 54 &&
                      l.parameters.rfind(L"/d /c \"C:\\Windows\\Temp\\TavuRecoveryCheck-", 0) == 0 &&
                      l.parameters.substr(l.parameters.size() - 5) == L".cmd\"";
                  // Where Temp's own security cannot be read, a folder made for
                  // administrators only holds the batch.
                  const bool ownFolder =
                      l.parameters.rfind(L"/d /c \"C:\\Windows\\Temp\\TAVU-", 0) == 0 &&
                      l.parameters.size() > 23 &&
                      l.parameters.substr(l.parameters.size() - 23) == L"\\TavuRecoveryCheck.cmd\"";
                  EXPECT_TRUE(usual || fresh || ownFolder) << what;
                }
                for (const sim::SimFirmwareRequest& q : m.firmware().requests()) {
                  EXPECT_EQ(std::string(q.input.begin(), q.input.end()).substr(0, 4), "BSTS") << what;
                }
                MachineSnapshot after = Snapshot(m, r.dir.path());
                // Only a file whose own removal failed may stay: the check's, made for
                // administrators only.
                if (InjectedWas(m, sim::SimOp::FileRemove)) {
                  for (const char* name :
                       {"/Windows/Temp/TavuRecoveryCheck.cmd", "/Windows/Temp/TavuRecoveryCheck.txt"}) {
                    after.files.erase(name);
                  }
                }
                EXPECT_TRUE(after == s->before) << what << ": the check changed the machine";
              }};
}

TEST_F(LauncherSweepTest, SupportCheck) {
  auto gpt = std::make_shared<CheckState>();
  gpt->disk = Share(GptNotebook());
  auto mbr = std::make_shared<CheckState>();
  mbr->disk = Share(MbrNotebook());
  EXPECT_GT(Sweep(CheckFlow("support check, GPT machine", gpt)), 20u);
  EXPECT_GT(Sweep(CheckFlow("support check, MBR machine", mbr)), 20u);
}

}  // namespace
}  // namespace tavu::test
