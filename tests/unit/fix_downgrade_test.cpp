// The patch pass on the simulated machine: the exact log, what is written to
// which disk, which volumes get letters, and what becomes of the launcher.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "patcher/fix_downgrade.h"
#include "sim/seam/disks.h"
#include "tests/fixtures/disk_builders.h"
#include "tests/fixtures/patcher_log_lines.h"
#include "tests/fixtures/pe_builder.h"
#include "tests/fixtures/sim_test.h"
#include "tests/fixtures/version_block.h"

namespace tavu::test {
namespace {

using sim::DiskKind;
using sim::SimOp;
using Lines = std::vector<std::string>;

constexpr std::uint64_t kDiskSectors = 16 * kMiB / kSector;
constexpr std::uint64_t kHiddenNoLetter = 0xC000000000000000ull;

std::string Fix(const std::string& message) { return "[FixDowngarde]\t" + message; }
std::string DiskLine(int n) { return Fix("Disk: " + std::to_string(n)); }
std::string PartLine(int i) { return Fix("Partition: " + std::to_string(i)); }
const std::string kGpt = Fix("PARTITION_STYLE_GPT");
const std::string kMbr = Fix("PARTITION_STYLE_MBR");
const std::string kUnknown = Fix("PARTITION_STYLE_UNKNOWN");
const std::string kBasic = Fix("PARTITION_BASIC_DATA_GUID");
const std::string kUsb = Fix("Removable Media");
const std::string kPathsYes = "[SetVolumeLetter]\tGetVolumePathNamesForVolumeName return: true";
const std::string kNoVolume = "[FindVolume]\tCan not find volume";
const std::string kFound = Fix("Find TAVU Recovery");
const std::string kCopy = Fix("File version is older, copy file");
const std::string kKeep = Fix("File version is same or newer, do not copy");

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// A notebook disk after a downgrade: EFI, reserved, Windows (lettered
// at start), a data volume hidden by a downgrade.
Bytes NotebookDisk() {
  return GptBuilder(kDiskSectors)
      .Add(kEfiSystemType, 2048, 2048, 0, u"EFI system partition")
      .Add(kMsReservedType, 4096, 2048, 0, u"Microsoft reserved partition")
      .Add(kBasicDataType, 6144, 8192, 0, u"Basic data partition")
      .Add(kBasicDataType, 14336, 4096, kHiddenNoLetter, u"Data")
      .Build();
}

constexpr std::uint64_t kSmallDiskSectors = 2 * kMiB / kSector;
Bytes MbrDisk() { return MbrBuilder(kSmallDiskSectors).Primary(0, 0x07, 2048, 2048, true).Build(); }
Bytes RawDisk() { return Bytes(kSmallDiskSectors * kSector, 0); }
Bytes UsbGptStick() {
  return GptBuilder(kDiskSectors).Add(kBasicDataType, 2048, 8192, kHiddenNoLetter, u"Stick").Build();
}

class FixDowngradeTest : public SimTest {
 protected:
  FixDowngradeTest() {
    machine().resources().SetCarriedLauncher(carried_);
    // Automatic mounting off (mountvol /N, as on many managed images): every
    // letter a volume gets in these runs is the patcher's own.
    machine().volumes().SetAutomount(false);
  }
  void TearDown() override {
    EXPECT_EQ(machine().handles().OpenCount(), 0u);
    EXPECT_EQ(machine().handles().Misuses(), 0u);
  }

  std::string LauncherHost() { return root() + "/Program Files/TAVU/TAVU Recovery Launcher/TAVU Recovery.exe"; }
  void InstallLauncher(const std::string& fileVersion) {
    VersionContent content;
    content.tables = {{"040904b0", {{"FileVersion", fileVersion}}}};
    WriteHostFile(LauncherHost(), BuildPe(BuildVersionBlock(content)).bytes);
  }
  Lines Run() {
    patcher::FixDowngarde();
    return PatcherLogLines(Host(L"C:\\WIndows\\Temp\\TvPatchDowngrade.log"));
  }
  std::string Carried() const { return std::string(carried_.begin(), carried_.end()); }
  std::string DiskBytes(int n) {
    sim::DiskImage* image = machine().disks().Image(n);
    std::string bytes(image->size(), '\0');
    EXPECT_TRUE(image->Read(0, bytes.data(), bytes.size()));
    return bytes;
  }
  std::vector<std::uint64_t> Attributes(int n) {
    std::vector<std::uint64_t> out;
    for (const auto& e : machine().disks().Layout(n).entries) out.push_back(e.Gpt.Attributes);
    return out;
  }
  std::string VolumeAt(int disk, std::int64_t sector) {
    return Narrow(machine().volumes().VolumeOf(disk, sector * kSector).name);
  }

