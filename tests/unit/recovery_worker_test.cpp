// The recovery worker run whole on the simulated machine: what the user sees,
// which programs start with which scripts, and what the disks and the boot
// store look like afterwards.
#include "launcher/arming/recovery_worker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "launcher/arming/volume_offline.h"
#include "sim/core/faults.h"
#include "sim/formats/code_pages.h"
#include "sim/programs/windows_tools.h"
#include "tests/fixtures/disk_builders.h"
#include "tests/fixtures/launcher_test.h"
#include "tests/fixtures/listing_text.h"
#include "tests/fixtures/notebooks.h"

namespace tavu::test {
namespace {

using Strings = std::vector<std::wstring>;

constexpr std::uint64_t kDiskSectors = kNotebookSectors;
Handle const kWindow = reinterpret_cast<Handle>(static_cast<std::uintptr_t>(0x30142));

const wchar_t kTitle[] = L"Recovery Aborted";
const wchar_t kNotFound[] =
    L"Recovery partition cannot be found! Recovery process is aborted. Please contact TAVU Service Center "
    L"for "
    L"further assistance.";
const wchar_t kBitLocker[] = L"Please disable BitLocker and try again.";
const wchar_t kNoTask[] =
    L"The task that undoes the recovery preparation cannot be registered. Recovery process is aborted; "
    L"nothing was changed. Please contact TAVU Service Center for further assistance.";
const wchar_t kPending[] =
    L"The recovery was prepared before and is not undone yet. Recovery process is aborted. Restart the "
    L"computer, or run \"TAVU Recovery.exe\" /DISABLE, and try again.";
const wchar_t kNoRestart[] =
    L"The computer did not restart. Recovery process is aborted; nothing was changed.";

// The 32-bit launcher on 64-bit Windows asks for the native tools by the alias.
const wchar_t kCmd[] = L"C:\\Windows\\Sysnative\\cmd.exe";
const wchar_t kDiskpart[] = L"C:\\Windows\\Sysnative\\diskpart.exe";
const wchar_t kShutdown[] = L"C:\\Windows\\Sysnative\\shutdown.exe";
const wchar_t kSystem32[] = L"C:\\Windows\\System32";
const wchar_t kBatchParameters[] = L"/d /c \"C:\\Windows\\Temp\\RcvBoot.cmd\"";
const wchar_t kScriptParameters[] = L"/s \"C:\\Windows\\Temp\\RcvBootDisk.txt\"";

const char kListingBatch[] = "@ECHO OFF\r\nCHCP 437\r\nbcdedit /enum all > \"C:\\Windows\\Temp\\RcvBoot.txt\"\r\n";
// The MBR notebook's table put back: Windows' partition active again (which
// takes the flag from the recovery partition), then the recovery partition
// hidden again.
const char kUndoScript[] = "sel disk 0\r\nsel par 1\r\nactive\r\nsel par 3\r\nset id=1c override\r\n";
// The default boot store put back: the menu as it was, the elements the
// arming added deleted, the one it changed set to its old value.
const char kUndoBatch[] =
    "@ECHO OFF\r\nCHCP 437\r\n"
    "bcdedit /displayorder {current}\r\n"
    "bcdedit /deletevalue {bootmgr} customactions\r\n"
    "bcdedit /deletevalue {bootmgr} custom:5400000f\r\n"
    "bcdedit /deletevalue {bootmgr} extendedinput\r\n"
    "bcdedit /set {current} isolatedcontext Yes\r\n";
const char kJournalRel[] = "/Program Files/TAVU/TAVU Recovery Launcher/TAVU Recovery.journal";

std::string ArmingBatch(const std::string& id) {
  return "@ECHO OFF\r\n"
         "CHCP 437\r\n"
         "bcdedit /set {bootmgr} customactions 0x1000043000001 0x5400000f\r\n"
         "bcdedit /set {bootmgr} custom:5400000f " +
         id +
         "\r\n"
         "bcdedit /set {bootmgr} extendedinput Yes \r\n"
         "bcdedit /set {current} isolatedcontext No\r\n"
         "bcdedit /displayorder " +
         id + "\r\n";
}

// What one launch must look like. script: nullopt for programs started without one.
struct Expected {
  std::wstring file;
  std::wstring parameters;
  std::wstring directory;
  int show;
  std::optional<std::string> script;
};

Expected Cmd(const std::string& script) { return {kCmd, kBatchParameters, kSystem32, 0, script}; }
Expected Diskpart(const std::string& script) { return {kDiskpart, kScriptParameters, kSystem32, 0, script}; }
Expected FwMode(const wchar_t* arguments) {
  return {kLauncherDir + std::wstring(L"\\FwMode.exe"), arguments, kLauncherDir, 5, std::nullopt};
}
Expected Shutdown() { return {kShutdown, L"-r -t 10", kSystem32, 5, std::nullopt}; }

class RecoveryWorkerTest : public LauncherTest {
 public:
  RecoveryWorkerTest() {
    g_mainWindow = kWindow;
    // Start-up's state: the main thread in the multithreaded apartment.
    machine().com().InitializeMultithreaded();
    machine().com().InitializeSecurity(0, 3);
    g_comReady = 1;
    PutBesideLauncher("FwMode.exe");
    std::filesystem::create_directories(root() + "/Windows/Temp");
    std::filesystem::create_directories(root() + "/Windows/System32");
  }

  // As the window starts it: on a thread of its own.
  std::uint32_t Run() {
    machine().ui().SetSynchronousThreads(false);
    Handle thread = nullptr;
    EXPECT_TRUE(machine().ui().StartThread(&RecoveryWorker, nullptr, &thread));
    machine().ui().JoinThreads();
    auto runs = machine().ui().threads();
    EXPECT_EQ(runs.size(), 1u);
    EXPECT_TRUE(!runs.empty() && runs.back().finished);
    return runs.empty() ? 99 : runs.back().exitCode;
  }

