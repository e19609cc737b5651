// The check's view of the whole recovery path on machines set up the way
// notebooks end up after years of updates: each case's verdict and reason,
// and the facts support reads off the JSON.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "check/check_args.h"
#include "check/check_report.h"
#include "check/fleet_record.h"
#include "check/fleet_summary.h"
#include "check/recovery_check.h"
#include "launcher/arming/arming_journal.h"
#include "launcher/arming/recovery_worker.h"
#include "sim/programs/bcd_store.h"
#include "sim/programs/windows_tools.h"
#include "tests/fixtures/check_answers.h"
#include "tests/fixtures/launcher_test.h"
#include "tests/fixtures/notebooks.h"
#include "tests/fixtures/temp_dir.h"

namespace tavu::test {
namespace {

constexpr int kRecoveryVolume = 5;
const char kReAgentPath[] = "/Windows/System32/Recovery/ReAgent.xml";
const char kImageFolder[] = "/Recovery/WindowsRE";
// A WIM header: signature, header size 208, one image, boot index 1.
std::string Wim() {
  std::string h(4096, '\0');
  h.replace(0, 8, std::string("MSWIM\0\0\0", 8));
  h[8] = static_cast<char>(208);
  h[44] = 1;
  h[120] = 1;
  return h;
}

// The GPT notebook with a disk GUID of its own, as ReAgent.xml names it.
Bytes GptNotebookWithGuid() {
  GptBuilder b(kNotebookSectors);
  b.DiskGuid(
      {0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0x78, 0x56, 0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78});
  b.Add(kEfiSystemType, 2048, 2048).Add(kMsReservedType, 4096, 2048).Add(kBasicDataType, 6144, 8192);
  b.Add(kRecoveryType, 14336, 8192, 0x8000000000000001ull);
  Bytes disk = b.Build();
  Place(disk, 6144ull * 512, NotebookNtfs(u"Windows"));
  Place(disk, 14336ull * 512, NotebookNtfs(u"Recovery"));
  return disk;
}

// The listing of a machine whose loader names its image on C: (reachable
// under the test's root), or none without a recovery loader.
std::wstring Listing(bool loader, sim::WinReState state = sim::WinReState::Enabled) {
  sim::BcdMachineFacts facts;
  facts.recoveryVolume = loader ? kRecoveryVolume : 0;
  facts.winre = state;
  std::wstring t = sim::DefaultBcdListing(facts);
  const std::wstring device = L"\\Device\\HarddiskVolume" + std::to_wstring(kRecoveryVolume);
  for (std::size_t at = t.find(device); at != std::wstring::npos; at = t.find(device))
    t.replace(at, device.size(), L"C:");
  return t;
}

std::string ReAgent(const char* bcd, const char* location, int state) {
  return std::string(
             "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8' standalone='yes'?>\r\n<WindowsRE "
             "version=\"2.0\">") +
         "<WinreBCD id=\"" + bcd + "\"/>" + location + "<InstallState state=\"" + std::to_string(state) +
         "\"/></WindowsRE>";
}

struct Machine {
  TempDir dir;
  sim::SimMachine machine{dir.path()};
  Machine() {
    machine.Install();
    LauncherTest::ArrangeWindowStart(machine, dir.path());
  }
  ~Machine() {
    SetPlatform(Platform{});
    LauncherTest::ResetLauncherGlobals();
  }
  void Image(const std::string& wim, bool sdi) {
    if (!wim.empty()) WriteHostFile(dir.path() + kImageFolder + "/Winre.wim", wim);
    if (sdi) WriteHostFile(dir.path() + kImageFolder + "/boot.sdi", "$SDI0001" + std::string(504, '\0'));
  }
};

struct Row {
  const char* name;
  std::function<void(Machine&)> arrange;
  bool ready;
  std::vector<const char*> reason;  // parts of the reason; "!..." what it must not say
  std::vector<const char*> json;    // parts of the JSON
};

// BitLocker's answer for the machine's lettered volumes, C: first, each with
// the volume's own name as WMI gives it.
void Encrypted(Machine& m, const std::vector<std::int32_t>& statuses) {
  std::vector<sim::SimEncryptableVolume> volumes;
  std::vector<std::wstring> letters;
  for (wchar_t letter = L'C'; volumes.size() < statuses.size(); ++letter) {
    for (const sim::SimVolumes::Info& v : m.machine.volumes().Volumes()) {
      if (v.letter != letter) continue;
      volumes.push_back({v.name, statuses[volumes.size()], false});
      letters.push_back(std::wstring(1, letter) + L":");
    }
  }
  m.machine.wmi().SetEncryptableVolumes(volumes);
  m.machine.wmi().SetEncryptableVolumeLetters(letters);
}

std::string Json(const check::CheckFacts& facts) {
  struct : TextSink {
    void Write(const char* bytes, std::size_t count) override { text.append(bytes, count); }
    std::string text;
  } sink;
  JsonOut writer(sink);
  writer.BeginObject();
  check::WriteCheckMembers(facts, writer);
  writer.EndObject();
  KeepCheckAnswers(sink.text);
  return sink.text;
}

std::string Report(const check::CheckFacts& facts) {
  struct : TextSink {
    void Write(const char* bytes, std::size_t count) override { text.append(bytes, count); }
    std::string text;
  } sink;
  check::WriteCheckReport(facts, sink);
  return sink.text;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

const char kUndo[] = "\"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe\" /DISABLE";

// A whole journal beside the installed launcher, as an arming that was never undone leaves it.
void WriteJournal(Machine& m) {
  char text[kJournalBytes];
  const std::size_t size = FormatJournal(ArmingJournal{}, text);
  ASSERT_NE(size, 0u);
  WriteHostFile(m.machine.HostPath(L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.journal"),
                std::string(text, size));
}

// The MBR notebook with its recovery partition's type and active flag as given;
// Windows is active exactly when the recovery partition is not.
Bytes MbrNotebookWith(std::uint8_t recoveryType, bool recoveryActive) {
  Fat32Params fat;
  fat.rootEntries = {{DirEntry{"RECOVERY   ", 0x08}}};
  Bytes disk = MbrBuilder(kNotebookSectors)
                   .Primary(0, 0x07, 2048, 8192, !recoveryActive)
                   .Primary(1, 0x07, 10240, 4096)
                   .Primary(2, recoveryType, 14336, 8192, recoveryActive)
                   .Build();
  Place(disk, 2048ull * 512, NotebookNtfs(u"Windows"));
  Place(disk, 10240ull * 512, NotebookNtfs(u"Data"));
  Place(disk, 14336ull * 512, BuildFat32(fat).bytes);
  return disk;
}

const char kGptLocation[] =
    "<WinreLocation path=\"\\Recovery\\WindowsRE\" id=\"0\" offset=\"7340032\" "
    "guid=\"{12345678-1234-5678-9ABC-DEF012345678}\"/>";

TEST(CheckRecoveryPath, SaysWhatStopsTheRecoveryAndWhatToDo) {
  const std::wstring entry = sim::DefaultRecoveryEntryId(sim::BcdMachineFacts{});
  const std::string entryUtf8(entry.begin(), entry.end());
  const std::string reagentLive = ReAgent(entryUtf8.c_str(), kGptLocation, 1);
  const std::vector<Row> rows = {
      {"ImageAndSdiPresent",
       [&](Machine& m) {
         m.machine.AddDiskBytes(GptNotebookWithGuid());
         m.machine.windowsTools().LoadListing(Listing(true));
         m.Image(Wim(), true);
         WriteHostFile(m.dir.path() + kReAgentPath, reagentLive);
       },
       true,
       {},
       {"\"state\": \"present\", \"error\": null, \"error_text\": null, \"size\": 4096, \"image_count\": 1, "
        "\"boot_index\": 1, "
        "\"sdi\": "
        "\"present\"",
        "\"path\": \"C:\\\\Recovery\\\\WindowsRE\\\\Winre.wim\"", "\"reagent\": \"present\"",
        "\"enabled\": true",
        "\"location\": {\"path\": \"\\\\Recovery\\\\WindowsRE\", \"offset\": 7340032, \"disk\": 0, "
        "\"partition\": 4}",
        "\"is_launcher_entry\": true, \"is_recovery_partition\": true", "\"boot_signature\": null",
        "\"armed\": {\"now\": false",
        "\"boot_manager\": {\"default\": \"{current}\", \"display_order\": [\"{current}\"], "
        "\"timeout\": 30, \"customactions\": null",
        "\"trust\": {\"fwmode_tool\": true", "\"windows_build\": \"10.0.22631\""}},
      {"ImageMissing",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook());
         m.machine.windowsTools().LoadListing(Listing(true));
         m.Image("", true);
       },
       false,
       {"C:\\Recovery\\WindowsRE\\Winre.wim",
        "is missing (Windows error 2 (The system cannot find the file specified.))"},
       {"\"state\": \"missing\"", "\"reagent\": \"absent\"", "\"is_launcher_entry\": null"}},
      {"NotAWim",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook());
         m.machine.windowsTools().LoadListing(Listing(true));
         m.Image(std::string(4096, 'x'), true);
       },
       false,
       {"C:\\Recovery\\WindowsRE\\Winre.wim", "is not a WIM"},
       {"\"state\": \"not-a-wim\""}},
      {"WimCutShort",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook());
         m.machine.windowsTools().LoadListing(Listing(true));
         // The lookup table's stored size (7 bytes at 48) and offset (at 56):
         // it lies where the file, cut at 4096 bytes, no longer reaches.
         std::string wim = Wim();
         wim[48] = 0x40;
         wim[57] = 0x10;
         m.Image(wim, true);
       },
       false,
       {"C:\\Recovery\\WindowsRE\\Winre.wim", "is not a WIM file", "lookup table beyond the end"},
       {"\"state\": \"not-a-wim\""}},
      {"BootSdiEmpty",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook());
         m.machine.windowsTools().LoadListing(Listing(true));
         m.Image(Wim(), false);
         WriteHostFile(m.dir.path() + kImageFolder + "/boot.sdi", "");
       },
       false,
       {"C:\\Recovery\\WindowsRE\\boot.sdi", "it is empty", "counts as missing"},
       {"\"sdi\": \"missing\""}},
      {"BootSdiMissing",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook());
         m.machine.windowsTools().LoadListing(Listing(true));
         m.Image(Wim(), false);
       },
       false,
       {"boot.sdi", "C:\\Recovery\\WindowsRE\\boot.sdi"},
       {"\"sdi\": \"missing\""}},
      {"WindowsReDisabled",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebookWithGuid());
         m.machine.windowsTools().LoadListing(Listing(false));
         WriteHostFile(m.dir.path() + kReAgentPath,
                       ReAgent("{00000000-0000-0000-0000-000000000000}",
                               "<WinreLocation path=\"\" id=\"0\" offset=\"0\" "
                               "guid=\"{00000000-0000-0000-0000-000000000000}\"/>",
                               0));
       },
       false,
       {"Windows RE is disabled", "Winre.wim is missing, so reagentc /enable cannot work",
        "installation media"},
       {"\"enabled\": false, \"bcd_id\": null, \"location\": null, \"is_launcher_entry\": null, "
        "\"is_recovery_partition\": null",
        "\"system32_image\": \"missing\"", "\"recovery_image\": null"}},
      {"ReAgentNamesAnotherEntryAndPlace",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebookWithGuid());
         m.machine.windowsTools().LoadListing(Listing(true));
         m.Image(Wim(), true);
         WriteHostFile(m.dir.path() + kReAgentPath,
                       ReAgent("{11111111-2222-3333-4444-555555555555}",
                               "<WinreLocation path=\"\\Recovery\\WindowsRE\" id=\"0\" offset=\"3145728\" "
                               "guid=\"{12345678-1234-5678-9ABC-DEF012345678}\"/>",
                               1));
       },
       true,
       {},
       {"\"disk\": 0, \"partition\": 3}", "\"is_launcher_entry\": false, \"is_recovery_partition\": false"}},
      {"WindowsReOnCWithoutARecoveryPartition",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook(false));
         m.machine.windowsTools().LoadListing(Listing(true));
         m.Image(Wim(), true);
       },
       false,
       {"None of the 1 disk(s) searched has a recovery partition",
        "loader {6F0C2A13-8D1D-11E9-A5C2-C8F750A1B2C3} starts ramdisk=[C:]\\Recovery\\WindowsRE\\Winre.wim",
        "the launcher needs Windows RE on a recovery partition", "TAVU Service Center restores"},
       {"\"loader\": {\"id\": \"{6F0C2A13-8D1D-11E9-A5C2-C8F750A1B2C3}\", \"device\": \"ramdisk=[C:]"}},
      {"OrphanLoaderBeforeTheLiveOne",
       [&](Machine& m) {
         m.machine.AddDiskBytes(GptNotebookWithGuid());
         m.machine.windowsTools().LoadListing(Listing(true, sim::WinReState::Orphan));
         m.Image(Wim(), true);
         WriteHostFile(m.dir.path() + kReAgentPath, reagentLive);
       },
       true,
       {},
       {"\"recovery_partitions\": [{\"disk\": 0, \"partition\": 4, \"live\": true}]",
        "\"orphan_entries\": [\"{6F0C2A15-8D1F-11E9-A5C2-C8F750A1B2C3}\"]",
        "\"recovery_partition\": {\"result\": 0, \"disk\": 0, \"partition\": 4, \"disks_searched\": 1, "
        "\"failure\": null, \"size\": 4194304"}},
      {"BitLockerNamedByLetterWithTheWayOut",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook());
         m.machine.wmi().AddEncryptableVolume(1);
       },
       false,
       {"C: (disk and partition unknown): protected (status 1)", "manage-bde -protectors -disable C: -rc 1"},
       {"\"query\": \"ok\"", "\"letter\": \"C:\", \"status\": 1, \"disk\": null, \"partition\": null"}},
      {"BitLockerOnTheDataVolumeOnly",
       [](Machine& m) {
         m.machine.AddDiskBytes(MbrNotebook());
         Encrypted(m, {0, 1});
       },
       false,
       {"D: (disk 0, partition 2): protected (status 1)", "Suspend", "manage-bde -protectors -disable D:.",
        "!disable C:", "!D: -rc", "!unlock"},
       {"\"letter\": \"D:\", \"status\": 1, \"disk\": 0, \"partition\": 2"}},
      {"BitLockerLockedVolumeUnlockedFirst",
       [](Machine& m) {
         m.machine.AddDiskBytes(MbrNotebook());
         Encrypted(m, {1, 2});
       },
       false,
       {"C: (disk 0, partition 1): protected (status 1); D: (disk 0, partition 2): locked (status 2)",
        "First unlock: manage-bde -unlock D: -RecoveryPassword",
        "Then suspend protection (the launcher reads only the protection status): manage-bde -protectors "
        "-disable C: -rc 1, then manage-bde -protectors -disable D:.",
        "!D: -rc"},
       {"\"letter\": \"C:\", \"status\": 1, \"disk\": 0, \"partition\": 1"}},
      {"EntryAndReAgentNameDifferentVolumes",
       [&](Machine& m) {
         // The entry starts the image on C:, where it is not; ReAgent.xml's
         // WinreLocation names the recovery partition.
         m.machine.AddDiskBytes(GptNotebookWithGuid());
         m.machine.windowsTools().LoadListing(Listing(true));
         m.Image("", true);
         WriteHostFile(m.dir.path() + kReAgentPath, reagentLive);
       },
       false,
       {"and ReAgent.xml disagree", "C:\\Recovery\\WindowsRE\\Winre.wim on disk 0, partition 3, C:",
        "WinreLocation names disk 0, partition 4, \\\\?\\Volume{", "reagentc /disable, then reagentc /enable",
        "!Put Winre.wim back there"},
       {"\"state\": \"missing\""}},
      {"NoListingButAnErrorMessage",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook());
         m.machine.windowsTools().LoadListing(L"Access is denied.\r\n");
       },
       false,
       {"printed no listing", "\"Access is denied.\"",
        "capture it with `bcdedit /enum all > listing.txt` in an elevated cmd.exe (Run as administrator)",
        "!No entry of the bcdedit"},
       {"\"first_line\": \"Access is denied.\""}},
      {"BitLockerQueryFailsIsNotAClean",
       [](Machine& m) {
         m.machine.AddDiskBytes(MbrNotebook());
         m.machine.wmi().SetBitLockerNamespace(false);
       },
       true,
       {},
       {"\"bitlocker\": {\"result\": 0, \"query\": \"failed\"", "\"boot_signature\": true"}},
      {"MbrWithoutBootSignature",
       [](Machine& m) {
         Bytes disk = MbrNotebook();
         disk[14336ull * 512 + 510] = 0;
         m.machine.AddDiskBytes(disk);
       },
       false,
       {"(disk 0, partition 3) does not end with the boot signature 0x55 0xAA"},
       {"\"boot_signature\": false", "\"type\": \"0x1C\", \"active\": false"}},
      {"MbrLeftHalfArmed",
       [](Machine& m) {
         Bytes disk = MbrBuilder(kNotebookSectors)
                          .Primary(0, 0x07, 2048, 8192)
                          .Primary(1, 0x07, 10240, 4096)
                          .Primary(2, 0x0C, 14336, 8192, true)
                          .Build();
         m.machine.AddDiskBytes(disk);
       },
       false,
       {"already visible (type 0x0C) and active", "stopped half-way", "set id=1c override"},
       {"\"now\": true, \"half_armed\": true",
        "\"partition\": {\"disk\": 0, \"partition\": 3, \"type\": \"0x0C\", \"active\": true, "
        "\"windows_partition\": 1, \"windows_partition_active\": false}"}},
      {"UserWritableInstallFolder",
       [](Machine& m) {
         m.machine.AddDiskBytes(MbrNotebook());
         m.machine.files().AddUserWritable(L"C:\\Program Files\\TAVU");
       },
       true,
       {},
       {"\"trust\": {\"fwmode_tool\": false, \"task_program\": null, \"reason\": \"A standard user can "
        "change the "
        "installed launcher"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto facts = std::make_unique<check::CheckFacts>();
    {
      Machine m;
      row.arrange(m);
      check::RunCheck(facts.get());
    }
    EXPECT_EQ(facts->ready, row.ready);
    std::wstring wide(facts->reason);
    const std::string reason(wide.begin(), wide.end());
    for (const char* part : row.reason) {
      if (part[0] == '!') {
        EXPECT_EQ(reason.find(part + 1), std::string::npos) << part << "\n" << reason;
      } else {
        EXPECT_NE(reason.find(part), std::string::npos) << part << "\n" << reason;
      }
    }
    const std::string json = Json(*facts);
    for (const char* part : row.json) EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  }
}