  const std::vector<std::uint8_t> carried_ = std::vector<std::uint8_t>(5000, 0x5A);
};

TEST_F(FixDowngradeTest, NotebookWithUsbStick) {
  machine().AddDiskBytes(NotebookDisk());
  machine().AddDiskBytes(UsbGptStick(), DiskKind::Usb);
  InstallLauncher("1.0.0.6");
  const std::string stick = DiskBytes(1);
  Lines log = Run();
  const std::string data = VolumeAt(0, 14336);
  ASSERT_FALSE(data.empty());
  EXPECT_EQ(log, (Lines{DiskLine(0), kGpt, PartLine(1), PartLine(2), PartLine(3), kBasic, kPathsYes, PartLine(4),
                        kBasic, kPathsYes, "[SetVolumeLetter]\tAssign " + data + ", Letter = D:\\", DiskLine(1), kUsb,
                        kFound, kCopy}));
  EXPECT_EQ(Attributes(0), (std::vector<std::uint64_t>{0, 0, 0, 0}));
  EXPECT_EQ(machine().disks().layoutWrites().size(), 2u);
  EXPECT_EQ(DiskBytes(1), stick);
  EXPECT_EQ(machine().volumes().VolumeOf(0, 14336 * kSector).letter, L'D');
  EXPECT_EQ(machine().volumes().VolumeOf(0, 6144 * kSector).letter, L'C');
  EXPECT_EQ(ReadHostFile(LauncherHost()), Carried());
  EXPECT_EQ(machine().system().redirectionCalls(), (std::vector<bool>{true, false}));
}

TEST_F(FixDowngradeTest, DiskScanEdgeCases) {
  struct Case {
    const char* what;
    std::function<void(sim::SimMachine&)> disks;
    Lines log;
    std::size_t layoutWrites;
  };
  Lines eleven;
  for (int n = 0; n < 10; ++n) {
    eleven.push_back(DiskLine(n));
    eleven.push_back(kMbr);
  }
  const Case cases[] = {
      {"no disk at all", [](sim::SimMachine&) {}, {}, 0},
      {"disk 0 cannot be opened",
       [](sim::SimMachine& m) {
         m.AddAbsent();
         m.AddDiskBytes(NotebookDisk());
       },
       {}, 0},
      {"gap at disk 2",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(MbrDisk());
         m.AddDiskBytes(MbrDisk());
         m.AddAbsent();
         m.AddDiskBytes(NotebookDisk());
       },
       {DiskLine(0), kMbr, DiskLine(1), kMbr}, 0},
      {"eleven disks",
       [](sim::SimMachine& m) {
         for (int i = 0; i < 11; ++i) m.AddDiskBytes(MbrDisk());
       },
       eleven, 0},
      {"USB disk with GPT", [](sim::SimMachine& m) { m.AddDiskBytes(UsbGptStick(), DiskKind::Usb); },
       {DiskLine(0), kUsb}, 0},
      {"removable media on a fixed bus is passed over as USB disks are",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptBuilder(kDiskSectors).Add(kBasicDataType, 2048, 4096, 0x4000000000000000ull).Build(),
                        DiskKind::Removable);
         m.AddDiskBytes(GptBuilder(kDiskSectors).Add(kBasicDataType, 2048, 4096).Build());
       },
       {DiskLine(0), kUsb, DiskLine(1), kGpt, PartLine(1), kBasic, kPathsYes}, 1},
      {"MBR", [](sim::SimMachine& m) { m.AddDiskBytes(MbrDisk()); }, {DiskLine(0), kMbr}, 0},
      {"raw", [](sim::SimMachine& m) { m.AddDiskBytes(RawDisk()); }, {DiskLine(0), kUnknown}, 0},
      {"GPT without entries", [](sim::SimMachine& m) { m.AddDiskBytes(GptBuilder(kDiskSectors).Build()); },
       {DiskLine(0), kGpt}, 0},
      {"attributes already 0 are still written",
       [](sim::SimMachine& m) { m.AddDiskBytes(GptBuilder(kDiskSectors).Add(kBasicDataType, 2048, 4096).Build()); },
       {DiskLine(0), kGpt, PartLine(1), kBasic, kPathsYes}, 1},
      {"other GPT types only",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptBuilder(kDiskSectors)
                            .Add(kEfiSystemType, 2048, 2048)
                            .Add(kMsReservedType, 4096, 2048)
                            .Add(kRecoveryType, 6144, 2048, 0x8000000000000001ull)
                            .Build());
       },
       {DiskLine(0), kGpt, PartLine(1), PartLine(2), PartLine(3)}, 0},
      {"positions count table order, not slot numbers",
       [](sim::SimMachine& m) {
         m.AddDiskBytes(GptBuilder(kDiskSectors)
                            .SkipSlot()
                            .SkipSlot()
                            .Add(kRecoveryType, 2048, 2048)
                            .Add(kBasicDataType, 4096, 2048)
                            .Build());
       },
       {DiskLine(0), kGpt, PartLine(1), PartLine(2), kBasic, kPathsYes}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    sim::SimMachine m(dir.path());
    m.Install();
    c.disks(m);
    std::vector<std::string> before;
    for (int n = 0; n < m.disks().Count(); ++n) {
      sim::DiskImage* image = m.disks().Image(n);
      std::string bytes(image != nullptr ? image->size() : 0, '\0');
      if (image != nullptr) image->Read(0, bytes.data(), bytes.size());
      before.push_back(bytes);
    }
    patcher::FixDowngarde();
    EXPECT_EQ(PatcherLogLines(m.HostPath(L"C:\\WIndows\\Temp\\TvPatchDowngrade.log")), c.log);
    EXPECT_EQ(m.disks().layoutWrites().size(), c.layoutWrites);
    if (c.layoutWrites == 0) {
      for (int n = 0; n < m.disks().Count(); ++n) {
        sim::DiskImage* image = m.disks().Image(n);
        if (image == nullptr) continue;
        std::string now(image->size(), '\0');
        image->Read(0, now.data(), now.size());
        EXPECT_TRUE(now == before[static_cast<std::size_t>(n)]) << "disk " << n << " changed";
      }
    }
    EXPECT_EQ(m.handles().OpenCount(), 0u);
    machine().Install();
  }
}