  void ExpectBoxes(const std::vector<std::pair<std::wstring, std::wstring>>& boxes) {
    auto shown = machine().ui().messageBoxes();
    ASSERT_EQ(shown.size(), boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_EQ(shown[i].text, boxes[i].first);
      EXPECT_EQ(shown[i].caption, boxes[i].second);
      EXPECT_EQ(shown[i].flags, 0u);  // MB_OK
      EXPECT_EQ(shown[i].owner, kWindow);
    }
  }
  void ExpectDestroyPosted(bool posted) {
    auto posts = machine().ui().destroyPosts();
    EXPECT_EQ(posts, posted ? std::vector<Handle>{kWindow} : std::vector<Handle>{});
  }
  void ExpectLaunches(const std::vector<Expected>& expected) {
    auto report = sim::ReportLaunches(machine().processes().launches(),
                                      machine().windowsTools().programs().scriptRuns());
    ASSERT_EQ(report.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(report[i].launch.file, expected[i].file);
      EXPECT_EQ(report[i].launch.parameters, expected[i].parameters);
      EXPECT_EQ(report[i].launch.directory, expected[i].directory);
      EXPECT_EQ(report[i].launch.show, expected[i].show);
      EXPECT_TRUE(report[i].launch.started);
      EXPECT_EQ(report[i].hasScript, expected[i].script.has_value());
      if (expected[i].script) {
        EXPECT_EQ(report[i].script, *expected[i].script);
      }
    }
  }
  void ExpectNoTemporaryFile() {
    for (const char* name : {"RcvBoot.cmd", "RcvBoot.txt", "RcvBootDisk.txt"}) {
      EXPECT_FALSE(HostFileExists(root() + "/Windows/Temp/" + name)) << name;
    }
  }
  // The 32-bit worker on 64-bit Windows: every tool it starts is the native
  // one, and none starts while the worker's thread has its redirection off,
  // nor does anything after them, the Task Scheduler among them, which cannot
  // be created with it off.
  void ExpectNativeToolsAndTheTask(const wchar_t* tool) {
    ExpectBoxes({});
    std::vector<std::wstring> images;
    for (const sim::SimLaunch& launch : machine().processes().launches()) {
      images.push_back(launch.image);
      EXPECT_FALSE(launch.redirectionOff) << sim::Narrow(launch.file);
    }
    EXPECT_EQ(images, (std::vector<std::wstring>{tool, tool, kLauncherDir + std::wstring(L"\\FwMode.exe"),
                                                 L"C:\\Windows\\System32\\shutdown.exe"}));
    ExpectRecoveryTask();
    EXPECT_TRUE(machine().system().redirectionCalls().empty());
  }
  void ExpectCleanHandles() {
    EXPECT_EQ(machine().handles().OpenCount(), 0u);
    EXPECT_EQ(machine().handles().Misuses(), 0u);
  }
  void PlantTemporaryFiles() {
    for (const char* name : {"RcvBoot.cmd", "RcvBoot.txt", "RcvBootDisk.txt"}) {
      WriteHostFile(root() + "/Windows/Temp/" + name, "planted by a user\r\n");
    }
  }
  Strings Store(const wchar_t* id, const wchar_t* element) {
    return machine().windowsTools().store().Values(id, element);
  }
  const PARTITION_INFORMATION_EX& Entry(int disk, int number) {
    layout_ = machine().disks().Layout(disk);
    for (const auto& e : layout_.entries) {
      if (static_cast<int>(e.PartitionNumber) == number) return e;
    }
    ADD_FAILURE() << "no partition " << number;
    return layout_.entries.at(0);
  }
  // Whether Windows presents a volume for the partition.
  bool Presented(int disk, int number) {
    return !machine().volumes().VolumeOf(disk, Entry(disk, number).StartingOffset).name.empty();
  }
  wchar_t Letter(int disk, int number) {
    return machine().volumes().VolumeOf(disk, Entry(disk, number).StartingOffset).letter;
  }