// How far a machine is armed, whatever left it so, and where it starts next:
// the report's first line says it before anything else.
TEST(CheckRecoveryPath, SaysHowFarTheMachineIsArmedAndWhatStartsNext) {
  const std::wstring entry = sim::DefaultRecoveryEntryId(sim::BcdMachineFacts{});
  const auto onlyDisplayOrder = [&](Machine& m) {
    m.machine.AddDiskBytes(GptNotebook());
    std::wstring listing = Listing(true);
    const std::wstring order = L"displayorder            ";
    const std::size_t at = listing.find(order + L"{current}");
    ASSERT_NE(at, std::wstring::npos);
    listing.replace(at, order.size() + 9, order + entry);
    m.machine.windowsTools().LoadListing(listing);
    m.Image(Wim(), true);
  };
  const std::string byHand = std::string(". The journal is absent, so ") + kUndo +
                             " cannot undo it: undo it by hand as \"Armed\" below says";
  const std::string undo = std::string(". Undo it with: ") + kUndo;
  struct ArmedRow {
    const char* name;
    std::function<void(Machine&)> arrange;
    MenuRule rule;
    std::string firstLine;
    std::vector<const char*> json;
  };
  const std::vector<ArmedRow> rows = {
      {"OnlyDisplayOrderChanged",
       onlyDisplayOrder,
       MenuRule::First,
       "TAVU Recovery check: half-armed, the next start goes into recovery" + byHand,
       {"\"armed_state\": \"half-armed\"",
        "\"now\": true, \"half_armed\": true, \"next_start\": \"recovery\"",
        "\"customactions\": false, \"custom_entry\": false, \"display_order_first\": true"}},
      {"OnlyDisplayOrderChangedWithTheDefaultRule",
       onlyDisplayOrder,
       MenuRule::Default,
       "TAVU Recovery check: half-armed, the next start goes into Windows" + byHand,
       {"\"now\": true, \"half_armed\": true, \"next_start\": \"windows\""}},
      {"MbrRecoveryVisibleButNotActive",
       [](Machine& m) { m.machine.AddDiskBytes(MbrNotebookWith(0x0C, false)); },
       MenuRule::First,
       "TAVU Recovery check: half-armed, the next start goes into Windows" + byHand,
       {"\"next_start\": \"windows\"", "\"partition_visible\": true, \"partition_active\": false"}},
      {"MbrRecoveryActiveButStillHidden",
       [](Machine& m) { m.machine.AddDiskBytes(MbrNotebookWith(0x1C, true)); },
       MenuRule::First,
       "TAVU Recovery check: half-armed, the next start goes into recovery" + byHand,
       {"\"next_start\": \"recovery\"", "\"partition_visible\": false, \"partition_active\": true"}},
      {"JournalWithNothingVisible",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook());
         WriteJournal(m);
       },
       MenuRule::First,
       "TAVU Recovery check: half-armed, the next start goes into Windows" + undo,
       {"\"verdict\": \"abort\", \"armed_state\": \"half-armed\"", "\"next_start\": \"windows\"",
        "\"journal\": {\"path\": \"C:\\\\Program Files\\\\TAVU\\\\TAVU Recovery Launcher\\\\TAVU "
        "Recovery.journal\", \"state\": \"present\"}"}},
      {"JournalInAFolderUsersMayChange",
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook());
         WriteJournal(m);
         m.machine.files().AddUserWritable(L"C:\\Program Files\\TAVU");
       },
       MenuRule::First,
       "TAVU Recovery check: abort",
       {"\"verdict\": \"abort\", \"armed_state\": \"not-armed\"", "\"state\": \"untrusted\"}",
        "is not one the launcher trusts"}},
  };
  for (const ArmedRow& row : rows) {
    SCOPED_TRACE(row.name);
    auto facts = std::make_unique<check::CheckFacts>();
    {
      Machine m;
      row.arrange(m);
      check::CheckOptions options;
      options.menuRule = row.rule;
      check::RunCheck(facts.get(), options);
    }
    EXPECT_EQ(FirstLine(Report(*facts)), row.firstLine) << facts->nextStart.why;
    const std::string json = Json(*facts);
    for (const char* part : row.json) EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  }
}