TEST_F(FixDowngradeTest, TwoHiddenVolumesGetConsecutiveLetters) {
  machine().AddDiskBytes(GptBuilder(kDiskSectors)
                             .Add(kBasicDataType, 2048, 4096)
                             .Add(kBasicDataType, 6144, 4096, kHiddenNoLetter)
                             .Add(kBasicDataType, 10240, 4096, 0x4000000000000000ull)
                             .Build());
  Lines log = Run();
  EXPECT_EQ(log, (Lines{DiskLine(0), kGpt, PartLine(1), kBasic, kPathsYes, PartLine(2), kBasic, kPathsYes,
                        "[SetVolumeLetter]\tAssign " + VolumeAt(0, 6144) + ", Letter = D:\\", PartLine(3), kBasic,
                        kPathsYes, "[SetVolumeLetter]\tAssign " + VolumeAt(0, 10240) + ", Letter = E:\\"}));
}

TEST_F(FixDowngradeTest, FailingDiskCalls) {
  struct Case {
    const char* what;
    SimOp op;
    DiskKind kind;
    Lines log;
    std::vector<std::uint64_t> attributes;
  };
  const Case cases[] = {
      // Not an error: the USB stick is then taken for a fixed disk.
      {"adapter query", SimOp::AdapterQuery, DiskKind::Usb, {DiskLine(0), kGpt, PartLine(1), kBasic}, {0}},
      {"layout read", SimOp::DiskLayoutQuery, DiskKind::Fixed, {DiskLine(0)}, {kHiddenNoLetter}},
      {"layout write", SimOp::DiskLayoutWrite, DiskKind::Fixed, {DiskLine(0), kGpt, PartLine(1), kBasic},
       {kHiddenNoLetter}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    sim::SimMachine m(dir.path());
    m.Install();
    m.volumes().SetAutomount(false);
    m.AddDiskBytes(UsbGptStick(), c.kind);
    m.faults().FailAll(c.op);
    patcher::FixDowngarde();
    m.faults().Reset();
    Lines log = PatcherLogLines(m.HostPath(L"C:\\WIndows\\Temp\\TvPatchDowngrade.log"));
    // With the adapter unanswered the hidden volume appears after the write.
    if (c.op == SimOp::AdapterQuery) {
      ASSERT_EQ(log.size(), 6u);
      EXPECT_EQ(log[4], kPathsYes);
      EXPECT_EQ(log[5], "[SetVolumeLetter]\tAssign " + Narrow(m.volumes().VolumeOf(0, 2048 * kSector).name) +
                            ", Letter = C:\\");
      log.resize(4);
    }
    EXPECT_EQ(log, c.log);
    std::vector<std::uint64_t> attributes;
    for (const auto& e : m.disks().Layout(0).entries) attributes.push_back(e.Gpt.Attributes);
    EXPECT_EQ(attributes, c.attributes);
    EXPECT_EQ(m.handles().OpenCount(), 0u);
    machine().Install();
  }
}

TEST_F(FixDowngradeTest, FailedWriteKeepsClearedAttributeForTheNextWrite) {
  machine().AddDiskBytes(GptBuilder(kDiskSectors)
                             .Add(kBasicDataType, 2048, 4096, kHiddenNoLetter)
                             .Add(kBasicDataType, 6144, 4096, kHiddenNoLetter)
                             .Build());
  // Fail only the first layout write: find its place among the counted
  // operations on identical machines, then fail exactly that one here.
  {
    std::uint64_t writeAt = 0;
    for (std::uint64_t k = 1; k < 200 && writeAt == 0; ++k) {
      TempDir d2;
      sim::SimMachine m(d2.path());
      m.Install();
      m.AddDiskBytes(GptBuilder(kDiskSectors)
                         .Add(kBasicDataType, 2048, 4096, kHiddenNoLetter)
                         .Add(kBasicDataType, 6144, 4096, kHiddenNoLetter)
                         .Build());
      m.faults().Reset();
      m.faults().FailNth(k);
      patcher::FixDowngarde();
      SimOp op{};
      if (m.faults().Injected(&op) && op == SimOp::DiskLayoutWrite) writeAt = k;
    }
    ASSERT_NE(writeAt, 0u);
    machine().Install();
    machine().faults().Reset();
    machine().faults().FailNth(writeAt);
  }
  Lines log = Run();
  EXPECT_EQ(log, (Lines{DiskLine(0), kGpt, PartLine(1), kBasic, PartLine(2), kBasic, kPathsYes,
                        "[SetVolumeLetter]\tAssign " + VolumeAt(0, 6144) + ", Letter = C:\\"}));
  // The second write carried the first entry's cleared attributes too.
  EXPECT_EQ(Attributes(0), (std::vector<std::uint64_t>{0, 0}));
  EXPECT_EQ(machine().disks().layoutWrites().size(), 1u);
}

TEST_F(FixDowngradeTest, VolumeNotFoundGetsNoLetter) {
  // The volume enumeration cannot be started: the written entry's volume is
  // not found, and no letter is given.
  machine().AddDiskBytes(GptBuilder(kDiskSectors).Add(kBasicDataType, 2048, 4096, kHiddenNoLetter).Build());
  machine().faults().FailAll(SimOp::VolumeEnum);
  Lines log = Run();
  EXPECT_EQ(log, (Lines{DiskLine(0), kGpt, PartLine(1), kBasic, kNoVolume}));
  EXPECT_EQ(machine().volumes().assignments().size(), 0u);
}

TEST_F(FixDowngradeTest, LauncherDecisions) {
  struct Case {
    const char* what;
    std::string installed;  // "-": absent; "!": a file without version information
    Lines log;
    bool replaced;
  };
  const Case cases[] = {
      {"missing", "-", {}, false},
      {"older 1.0.0.6", "1.0.0.6", {kFound, kCopy}, true},
      {"older 1.0", "1.0", {kFound, kCopy}, true},
      {"same 1.0.0.7", "1.0.0.7", {kFound, kKeep}, false},
      {"newer 1.0.0.10", "1.0.0.10", {kFound, kKeep}, false},
      {"newer 1.0.0.7.1", "1.0.0.7.1", {kFound, kKeep}, false},
      {"commas 1, 0, 0, 7", "1, 0, 0, 7", {kFound, kCopy}, true},
      {"over-long version text", std::string(300, '9'), {kFound, kCopy}, true},
      {"unversioned", "!", {kFound, kCopy}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(root() + "/Program Files");
    std::filesystem::remove_all(Host(L"C:\\Windows"));
    std::string before;
    if (c.installed == "!") {
      before = BuildPe("").bytes;
      WriteHostFile(LauncherHost(), before);
    } else if (c.installed != "-") {
      InstallLauncher(c.installed);
      before = ReadHostFile(LauncherHost());
    }
    EXPECT_EQ(Run(), c.log);
    if (c.installed == "-") {
      EXPECT_FALSE(HostFileExists(LauncherHost()));
    } else {
      EXPECT_EQ(ReadHostFile(LauncherHost()), c.replaced ? Carried() : before);
    }
    EXPECT_EQ(machine().system().redirectionCalls().back(), false);
  }
}

}  // namespace
}  // namespace tavu::test