  sim::SimLayout layout_;
};

// seed 0x44332211 (the builder's disk GUID) + 3, as the default listing makes it.
const char kDefaultRecoveryId[] = "{44332214-8D1D-11E9-A5C2-C8F750A1B2C3}";
const wchar_t kDefaultRecoveryIdListed[] = L"{44332214-8d1d-11e9-a5c2-c8f750a1b2c3}";

TEST_F(RecoveryWorkerTest, GptDiskArmsTheBootManager) {
  machine().AddDiskBytes(GptNotebook());
  PlantTemporaryFiles();
  EXPECT_EQ(Run(), 0u);

  ExpectBoxes({});
  ExpectDestroyPosted(true);
  ExpectLaunches({Cmd(kListingBatch), Cmd(ArmingBatch(kDefaultRecoveryId)), FwMode(L"/enable"), Shutdown()});
  EXPECT_TRUE(machine().windowsTools().programs().restart().pending);
  EXPECT_TRUE(machine().windowsTools().programs().restart().reboot);
  EXPECT_EQ(machine().windowsTools().programs().restart().seconds, 10);
  ExpectNoTemporaryFile();

  EXPECT_EQ(Store(L"{bootmgr}", L"customactions"), (Strings{L"0x1000043000001", L"0x5400000f"}));
  EXPECT_EQ(Store(L"{bootmgr}", L"custom:5400000f"), Strings{kDefaultRecoveryIdListed});
  EXPECT_EQ(Store(L"{bootmgr}", L"displayorder"), Strings{kDefaultRecoveryIdListed});
  EXPECT_EQ(Store(L"{bootmgr}", L"extendedinput"), Strings{L"Yes"});
  EXPECT_EQ(Store(L"{current}", L"isolatedcontext"), Strings{L"No"});
  // The boot-manager route writes nothing to the partition table.
  EXPECT_TRUE(machine().disks().layoutWrites().empty());
  for (const auto& v : machine().volumes().Volumes()) EXPECT_FALSE(v.offline) << sim::Narrow(v.name);
  EXPECT_TRUE(machine().system().redirectionCalls().empty());
  EXPECT_TRUE(machine().tasks().Find(L"TAVU F9 Recovery").has_value());
  ExpectCleanHandles();
}

TEST_F(RecoveryWorkerTest, SixtyFourBitWindowsBootManagerRouteStillRegistersTheTask) {
  machine().AddDiskBytes(GptNotebook());
  EXPECT_EQ(Run(), 0u);
  ExpectNativeToolsAndTheTask(L"C:\\Windows\\System32\\cmd.exe");
}

TEST_F(RecoveryWorkerTest, SixtyFourBitWindowsPartitionTableRouteStillRegistersTheTask) {
  machine().AddDiskBytes(MbrNotebook());
  EXPECT_EQ(Run(), 0u);
  ExpectNativeToolsAndTheTask(L"C:\\Windows\\System32\\diskpart.exe");
}

struct Captured {
  const char* fixture;
  const char* id;
  const wchar_t* listed;
};

void PrintTo(const Captured& c, std::ostream* os) { *os << c.fixture; }

class CapturedListingTest : public RecoveryWorkerTest, public ::testing::WithParamInterface<Captured> {};

TEST_P(CapturedListingTest, ArmsTheEntryTheListingNames) {
  const Captured& c = GetParam();
  machine().AddDiskBytes(GptNotebook());
  // What bcdedit prints on that machine, decoded from the console code page 437
  // it was captured in; the batch's CHCP 437 makes bcdedit write it back so.
  std::string bytes = ReadHostFile(std::string(TAVU_SOURCE_DIR "/tests/fixtures/bcd/") + c.fixture);
  machine().windowsTools().LoadListing(sim::DecodeCodePage(437, WithRecoveryVolume(bytes, kNotebookRecoveryVolume)));
  EXPECT_EQ(Run(), 0u);
  ExpectLaunches({Cmd(kListingBatch), Cmd(ArmingBatch(c.id)), FwMode(L"/enable"), Shutdown()});
  EXPECT_EQ(Store(L"{bootmgr}", L"displayorder"), Strings{c.listed});
  EXPECT_EQ(Store(L"{bootmgr}", L"custom:5400000f"), Strings{c.listed});
  EXPECT_EQ(Store(L"{bootmgr}", L"customactions"), (Strings{L"0x1000043000001", L"0x5400000f"}));
  ExpectNoTemporaryFile();
}

INSTANTIATE_TEST_SUITE_P(
    RecoveryWorker, CapturedListingTest,
    ::testing::Values(Captured{"english_windows10_uefi.txt", "{6F0C2A13-8D1A-11E9-A5C2-C8F750A1B2C3}",
                               L"{6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}"},
                      Captured{"german_cp437.txt", "{0C5FD1A7-A1C3-11E3-BE57-806E6F6E6963}",
                               L"{0c5fd1a7-a1c3-11e3-be57-806e6f6e6963}"}),
    [](const ::testing::TestParamInfo<Captured>& info) { return info.index == 0 ? "English" : "German"; });

TEST_F(RecoveryWorkerTest, MbrDiskMakesThePartitionVisibleActiveAndWithoutLetter) {
  machine().AddDiskBytes(MbrNotebook());
  PlantTemporaryFiles();
  ASSERT_EQ(Letter(0, 1), L'C');
  ASSERT_EQ(Letter(0, 2), L'D');
  g_logSwitch = 1;
  EXPECT_EQ(Run(), 0u);

  ExpectBoxes({});
  ExpectDestroyPosted(true);
  ExpectLaunches({Diskpart("sel disk 0\r\nsel par 3\r\nset id=0c override\r\nactive\r\n"),
                  Diskpart("sel disk 0\r\nsel par 3\r\nremove letter=E noerr\r\n"), FwMode(L"/enable /log"),
                  Shutdown()});
  EXPECT_TRUE(machine().windowsTools().programs().restart().pending);
  ExpectNoTemporaryFile();
  EXPECT_EQ(Entry(0, 3).Mbr.PartitionType, 0x0C);
  EXPECT_EQ(Entry(0, 3).Mbr.BootIndicator, 1);
  EXPECT_EQ(Entry(0, 1).Mbr.BootIndicator, 0);
  EXPECT_EQ(Letter(0, 3), 0);
  EXPECT_FALSE(machine().volumes().VolumeOf(0, Entry(0, 3).StartingOffset).name.empty());
  // Offline first, then the letter: users can write to the partition that
  // boots next only between its arrival and the worker's next step.
  const auto& runs = machine().windowsTools().programs().scriptRuns();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].offlineVolumes, 0u);
  EXPECT_EQ(runs[1].offlineVolumes, 1u);
  EXPECT_EQ(Letter(0, 1), L'C');
  EXPECT_EQ(Letter(0, 2), L'D');
  EXPECT_EQ(machine().windowsTools().store().changes(), 0);
  ExpectCleanHandles();
}

// The partition that boots next is taken offline as soon as it arrives. A
// refused lock (a file on it held open) still ends offline by a forced
// dismount; any later refusal leaves it reachable, and the arming goes on.
struct OfflineRow {
  const char* name;
  std::optional<sim::SimOp> refused;
  bool offline;
  VolumeReach reach;
};

void PrintTo(const OfflineRow& row, std::ostream* os) { *os << row.name; }

class RecoveryVolumeOfflineTest : public RecoveryWorkerTest,
                                  public ::testing::WithParamInterface<OfflineRow> {};