// The worker arms a machine; the check, run after it on that machine, must
// see it armed, and must have named the very lines the worker wrote.
TEST(CheckRecoveryPath, SeesTheMachineTheWorkerArmed) {
  for (int run = 0; run < 3; ++run) {
    const bool gpt = run == 0;
    // On the MBR route the worker takes the recovery volume offline; where
    // Windows refuses, the check must say that users can still reach it.
    const bool offlineRefused = run == 2;
    SCOPED_TRACE(gpt ? "GPT" : offlineRefused ? "MBR, offline refused" : "MBR");
    Machine m;
    m.machine.AddDiskBytes(gpt ? GptNotebook() : MbrNotebook());
    if (offlineRefused) m.machine.faults().FailAll(sim::SimOp::VolumeOffline);
    g_mainWindow = reinterpret_cast<Handle>(static_cast<std::uintptr_t>(0x30142));
    auto before = std::make_unique<check::CheckFacts>();
    check::RunCheck(before.get());
    EXPECT_FALSE(before->armedNow);
    ASSERT_EQ(RecoveryWorker(nullptr), 0u);
    std::string written;
    for (const sim::SimScriptRun& run : m.machine.windowsTools().programs().scriptRuns()) {
      if (run.script.find("custom:5400000f") != std::string::npos) written = run.script;
    }
    auto after = std::make_unique<check::CheckFacts>();
    check::RunCheck(after.get());
    EXPECT_TRUE(after->armedNow);
    EXPECT_FALSE(after->halfArmed);
    EXPECT_TRUE(after->taskRegistered);
    EXPECT_EQ(after->journalState, JournalState::Present);
    // The firmware mode the worker switched on cannot be read: the menu, or
    // the active partition, takes the next start into recovery without it.
    EXPECT_EQ(after->nextStart.next, NextStart::Recovery) << after->nextStart.why;
    EXPECT_EQ(
        FirstLine(Report(*after)),
        std::string("TAVU Recovery check: armed, the next start goes into recovery. Undo it with: ") + kUndo);
    EXPECT_EQ(after->reachAsked, !gpt);
    if (!gpt) {
      EXPECT_EQ(after->reach, offlineRefused ? VolumeReach::Reachable : VolumeReach::Offline);
      continue;
    }
    check::ArmingLines lines;
    ASSERT_TRUE(check::FormatArmingLines(before->entryId, &lines));
    std::string expected;
    for (const auto& line : lines.line) expected += std::string(line, line + std::wcslen(line)) + "\r\n";
    EXPECT_EQ(written, expected);
  }
}

