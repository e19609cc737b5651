// The support check against the launcher itself: on machines made to fail in
// each way the launcher can foresee, the check's verdict and message must be
// what the real worker then shows, and its reason must name the cause.
#include "check/recovery_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "check/check_report.h"
#include "check/report_words.h"
#include "launcher/arming/arming_journal.h"
#include "launcher/arming/recovery_worker.h"
#include "sim/programs/windows_tools.h"
#include "tests/fixtures/check_answers.h"
#include "tests/fixtures/launcher_test.h"
#include "tests/fixtures/machine_snapshot.h"
#include "tests/fixtures/notebooks.h"
#include "tests/fixtures/temp_dir.h"

namespace tavu::test {
namespace {

const wchar_t kNotFound[] =
    L"Recovery partition cannot be found! Recovery process is aborted. Please contact TAVU Service Center for "
    L"further assistance.";
const wchar_t kBitLocker[] = L"Please disable BitLocker and try again.";
const wchar_t kPending[] =
    L"The recovery was prepared before and is not undone yet. Recovery process is aborted. Restart the "
    L"computer, or run \"TAVU Recovery.exe\" /DISABLE, and try again.";

// A whole journal beside the installed launcher, as an arming that was never undone leaves it.
void WriteJournal(sim::SimMachine& m) {
  char text[kJournalBytes];
  const std::size_t size = FormatJournal(ArmingJournal{}, text);
  ASSERT_NE(size, 0u);
  WriteHostFile(m.HostPath(L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.journal"),
                std::string(text, size));
}
Handle const kWindow = reinterpret_cast<Handle>(static_cast<std::uintptr_t>(0x30142));

// One machine as the launcher finds it when its window starts the worker.
struct Notebook {
  TempDir dir;
  sim::SimMachine machine{dir.path()};
  explicit Notebook(const std::function<void(sim::SimMachine&)>& arrange) {
    machine.Install();
    LauncherTest::ArrangeWindowStart(machine, dir.path());
    g_mainWindow = kWindow;
    arrange(machine);
  }
  ~Notebook() {
    SetPlatform(Platform{});
    LauncherTest::ResetLauncherGlobals();
  }
};

struct Row {
  const char* name;
  std::function<void(sim::SimMachine&)> arrange;
  const wchar_t* message;  // null: ready
  const char* reason;      // a part of the reason
  bool workerDecides = true;  // false: start-up decides before any worker runs
};

std::string Utf8(const wchar_t* text) {
  std::string out;
  for (; text != nullptr && *text != L'\0'; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

class RecoveryCheckTest : public ::testing::TestWithParam<Row> {};

TEST_P(RecoveryCheckTest, ForeseesWhatTheLauncherDoes) {
  const Row& row = GetParam();
  auto facts = std::make_unique<check::CheckFacts>();
  {
    Notebook n(row.arrange);
    const MachineSnapshot before = Snapshot(n.machine, n.dir.path());
    check::RunCheck(facts.get());
    n.machine.faults().Reset();
    EXPECT_TRUE(Snapshot(n.machine, n.dir.path()) == before) << "the check changed the machine";
    EXPECT_EQ(n.machine.handles().OpenCount(), 0u);
    EXPECT_TRUE(n.machine.ui().messageBoxes().empty());
    // The native command processor, without the owner's AutoRun, never
    // started while redirection was off.
    for (const sim::SimLaunch& l : n.machine.processes().launches()) {
      EXPECT_EQ(l.image, L"C:\\Windows\\System32\\cmd.exe");
      EXPECT_FALSE(l.redirectionOff);
      EXPECT_EQ(l.parameters, L"/d /c \"C:\\Windows\\Temp\\TavuRecoveryCheck.cmd\"");
    }
    for (const sim::SimScriptRun& run : n.machine.windowsTools().programs().scriptRuns()) {
      EXPECT_EQ(run.script, "@ECHO OFF\r\nbcdedit /enum all > \"C:\\Windows\\Temp\\TavuRecoveryCheck.txt\"\r\n");
    }
  }
  EXPECT_EQ(facts->ready, row.message == nullptr);
  if (row.message != nullptr) {
    EXPECT_STREQ(facts->abortMessage, row.message);
    EXPECT_NE(Utf8(facts->reason).find(row.reason), std::string::npos) << Utf8(facts->reason);
  } else {
    EXPECT_EQ(facts->abortMessage, nullptr);
  }
  if (!row.workerDecides) return;

  // The oracle: the worker on an identical machine.
  Notebook n(row.arrange);
  std::uint32_t exit = RecoveryWorker(nullptr);
  EXPECT_EQ(exit == 0, facts->ready);
  auto boxes = n.machine.ui().messageBoxes();
  if (row.message != nullptr) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, row.message);
  } else {
    EXPECT_TRUE(boxes.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    RecoveryCheck, RecoveryCheckTest,
    ::testing::ValuesIn(std::vector<Row>{
        {"GptNotebookIsReady", [](sim::SimMachine& m) { m.AddDiskBytes(GptNotebook()); }, nullptr, ""},
        {"MbrNotebookIsReady", [](sim::SimMachine& m) { m.AddDiskBytes(MbrNotebook()); }, nullptr, ""},
        {"OtherManufacturer",
         [](sim::SimMachine& m) {
           m.AddDiskBytes(GptNotebook());
           m.wmi().SetManufacturer(L"Other Computer Inc.");
         },
         kNotFound, "\"Other Computer Inc.\", which does not contain TAVU", false},
        {"VolumeProtected",
         [](sim::SimMachine& m) {
           m.AddDiskBytes(GptNotebook());
           m.wmi().AddEncryptableVolume(0);
           m.wmi().AddEncryptableVolume(1);
         },
         kBitLocker, "protected (status 1)"},
        {"ProtectionUnknown",
         [](sim::SimMachine& m) {
           m.AddDiskBytes(MbrNotebook());
           m.wmi().AddEncryptableVolume(2);
         },
         kBitLocker, "locked (status 2). First unlock: manage-bde -unlock C:"},
        {"NoRecoveryPartition", [](sim::SimMachine& m) { m.AddDiskBytes(GptNotebook(false)); }, kNotFound,
         "None of the 1 disk(s) searched"},
        {"LayoutQueryFails",
         [](sim::SimMachine& m) {
           m.AddDiskBytes(GptNotebook());
           m.faults().FailAll(sim::SimOp::DiskLayoutQuery);
         },
         kNotFound, "The partition table of disk 0 could not be read (Windows error "},
        {"ListingWithoutRecoveryEntry",
         [](sim::SimMachine& m) {
           m.AddDiskBytes(GptNotebook());
           sim::BcdMachineFacts facts;
           facts.recoveryVolume = 0;
           m.windowsTools().LoadListing(sim::DefaultBcdListing(facts));
         },
         kNotFound, "is followed by a line naming \\Recovery\\WindowsRE\\Winre.wim"},
        {"EarlierArmingNotUndone",
         [](sim::SimMachine& m) {
           m.AddDiskBytes(GptNotebook());
           WriteJournal(m);
         },
         kPending,
         "The journal of an earlier arming lies at C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU "
         "Recovery.journal"},
        {"MbrRecoveryPartitionLabelledOtherwise",
         [](sim::SimMachine& m) { m.AddDiskBytes(MbrNotebook("OEMDATA    ")); }, kNotFound,
         "(disk 0, partition 3) is labelled \"OEMDATA\", not Recovery"},
    }),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// What support reads off a ready GPT notebook, in JSON and in the report.
TEST(RecoveryCheckReport, NamesEveryFactTheVerdictRestsOn) {
  auto facts = std::make_unique<check::CheckFacts>();
  {
    Notebook n([](sim::SimMachine& m) {
      m.AddDiskBytes(MbrNotebook());
      m.wmi().SetManufacturer(L"TAVU Computer Inc.");
      m.wmi().AddEncryptableVolume(0);
      m.firmware().SetPresent(true);
      m.firmware().SetReply({9, 0, 0, 0});
    });
    check::RunCheck(facts.get());
  }
  struct : TextSink {
    void Write(const char* bytes, std::size_t count) override { text.append(bytes, count); }
    std::string text;
  } json, report;
  JsonOut writer(json);
  writer.BeginObject();
  check::WriteCheckMembers(*facts, writer);
  writer.EndObject();
  KeepCheckAnswers(json.text);
  check::WriteCheckReport(*facts, report);
  for (const char* part :
       {"\"verdict\": \"ready\"", "\"abort_message\": null", "\"reason\": null",
        "\"manufacturer\": {\"text\": \"TAVU Computer Inc.\", \"accepted\": true}", "\"windows64\": true",
        "\"status\": 0, \"disk\": null, \"partition\": null}]", "\"recovery_partition\": {\"result\": 0, \"disk\": 0, \"partition\": 3",
        "\"partition_style\": {\"result\": 0}", "\"route\": \"partition-table\"", "\"recovery_entry\": null",
        "\"recovery_volume\": {\"result\": 0, \"disk\": 0, \"partition\": 3, \"label\": \"RECOVERY\"",
        "\"firmware_status\": 9", "\"present\": true", "\"logon_task\": false",
        "\"version\": null, \"patcher_would\": \"replace\""}) {
    EXPECT_NE(json.text.find(part), std::string::npos) << part << "\n" << json.text;
  }
  for (const char* part : {"TAVU Recovery check: ready", "Firmware status     9 (the /AUTO start opens the window)",
                           "Recovery volume     disk 0, partition 3, labelled \"RECOVERY\"",
                           "Partition style     MBR: the partition-table route"}) {
    EXPECT_NE(report.text.find(part), std::string::npos) << part << "\n" << report.text;
  }
}

// A ticket's time says which clock it is: UTC with Z, else the local time with
// its offset, which may be negative and need not be whole hours.
TEST(RecoveryCheckReport, TimeSaysItsOffsetFromUtc) {
  struct {
    bool zoned;
    std::int32_t minutes;
    const wchar_t* text;
  } cases[] = {
      {false, 0, L"2026-12-09T09:20:05Z"},
      {true, 60, L"2026-12-09T10:20:05+01:00"},
      {true, -330, L"2026-12-09T10:20:05-05:30"},
      {true, 0, L"2026-12-09T10:20:05+00:00"},
  };
  for (const auto& c : cases) {
    check::AboutFacts about;
    about.utc = LocalTime{2026, 12, 9, 9, 20, 5};
    about.time = LocalTime{2026, 12, 9, 10, 20, 5};
    about.zoned = c.zoned;
    about.utcOffsetMinutes = c.minutes;
    wchar_t text[64];
    check::AboutTimeText(about, text, 64);
    EXPECT_EQ(std::wstring(text), c.text);
  }
}

}  // namespace
}  // namespace tavu::test