TEST_P(RecoveryVolumeOfflineTest, MbrRouteTakesTheVolumeOfflineWhereWindowsAllows) {
  const OfflineRow& row = GetParam();
  machine().AddDiskBytes(MbrNotebook());
  if (row.refused) machine().faults().FailAll(*row.refused);
  EXPECT_EQ(Run(), 0u);
  ExpectBoxes({});
  ExpectDestroyPosted(true);
  EXPECT_TRUE(machine().windowsTools().programs().restart().pending);
  const std::int64_t offset = Entry(0, 3).StartingOffset;
  EXPECT_EQ(machine().volumes().VolumeOf(0, offset).offline, row.offline);
  EXPECT_EQ(QueryVolumeReach(0, offset), row.reach);
  EXPECT_EQ(Letter(0, 3), 0);
  // Only the recovery volume.
  EXPECT_FALSE(machine().volumes().VolumeOf(0, Entry(0, 1).StartingOffset).offline);
  ExpectCleanHandles();
}

INSTANTIATE_TEST_SUITE_P(
    RecoveryWorker, RecoveryVolumeOfflineTest,
    ::testing::Values(OfflineRow{"NothingRefused", std::nullopt, true, VolumeReach::Offline},
                      OfflineRow{"LockRefused", sim::SimOp::VolumeLock, true, VolumeReach::Offline},
                      OfflineRow{"DismountRefused", sim::SimOp::VolumeDismount, false,
                                 VolumeReach::Reachable},
                      OfflineRow{"OfflineRefused", sim::SimOp::VolumeOffline, false, VolumeReach::Reachable}),
    [](const ::testing::TestParamInfo<OfflineRow>& info) { return info.param.name; });

TEST_F(RecoveryWorkerTest, MbrRecoveryOnASecondDiskAndWithoutAFreeLetter) {
  Bytes plain = MbrBuilder(kDiskSectors).Primary(0, 0x07, 2048, 8192, true).Build();
  Place(plain, 2048ull * 512, NotebookNtfs(u"Windows"));
  machine().AddDiskBytes(plain);
  machine().AddDiskBytes(MbrNotebook());
  // C: D: E: are the disks' volumes; every other letter is taken by something else.
  for (wchar_t l = L'F'; l <= L'Z'; ++l) machine().volumes().AddForeignVolume(l, L"X", {});
  EXPECT_EQ(Run(), 0u);
  ExpectLaunches({Diskpart("sel disk 1\r\nsel par 3\r\nset id=0c override\r\nactive\r\n"),
                  Diskpart("sel disk 1\r\nsel par 3\r\nremove letter= noerr\r\n"), FwMode(L"/enable"),
                  Shutdown()});
  EXPECT_EQ(Entry(1, 3).Mbr.PartitionType, 0x0C);
  EXPECT_EQ(Entry(1, 3).Mbr.BootIndicator, 1);
  // The first disk's active partition is not touched.
  EXPECT_EQ(Entry(0, 1).Mbr.BootIndicator, 1);
  ExpectNoTemporaryFile();
  ExpectDestroyPosted(true);
}

// The first 208 bytes of a WIM: its signature and header size, one image
// that boots.
std::string WimHeaderBytes() {
  std::string h(208, '\0');
  h.replace(0, 8, std::string("MSWIM\0\0\0", 8));
  h[8] = static_cast<char>(208);
  h[44] = 1;
  h[120] = 1;
  return h;
}

// A listing whose {current} entry names the only recovery loader, its image
// on device (between the brackets) and boot.sdi on the same device.
std::wstring ListingWithDevice(const std::wstring& device) {
  const std::wstring sdiDevice = device == L"unknown" ? L"unknown" : L"partition=" + device;
  return L"\r\nWindows Boot Manager\r\n--------------------\r\n"
         L"identifier              {bootmgr}\r\n"
         L"default                 {current}\r\n"
         L"\r\nWindows Boot Loader\r\n-------------------\r\n"
         L"identifier              {current}\r\n"
         L"recoverysequence        {6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}\r\n"
         L"\r\nWindows Boot Loader\r\n-------------------\r\n"
         L"identifier              {6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}\r\n"
         L"device                  ramdisk=[" +
         device +
         L"]\\Recovery\\WindowsRE\\Winre.wim,"
         L"{6f0c2a14-8d1a-11e9-a5c2-c8f750a1b2c3}\r\n"
         L"\r\nDevice options\r\n--------------\r\n"
         L"identifier              {6f0c2a14-8d1a-11e9-a5c2-c8f750a1b2c3}\r\n"
         L"ramdisksdidevice        " +
         sdiDevice +
         L"\r\n"
         L"ramdisksdipath          \\Recovery\\WindowsRE\\boot.sdi\r\n";
}

// A machine of its own for one case of a table: installed as the launcher's,
// the launcher in its folder, with the Windows Temp folder the worker writes
// into.
void StandUpLauncherMachine(sim::SimMachine& m, const TempDir& dir) {
  m.Install();
  m.system().SetModulePath(kLauncherPath);
  WriteHostFile(m.HostPath(kLauncherPath), "MZ");
  std::filesystem::create_directories(dir.path() + "/Windows/Temp");
}