// Every answer the check can give reaches a fleet's tools the same way: the
// exit status, one word for the cause, a summary short enough for Intune, the
// record under HKLM with its event, and JSON that the published schema
// accepts and that the event messages built into the check know.
TEST(CheckRecoveryPath, EveryAnswerTravelsAsOneWordOneLineAndOneRecord) {
  const std::wstring entry = sim::DefaultRecoveryEntryId(sim::BcdMachineFacts{});
  const auto gptWith = [](Machine& m, bool loader, bool wim, bool sdi) {
    m.machine.AddDiskBytes(GptNotebook());
    m.machine.windowsTools().LoadListing(Listing(loader));
    m.Image(wim ? Wim() : "", sdi);
  };
  const auto ready = [&](Machine& m) { gptWith(m, true, true, true); };
  struct Answer {
    check::ReasonCode code;
    bool ready;
    std::function<void(Machine&)> arrange;
  };
  using check::ReasonCode;
  const std::vector<Answer> answers = {
      {ReasonCode::None, true, ready},
      {ReasonCode::HalfArmed, true,
       [&](Machine& m) {
         ready(m);
         std::wstring listing = Listing(true);
         const std::wstring order = L"displayorder            ";
         listing.replace(listing.find(order + L"{current}"), order.size() + 9, order + entry);
         m.machine.windowsTools().LoadListing(listing);
       }},
      {ReasonCode::Armed, false,
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook());
         g_mainWindow = reinterpret_cast<Handle>(static_cast<std::uintptr_t>(0x30142));
         ASSERT_EQ(RecoveryWorker(nullptr), 0u);
         // The check runs later, in a process of its own.
         LauncherTest::ArrangeWindowStart(m.machine, m.dir.path());
       }},
      {ReasonCode::HalfArmed, false,
       [&](Machine& m) {
         ready(m);
         WriteJournal(m);
       }},
      {ReasonCode::ManufacturerRefused, false,
       [&](Machine& m) {
         ready(m);
         m.machine.wmi().SetManufacturer(L"Acme \u00C9lectronique \u6771\u829D");
       }},
      {ReasonCode::BitLockerProtected, false,
       [&](Machine& m) {
         ready(m);
         m.machine.wmi().AddEncryptableVolume(1);
       }},
      {ReasonCode::JournalUntrusted, false,
       [&](Machine& m) {
         ready(m);
         WriteJournal(m);
         m.machine.files().AddUserWritable(L"C:\\Program Files\\TAVU");
       }},
      {ReasonCode::JournalUnreadable, false,
       [&](Machine& m) {
         ready(m);
         WriteHostFile(
             m.machine.HostPath(L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.journal"),
             "not a journal");
       }},
      {ReasonCode::PartitionTableUnreadable, false,
       [&](Machine& m) {
         ready(m);
         m.machine.faults().FailAll(sim::SimOp::DiskLayoutQuery);
       }},
      {ReasonCode::NoRecoveryPartition, false,
       [](Machine& m) { m.machine.AddDiskBytes(GptNotebook(false)); }},
      {ReasonCode::ListingNotMade, false,
       [&](Machine& m) {
         ready(m);
         m.machine.faults().FailAll(sim::SimOp::FileWrite);
       }},
      {ReasonCode::ListingUnreadable, false,
       [&](Machine& m) {
         ready(m);
         m.machine.faults().FailAll(sim::SimOp::FileRead);
       }},
      {ReasonCode::WinreDisabled, false,
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebookWithGuid());
         m.machine.windowsTools().LoadListing(Listing(false));
         WriteHostFile(m.dir.path() + kReAgentPath,
                       ReAgent("{00000000-0000-0000-0000-000000000000}",
                               "<WinreLocation path=\"\" id=\"0\" offset=\"0\" "
                               "guid=\"{00000000-0000-0000-0000-000000000000}\"/>",
                               0));
       }},
      {ReasonCode::NoRecoveryEntry, false, [&](Machine& m) { gptWith(m, false, true, true); }},
      {ReasonCode::ImageMissing, false, [&](Machine& m) { gptWith(m, true, false, true); }},
      {ReasonCode::ImageNotWim, false,
       [&](Machine& m) {
         gptWith(m, true, false, true);
         m.Image(std::string(4096, 'x'), false);
       }},
      {ReasonCode::SdiMissing, false, [&](Machine& m) { gptWith(m, true, true, false); }},
      {ReasonCode::NoBootSignature, false,
       [](Machine& m) {
         Bytes disk = MbrNotebook();
         disk[14336ull * 512 + 510] = 0;
         m.machine.AddDiskBytes(disk);
       }},
      {ReasonCode::RecoveryLabelWrong, false,
       [](Machine& m) { m.machine.AddDiskBytes(MbrNotebook("DATA       ")); }},
      {ReasonCode::RecoveryLabelUnreadable, false,
       [](Machine& m) {
         // A boot sector with its signature and nothing else: no file system to read a label from.
         Bytes disk = MbrNotebook();
         std::fill(disk.begin() + 14336 * 512, disk.begin() + 14337 * 512, 0);
         disk[14336ull * 512 + 510] = 0x55;
         disk[14336ull * 512 + 511] = 0xAA;
         m.machine.AddDiskBytes(disk);
       }},
      {ReasonCode::BitLockerLocked, false,
       [](Machine& m) {
         m.machine.AddDiskBytes(MbrNotebook());
         Encrypted(m, {1, 2});
       }},
      {ReasonCode::WinreLocationMismatch, false,
       [&](Machine& m) {
         m.machine.AddDiskBytes(GptNotebookWithGuid());
         m.machine.windowsTools().LoadListing(Listing(true));
         m.Image("", true);
         const std::string id(entry.begin(), entry.end());
         WriteHostFile(m.dir.path() + kReAgentPath, ReAgent(id.c_str(), kGptLocation, 1));
       }},
      {ReasonCode::WinreOnWindowsVolume, false,
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook(false));
         m.machine.windowsTools().LoadListing(Listing(true));
         m.Image(Wim(), true);
       }},
      {ReasonCode::ListingInvalid, false,
       [](Machine& m) {
         m.machine.AddDiskBytes(GptNotebook());
         m.machine.windowsTools().LoadListing(L"Access is denied.\r\n");
       }},
  };
  std::vector<bool> reached(check::kReasonCodeCount, false);
  const std::string messages = ReadHostFile(TAVU_SOURCE_DIR "/check/res/check_events.mc");
  for (const Answer& a : answers) {
    const char* word = check::ReasonCodeWord(a.code);
    SCOPED_TRACE(std::string(word != nullptr ? word : "ready") + (a.ready ? ", ready" : ", abort"));
    auto facts = std::make_unique<check::CheckFacts>();
    std::vector<sim::SimRegistryValue> values;
    std::vector<sim::SimEvent> events;
    {
      Machine m;
      a.arrange(m);
      check::RunCheck(facts.get());
      EXPECT_TRUE(m.machine.record().values().empty()) << "the check wrote a record unasked";
      EXPECT_TRUE(check::WriteRecord(*facts).written());
      values = m.machine.record().values();
      events = m.machine.record().events();
    }
    EXPECT_EQ(facts->reasonCode, a.code) << ::testing::PrintToString(std::wstring(facts->reason));
    EXPECT_EQ(facts->ready, a.ready);
    reached[static_cast<std::size_t>(a.code)] = true;
    EXPECT_EQ(check::CheckExitStatus(*facts), a.code == ReasonCode::None ? 0 : 1);
    EXPECT_EQ(facts->decidingError != 0, a.code == ReasonCode::PartitionTableUnreadable ||
                                             a.code == ReasonCode::ImageMissing ||
                                             a.code == ReasonCode::SdiMissing ||
                                             a.code == ReasonCode::WinreLocationMismatch);

    check::SummaryLine summary;
    check::FormatSummary(*facts, &summary);
    const std::string line(summary.text, summary.length);
    EXPECT_LE(line.size(), check::kSummaryChars);
    EXPECT_EQ(line.back(), '}') << "cut short: " << line;
    EXPECT_NE(line.find(word != nullptr ? "\"reason_code\": \"" + std::string(word) + "\""
                                        : std::string("\"reason_code\": null")),
              std::string::npos)
        << line;
    KeepCheckAnswers(line);
    (void)Json(*facts);

    const std::string id = std::to_string((a.ready ? 1000 : 2000) + static_cast<int>(a.code));
    const std::wstring wideLine(line.begin(), line.end());
    const std::wstring wideWord = word != nullptr ? std::wstring(word, word + std::strlen(word)) : L"";
    ASSERT_EQ(values.size(), 6u);
    const std::wstring names[] = {L"SchemaVersion", L"Verdict",    L"ReasonCode",
                                  L"Win32Error",    L"LastRunUtc", L"Summary"};
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(values[i].key, L"SOFTWARE\\TAVU\\RecoveryCheck");
      EXPECT_EQ(values[i].name, names[i]);
      EXPECT_EQ(values[i].isText, i != 0 && i != 3) << i;
    }
    EXPECT_EQ(values[0].number, 1u);
    EXPECT_EQ(values[1].text, a.ready ? L"ready" : L"abort");
    EXPECT_EQ(values[2].text, wideWord);
    EXPECT_EQ(values[3].number, facts->decidingError);
    EXPECT_EQ(values[4].text, L"2014-03-02T09:05:07Z");
    EXPECT_EQ(values[5].text, wideLine);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, L"TAVU Recovery Check");
    EXPECT_EQ(std::to_string(events[0].id), id);
    EXPECT_EQ(events[0].kind, !a.ready                     ? EventKind::Error
                              : a.code == ReasonCode::None ? EventKind::Information
                                                           : EventKind::Warning);
    EXPECT_EQ(events[0].text, wideLine);
    // The message the event viewer shows for that ID names the same answer.
    const std::size_t at = messages.find("MessageId=" + id + "\n");
    ASSERT_NE(at, std::string::npos) << "no message " << id << " in check_events.mc";
    const std::string text = messages.substr(at, messages.find("\n.\n", at) - at);
    EXPECT_NE(text.find(word != nullptr ? "(" + std::string(word) + ")" : ": ready."), std::string::npos)
        << text;
    EXPECT_NE(text.find("%1"), std::string::npos) << text;
  }
  for (int code = 0; code < check::kReasonCodeCount; ++code) {
    const char* word = check::ReasonCodeWord(static_cast<ReasonCode>(code));
    EXPECT_TRUE(reached[static_cast<std::size_t>(code)]) << (word != nullptr ? word : "ready");
  }
}