TEST_F(RecoveryWorkerTest, ImagesThatCanStartOrCannotBeToldArm) {
  struct {
    const char* what;
    std::wstring device;
    bool files;  // Winre.wim and boot.sdi under C:\Recovery\WindowsRE
  } cases[] = {
      {"image and boot.sdi on a drive letter", L"C:", true},
      {"device Windows no longer finds", L"unknown", false},
      {"device in a form the launcher does not resolve", L"locate=\\Recovery", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    sim::SimMachine m(dir.path());
    StandUpLauncherMachine(m, dir);
    m.AddDiskBytes(GptNotebook());
    m.windowsTools().LoadListing(ListingWithDevice(c.device));
    if (c.files) {
      WriteHostFile(m.HostPath(L"C:\\Recovery\\WindowsRE\\Winre.wim"), WimHeaderBytes() + "image");
      WriteHostFile(m.HostPath(L"C:\\Recovery\\WindowsRE\\boot.sdi"), "$SDI0001");
    }
    EXPECT_EQ(RecoveryWorker(nullptr), 0u);
    EXPECT_TRUE(m.ui().messageBoxes().empty());
    EXPECT_EQ(m.windowsTools().store().Values(L"{bootmgr}", L"custom:5400000f"),
              Strings{L"{6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}"});
    EXPECT_TRUE(m.windowsTools().programs().restart().pending);
    EXPECT_EQ(m.handles().OpenCount(), 0u);
    machine().Install();
  }
}

TEST_F(RecoveryWorkerTest, MbrRecoveryStickAsDiskZeroIsNeverTouched) {
  for (sim::DiskKind stickKind : {sim::DiskKind::Usb, sim::DiskKind::Removable}) {
    SCOPED_TRACE(static_cast<int>(stickKind));
    TempDir dir;
    sim::SimMachine m(dir.path());
    StandUpLauncherMachine(m, dir);
    // What Windows' "Create a recovery drive" leaves: a visible FAT32 volume labelled RECOVERY.
    Fat32Params fat;
    Bytes stick = MbrBuilder(kDiskSectors).Primary(0, 0x0C, 2048, 8192, true).Build();
    Place(stick, 2048ull * 512, BuildFat32(fat).bytes);
    m.AddDiskBytes(stick, stickKind);
    m.AddDiskBytes(MbrNotebook());
    std::string stickBefore(stick.size(), '\0');
    m.disks().Image(0)->Read(0, stickBefore.data(), stickBefore.size());

    EXPECT_EQ(RecoveryWorker(nullptr), 0u);
    auto report = sim::ReportLaunches(m.processes().launches(), m.windowsTools().programs().scriptRuns());
    ASSERT_GE(report.size(), 2u);
    EXPECT_EQ(report[0].script, "sel disk 1\r\nsel par 3\r\nset id=0c override\r\nactive\r\n");
    EXPECT_EQ(report[1].script, "sel disk 1\r\nsel par 3\r\nremove letter=F noerr\r\n");
    const sim::SimLayout notebook = m.disks().Layout(1);
    EXPECT_EQ(m.volumes().VolumeOf(1, notebook.entries.at(2).StartingOffset).letter, 0);
    EXPECT_NE(m.volumes().VolumeOf(0, m.disks().Layout(0).entries.at(0).StartingOffset).letter, 0);
    std::string stickNow(stick.size(), '\0');
    m.disks().Image(0)->Read(0, stickNow.data(), stickNow.size());
    EXPECT_TRUE(stickNow == stickBefore);
    machine().Install();
  }
}

// One row of the failure table: how the machine is made to fail, and what
// the user sees, which programs ran, and whether the planted temporary files
// are still there untouched (the early exits create and delete nothing).
struct FailureRow {
  const char* name;
  std::function<void(sim::SimMachine&)> arrange;
  std::vector<std::pair<std::wstring, std::wstring>> boxes;
  bool destroyPosted;
  std::vector<Expected> launches;
  bool tempFilesLeft;
  std::function<void(RecoveryWorkerTest&)> check = nullptr;  // more of the state afterwards
};

void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class WorkerFailureTest : public RecoveryWorkerTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(WorkerFailureTest, AbortsAsTheTableSays) {
  const FailureRow& row = GetParam();
  PlantTemporaryFiles();
  row.arrange(machine());
  EXPECT_EQ(Run(), 1u);
  machine().faults().Reset();
  ExpectBoxes(row.boxes);
  ExpectDestroyPosted(row.destroyPosted);
  ExpectLaunches(row.launches);
  for (const char* name : {"RcvBoot.cmd", "RcvBoot.txt", "RcvBootDisk.txt"}) {
    std::string host = root() + "/Windows/Temp/" + name;
    EXPECT_EQ(HostFileExists(host), row.tempFilesLeft) << name;
    if (row.tempFilesLeft) {
      EXPECT_EQ(ReadHostFile(host), "planted by a user\r\n") << name;
    }
  }
  EXPECT_FALSE(machine().windowsTools().programs().restart().pending);
  EXPECT_FALSE(machine().tasks().Find(L"TAVU F9 Recovery").has_value());
  EXPECT_FALSE(HostFileExists(root() + kJournalRel));
  EXPECT_EQ(machine().windowsTools().store().changes(), 0);
  if (row.check) row.check(*this);
  ExpectCleanHandles();
}

INSTANTIATE_TEST_SUITE_P(RecoveryWorker, WorkerFailureTest, ::testing::ValuesIn(std::vector<FailureRow>{
      {"StandardOutputProbeFails",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         m.system().SetStdOutputInvalid(true);
       },
       {}, false, {}, true},
      {"VolumeProtected",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         m.wmi().AddEncryptableVolume(0);
         m.wmi().AddEncryptableVolume(1);
       },
       {{kBitLocker, kTitle}}, true, {}, true},
      {"ProtectionUnknown", 
       [](sim::SimMachine& m) {
         m.AddDiskBytes(MbrNotebook());
         m.wmi().AddEncryptableVolume(2);
       },
       {{kBitLocker, kTitle}}, true, {}, true},
      {"ProtectedAndBoxCannotBeShown",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         m.wmi().AddEncryptableVolume(1);
         m.faults().FailAll(sim::SimOp::MessageBox);
       },
       {{kBitLocker, kTitle}}, true, {}, true},
      {"NoRecoveryPartition",
       [](sim::SimMachine& m) { m.AddDiskBytes(GptNotebook(false)); },
       {{kNotFound, kTitle}}, true, {}, true},
      {"NoDiskAtAll", [](sim::SimMachine&) {}, {{kNotFound, kTitle}}, true, {}, true},
      {"LayoutQueryFails",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         m.faults().FailAll(sim::SimOp::DiskLayoutQuery);
       },
       {{kNotFound, kTitle}}, true, {}, true},
      {"ListingWithoutRecoveryEntry",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         sim::BcdMachineFacts facts;
         facts.recoveryVolume = 0;
         m.windowsTools().LoadListing(sim::DefaultBcdListing(facts));
       },
       {{kNotFound, kTitle}}, true, {Cmd(kListingBatch)}, false},
      {"EmptyListing",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         m.windowsTools().LoadListing(L"");
       },
       {{kNotFound, kTitle}}, true, {Cmd(kListingBatch)}, false},
      {"ListingCannotBeRead",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         m.faults().FailAll(sim::SimOp::FileRead);
       },
       {{kNotFound, kTitle}}, true, {Cmd(kListingBatch)}, false},
      {"NoRecoveryLabelAfterFirstScript",
       [](sim::SimMachine& m) { m.AddDiskBytes(MbrNotebook("OEMDATA    ")); },
       {{kNotFound, kTitle}}, true,
       {Diskpart("sel disk 0\r\nsel par 3\r\nset id=0c override\r\nactive\r\n"), FwMode(L"/disable"),
        Diskpart(kUndoScript)},
       false,
       // The table is as it was: hidden again, and Windows' partition active.
       [](RecoveryWorkerTest& t) {
         EXPECT_EQ(t.Entry(0, 3).Mbr.PartitionType, 0x1C);
         EXPECT_EQ(t.Entry(0, 3).Mbr.BootIndicator, 0);
         EXPECT_EQ(t.Entry(0, 1).Mbr.BootIndicator, 1);
         EXPECT_FALSE(t.Presented(0, 3));
       }},
      {"RecoveryVolumeNotFoundOnASecondDisk",
       [](sim::SimMachine& m) {
         // Windows keeps no two online disks with one signature.
         Bytes plain = MbrBuilder(kDiskSectors, 0x5EC0D15C).Primary(0, 0x07, 2048, 8192, true).Build();
         Place(plain, 2048ull * 512, NotebookNtfs(u"Windows"));
         m.AddDiskBytes(plain);
         m.AddDiskBytes(MbrNotebook("OEMDATA    "));
       },
       {{kNotFound, kTitle}}, true,
       {Diskpart("sel disk 1\r\nsel par 3\r\nset id=0c override\r\nactive\r\n"), FwMode(L"/disable"),
        Diskpart("sel disk 1\r\nsel par 1\r\nactive\r\nsel par 3\r\nset id=1c override\r\n")},
       false,
       [](RecoveryWorkerTest& t) {
         EXPECT_EQ(t.Entry(1, 3).Mbr.PartitionType, 0x1C);
         EXPECT_EQ(t.Entry(1, 3).Mbr.BootIndicator, 0);
         EXPECT_EQ(t.Entry(1, 1).Mbr.BootIndicator, 1);
         // The first disk's active partition is not touched.
         EXPECT_EQ(t.Entry(0, 1).Mbr.BootIndicator, 1);
       }},
      // The task must have a launcher to start that no standard user can
      // change; one run from the downloads, with none installed, has none.
      {"NoTrustedLauncherForTheTask",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         std::filesystem::remove(m.HostPath(kLauncherPath));
         const wchar_t downloaded[] = L"C:\\Users\\Owner\\Downloads\\TAVU Recovery.exe";
         m.system().SetModulePath(downloaded);
         WriteHostFile(m.HostPath(downloaded), "MZ");
       },
       {{kNoTask, kTitle}}, true, {}, true},
      {"TaskRegistrationRefused",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         m.tasks().SetRegisterResult(HResultOf(0x80070005u));
       },
       {{kNoTask, kTitle}}, true, {Cmd(kListingBatch)}, false},
      {"TaskRegistrationRefusedOnThePartitionTableRoute",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(MbrNotebook());
         m.tasks().SetRegisterResult(HResultOf(0x80070005u));
       },
       {{kNoTask, kTitle}}, true, {}, false,
       [](RecoveryWorkerTest& t) {
         EXPECT_EQ(t.Entry(0, 3).Mbr.PartitionType, 0x1C);
         EXPECT_EQ(t.Entry(0, 1).Mbr.BootIndicator, 1);
       }},
      // Armed, but the session did not end: everything is put back, and the
      // firmware mode is switched off first.
      {"RestartCalledOff",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(MbrNotebook());
         m.SetRestartCancelled(true);
       },
       {{kNoRestart, kTitle}}, true,
       {Diskpart("sel disk 0\r\nsel par 3\r\nset id=0c override\r\nactive\r\n"),
        Diskpart("sel disk 0\r\nsel par 3\r\nremove letter=E noerr\r\n"), FwMode(L"/enable"), Shutdown(),
        FwMode(L"/disable"), Diskpart(kUndoScript)},
       false,
       [](RecoveryWorkerTest& t) {
         EXPECT_EQ(t.Entry(0, 3).Mbr.PartitionType, 0x1C);
         EXPECT_EQ(t.Entry(0, 3).Mbr.BootIndicator, 0);
         EXPECT_EQ(t.Entry(0, 1).Mbr.BootIndicator, 1);
         EXPECT_FALSE(t.Presented(0, 3));
       }},
      {"RecoveryPartitionWithoutBootSignature",
       [](sim::SimMachine& m) {
         Bytes disk = MbrNotebook();
         disk[14336ull * 512 + 510] = 0;
         m.AddDiskBytes(disk);
       },
       {{kNotFound, kTitle}}, true, {}, false,
       [](RecoveryWorkerTest& t) { EXPECT_EQ(t.Entry(0, 3).Mbr.PartitionType, 0x1C); }},
      {"RecoveryImageMissing",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         m.windowsTools().LoadListing(ListingWithDevice(L"C:"));
         WriteHostFile(m.HostPath(L"C:\\Recovery\\WindowsRE\\boot.sdi"), "$SDI0001");
       },
       {{kNotFound, kTitle}}, true, {Cmd(kListingBatch)}, false},
      {"RecoveryImageFolderMissing",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         m.windowsTools().LoadListing(ListingWithDevice(L"C:"));
       },
       {{kNotFound, kTitle}}, true, {Cmd(kListingBatch)}, false},
      {"RecoveryImageNotAWim",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         m.windowsTools().LoadListing(ListingWithDevice(L"C:"));
         std::string header = WimHeaderBytes();
         header[8] = static_cast<char>(0xD4);  // header size 212
         WriteHostFile(m.HostPath(L"C:\\Recovery\\WindowsRE\\Winre.wim"), header);
         WriteHostFile(m.HostPath(L"C:\\Recovery\\WindowsRE\\boot.sdi"), "$SDI0001");
       },
       {{kNotFound, kTitle}}, true, {Cmd(kListingBatch)}, false},
      {"BootSdiMissing",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptNotebook());
         m.windowsTools().LoadListing(ListingWithDevice(L"C:"));
         WriteHostFile(m.HostPath(L"C:\\Recovery\\WindowsRE\\Winre.wim"), WimHeaderBytes());
       },
       {{kNotFound, kTitle}}, true, {Cmd(kListingBatch)}, false},
}),
                         [](const ::testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.name); });

// A name under C:\Windows\Temp that someone plants again right after the
// worker removed it, on the n-th removal of that name (1-based).
void PlantAgainOnRemoval(sim::SimMachine& m, const std::string& host, int n) {
  auto count = std::make_shared<int>(0);
  m.files().SetAfterRemove([host, n, count](const std::string& removed) {
    if (removed == host && ++*count == n) WriteHostFile(host, "@ECHO OFF\r\nformat c: /q\r\n");
  });
}

// A listing whose only recovery loader entry carries the given identifier line.
std::wstring ListingWithIdentifier(const std::wstring& identifierLine) {
  return L"\r\nWindows Boot Manager\r\n--------------------\r\n"
         L"identifier              {bootmgr}\r\n"
         L"displayorder            {current}\r\n"
         L"\r\nWindows Boot Loader\r\n-------------------\r\n"
         L"identifier              {current}\r\n"
         L"isolatedcontext         Yes\r\n"
         L"\r\nWindows Boot Loader\r\n-------------------\r\n" +
         identifierLine +
         L"\r\ndevice                  "
         L"ramdisk=[\\Device\\HarddiskVolume4]\\Recovery\\WindowsRE\\Winre.wim,{x}\r\n";
}

TEST_F(RecoveryWorkerTest, TemporaryFilesAtNamesAUserKeepsAreMadeUnderFreshNames) {
  struct {
    const char* what;
    bool mbr;
    const char* name;  // planted again after its n-th removal
    int removal;
  } cases[] = {
      {"listing batch", false, "RcvBoot.cmd", 1},         {"listing file", false, "RcvBoot.txt", 1},
      {"arming batch", false, "RcvBoot.cmd", 2},          {"first disk script", true, "RcvBootDisk.txt", 1},
      {"second disk script", true, "RcvBootDisk.txt", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    sim::SimMachine m(dir.path());
    StandUpLauncherMachine(m, dir);
    m.com().InitializeMultithreaded();
    WriteHostFile(dir.path() + "/Program Files/TAVU/TAVU Recovery Launcher/FwMode.exe", "MZ");
    m.AddDiskBytes(c.mbr ? MbrNotebook() : GptNotebook());
    const std::string host = dir.path() + "/Windows/Temp/" + c.name;
    WriteHostFile(host, "planted\r\n");
    PlantAgainOnRemoval(m, host, c.removal);

    EXPECT_EQ(RecoveryWorker(nullptr), 0u);
    m.files().SetAfterRemove(nullptr);
    EXPECT_TRUE(m.ui().messageBoxes().empty());
    EXPECT_TRUE(m.windowsTools().programs().restart().pending);
    // No planted file ever ran: every script is one the worker wrote.
    for (const auto& run :
         sim::ReportLaunches(m.processes().launches(), m.windowsTools().programs().scriptRuns())) {
      EXPECT_EQ(run.script.find("format"), std::string::npos) << run.script;
      EXPECT_EQ(run.script.find("planted"), std::string::npos) << run.script;
    }
    // The worker's own files under fresh names are gone; the user's stays his.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() + "/Windows/Temp")) {
      if (entry.path().extension() != ".log") {
        EXPECT_EQ(entry.path().string(), host);
      }
    }
    EXPECT_EQ(m.handles().OpenCount(), 0u);
    machine().Install();
  }
}