// Windows' conventions for switches, and the argument that is none named.
TEST(CheckSwitches, FollowWindowsConventions) {
  struct Case {
    std::vector<const wchar_t*> args;
    check::CheckMode mode;
    const wchar_t* unknown;
  };
  const std::vector<Case> cases = {
      {{}, check::CheckMode::Report, nullptr},
      {{L"/json"}, check::CheckMode::Json, nullptr},
      {{L"-JSON"}, check::CheckMode::Json, nullptr},
      {{L"--json"}, check::CheckMode::Json, nullptr},
      {{L"/?"}, check::CheckMode::Help, nullptr},
      {{L"-h"}, check::CheckMode::Help, nullptr},
      {{L"/Help"}, check::CheckMode::Help, nullptr},
      {{L"/json", L"/?"}, check::CheckMode::Help, nullptr},
      {{L"json"}, check::CheckMode::Unknown, L"json"},
      {{L"/json", L"/nonsense", L"x"}, check::CheckMode::Unknown, L"/nonsense"},
      {{L"---json"}, check::CheckMode::Unknown, L"---json"},
      {{L""}, check::CheckMode::Unknown, L""},
      {{L"/summary"}, check::CheckMode::Summary, nullptr},
      {{L"--Summary", L"-json"}, check::CheckMode::Summary, nullptr},
      {{L"/record"}, check::CheckMode::Report, nullptr},
      {{L"/summary", L"/bogus"}, check::CheckMode::Unknown, L"/bogus"},
  };
  for (const Case& c : cases) {
    std::vector<const wchar_t*> argv = {L"TavuRecoveryCheck.exe"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const wchar_t* unknown = L"(untouched)";
    EXPECT_EQ(check::ParseCheckArgs(static_cast<int>(argv.size()), argv.data(), &unknown), c.mode)
        << argv.size();
    if (c.unknown == nullptr) {
      EXPECT_EQ(unknown, nullptr);
    } else {
      ASSERT_NE(unknown, nullptr);
      EXPECT_EQ(std::wstring(unknown), c.unknown);
    }
  }
  // /record rides along with any answer; a caller that asked for JSON hears
  // of its usage error in JSON too.
  struct Flags {
    std::vector<const wchar_t*> args;
    bool answerInJson;
    bool record;
  };
  const std::vector<Flags> flags = {
      {{L"/summary", L"/bogus"}, true, false},
      {{L"json", L"summary"}, false, false},
      {{L"---json"}, false, false},
      {{L"-JSON", L"/record"}, true, true},
      {{L"--RECORD"}, false, true},
  };
  for (const Flags& f : flags) {
    std::vector<const wchar_t*> argv = {L"TavuRecoveryCheck.exe"};
    argv.insert(argv.end(), f.args.begin(), f.args.end());
    const check::CheckArgs args = check::ReadCheckArgs(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(args.answerInJson, f.answerInJson) << argv.size();
    EXPECT_EQ(args.record, f.record) << argv.size();
  }
}

}  // namespace
}  // namespace tavu::test