TEST_F(RecoveryWorkerTest, IdentifiersThatWouldChangeTheArmingBatchAreNotUsed) {
  struct {
    const char* what;
    std::wstring identifierLine;
  } cases[] = {
      {"command separator", L"identifier              {6f0c2a13-8d1a} & format c: /q & {x}"},
      {"redirection", L"identifier              {6f0c2a13-8d1a} > C:\\Windows\\win.ini {x}"},
      {"longer than the batch line holds", L"identifier              {" + std::wstring(217, L'a') + L"-}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    sim::SimMachine m(dir.path());
    StandUpLauncherMachine(m, dir);
    m.AddDiskBytes(GptNotebook());
    m.windowsTools().LoadListing(ListingWithIdentifier(c.identifierLine));
    EXPECT_EQ(RecoveryWorker(nullptr), 1u);
    auto boxes = m.ui().messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kNotFound);
    auto report = sim::ReportLaunches(m.processes().launches(), m.windowsTools().programs().scriptRuns());
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].script, kListingBatch);
    EXPECT_EQ(m.windowsTools().store().changes(), 0);
    machine().Install();
  }
}

TEST_F(RecoveryWorkerTest, ScriptLineThatCannotBeWrittenAbortsBeforeTheToolRuns) {
  machine().AddDiskBytes(GptNotebook());
  machine().faults().FailAll(sim::SimOp::FileWrite);
  EXPECT_EQ(Run(), 1u);
  machine().faults().Reset();
  ExpectBoxes({{kNotFound, kTitle}});
  ExpectDestroyPosted(true);
  ExpectLaunches({});
  ExpectNoTemporaryFile();
}

TEST_F(RecoveryWorkerTest, DebugSwitchShowsTheIdentifierFirst) {
  machine().AddDiskBytes(GptNotebook());
  g_debugSwitch = 1;
  EXPECT_EQ(Run(), 0u);
  ExpectBoxes({{L"{44332214-8D1D-11E9-A5C2-C8F750A1B2C3}", L"GUID"}});
  ExpectLaunches({Cmd(kListingBatch), Cmd(ArmingBatch(kDefaultRecoveryId)), FwMode(L"/enable"), Shutdown()});
  ExpectDestroyPosted(true);
}

TEST_F(RecoveryWorkerTest, ThirtyTwoBitWindowsHasNoRedirectionToSwitchOff) {
  machine().system().SetWindows64(false);
  machine().AddDiskBytes(GptNotebook());
  EXPECT_EQ(Run(), 0u);
  EXPECT_TRUE(machine().system().redirectionCalls().empty());
  EXPECT_EQ(Store(L"{bootmgr}", L"displayorder"), Strings{kDefaultRecoveryIdListed});
  // No Sysnative there: System32 is the native folder.
  std::vector<std::wstring> files;
  for (const sim::SimLaunch& launch : machine().processes().launches()) files.push_back(launch.file);
  EXPECT_EQ(files,
            (std::vector<std::wstring>{L"C:\\Windows\\System32\\cmd.exe", L"C:\\Windows\\System32\\cmd.exe",
                                       kLauncherDir + std::wstring(L"\\FwMode.exe"),
                                       L"C:\\Windows\\System32\\shutdown.exe"}));
}

// An arming whose journal is still there was never undone: arming again
// would write down the armed store or table as the one to go back to.
TEST_F(RecoveryWorkerTest, EarlierArmingNotUndoneIsRefusedWithoutAChange) {
  for (const bool gpt : {true, false}) {
    SCOPED_TRACE(gpt ? "GPT" : "MBR");
    TempDir dir;
    sim::SimMachine m(dir.path());
    StandUpLauncherMachine(m, dir);
    m.AddDiskBytes(gpt ? GptNotebook() : MbrNotebook());
    const std::string journal = dir.path() + kJournalRel;
    WriteHostFile(journal, "written by an earlier arming\r\n");
    EXPECT_EQ(RecoveryWorker(nullptr), 1u);
    auto boxes = m.ui().messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kPending);
    EXPECT_EQ(boxes[0].caption, kTitle);
    EXPECT_TRUE(m.processes().launches().empty());
    EXPECT_TRUE(m.tasks().calls().empty());
    EXPECT_EQ(ReadHostFile(journal), "written by an earlier arming\r\n");
    EXPECT_EQ(m.windowsTools().store().changes(), 0);
    EXPECT_TRUE(m.disks().layoutWrites().empty());
    EXPECT_FALSE(m.windowsTools().programs().restart().pending);
    EXPECT_EQ(m.handles().OpenCount(), 0u);
    machine().Install();
  }
}

// On the boot-manager route a restart that does not happen puts every
// element back as it was listed before the arming.
TEST_F(RecoveryWorkerTest, RestartCalledOffPutsTheBootStoreBack) {
  machine().AddDiskBytes(GptNotebook());
  machine().SetRestartCancelled(true);
  const Strings order = Store(L"{bootmgr}", L"displayorder");
  ASSERT_EQ(order, Strings{L"{current}"});
  EXPECT_EQ(Run(), 1u);
  ExpectBoxes({{kNoRestart, kTitle}});
  ExpectDestroyPosted(true);
  ExpectLaunches({Cmd(kListingBatch), Cmd(ArmingBatch(kDefaultRecoveryId)), FwMode(L"/enable"), Shutdown(),
                  FwMode(L"/disable"), Cmd(kUndoBatch), Cmd(kListingBatch)});
  EXPECT_FALSE(machine().windowsTools().programs().restart().pending);
  EXPECT_EQ(Store(L"{bootmgr}", L"displayorder"), order);
  EXPECT_TRUE(Store(L"{bootmgr}", L"customactions").empty());
  EXPECT_TRUE(Store(L"{bootmgr}", L"custom:5400000f").empty());
  EXPECT_TRUE(Store(L"{bootmgr}", L"extendedinput").empty());
  EXPECT_EQ(Store(L"{current}", L"isolatedcontext"), Strings{L"Yes"});
  EXPECT_FALSE(machine().tasks().Find(L"TAVU F9 Recovery").has_value());
  EXPECT_FALSE(HostFileExists(root() + kJournalRel));
  ExpectNoTemporaryFile();
  ExpectCleanHandles();
}

TEST_F(RecoveryWorkerTest, WithoutTheFirmwareToolTheRestartStillFollows) {
  machine().AddDiskBytes(GptNotebook());
  std::filesystem::remove(root() + "/Program Files/TAVU/TAVU Recovery Launcher/FwMode.exe");
  EXPECT_EQ(Run(), 0u);
  ExpectBoxes({});
  ExpectLaunches({Cmd(kListingBatch), Cmd(ArmingBatch(kDefaultRecoveryId)), Shutdown()});
  // What undoes the arming at the next start is in place all the same.
  ExpectRecoveryTask();
  EXPECT_TRUE(HostFileExists(root() + kJournalRel));
  EXPECT_TRUE(machine().windowsTools().programs().restart().pending);
  ExpectDestroyPosted(true);
}

}  // namespace
}  // namespace tavu::test
