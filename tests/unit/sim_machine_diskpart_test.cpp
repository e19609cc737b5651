// diskpart scripts acting on the simulated disks: type bytes and boot
// indicators land in the partition table, and the volumes and letters follow.
#include <gtest/gtest.h>

#include "sim/programs/bcd_store.h"
#include "sim/programs/diskpart_on_machine.h"
#include "sim/programs/tool_runs.h"
#include "tests/fixtures/disk_builders.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

constexpr std::uint64_t kDiskSectors = 16 * kMiB / kSector;

Bytes MbrNotebook() {
  Fat32Params fat;
  fat.rootEntries = {{DirEntry{"RECOVERY   ", 0x08}}};
  Bytes disk = MbrBuilder(kDiskSectors)
                   .Primary(0, 0x07, 2048, 8192, true)
                   .Primary(1, 0x1C, 10240, 8192)
                   .Primary(2, 0x0C, 18432, 4096)
                   .Build();
  Place(disk, 10240ull * 512, BuildFat32(fat).bytes);
  return disk;
}

class MachineDiskpartTest : public SimTest {
 protected:
  MachineDiskpartTest()
      : target_(machine().disks(), machine().volumes()), programs_(machine().paths(), store_, target_) {}
  std::uint32_t Script(const std::string& text) {
    WriteHostFile(root() + "/Windows/Temp/RcvBootDisk.txt", text);
    return programs_.Diskpart(L"/s \"C:\\Windows\\Temp\\RcvBootDisk.txt\"", L"C:\\Windows\\System32");
  }
  const PARTITION_INFORMATION_EX& Entry(int disk, int number) {
    layout_ = machine().disks().Layout(disk);
    for (const auto& e : layout_.entries) {
      if (static_cast<int>(e.PartitionNumber) == number) return e;
    }
    ADD_FAILURE() << "no partition " << number;
    return layout_.entries.at(0);
  }
  wchar_t Letter(int disk, int number) {
    return machine().volumes().VolumeOf(disk, Entry(disk, number).StartingOffset).letter;
  }

  sim::SimBcdStore store_;
  sim::SimMachineDiskpart target_;
  sim::SimPrograms programs_;
  sim::SimLayout layout_;
};

TEST_F(MachineDiskpartTest, MbrRecoveryPartitionBecomesVisibleActiveAndLosesItsLetter) {
  machine().volumes().SetArrivalMilliseconds(0);
  machine().AddDiskBytes(MbrNotebook());
  ASSERT_EQ(Letter(0, 1), L'C');
  ASSERT_EQ(Letter(0, 3), L'D');
  ASSERT_TRUE(machine().volumes().VolumeOf(0, Entry(0, 2).StartingOffset).name.empty());

  EXPECT_EQ(Script("sel disk 0\r\nsel par 2\r\nset id=0c override\r\nactive\r\n"), 0u);
  EXPECT_EQ(Entry(0, 2).Mbr.PartitionType, 0x0C);
  EXPECT_EQ(Entry(0, 2).Mbr.BootIndicator, 1);
  EXPECT_EQ(Entry(0, 1).Mbr.BootIndicator, 0);
  EXPECT_EQ(Entry(0, 1).Mbr.PartitionType, 0x07);
  // Presented at once, with the first free letter, as automatic mounting does.
  EXPECT_EQ(Letter(0, 2), L'E');
  EXPECT_EQ(machine().disks().layoutWrites().size(), 2u);

  EXPECT_EQ(Script("sel disk 0\r\nsel par 2\r\nremove letter=E noerr\r\n"), 0u);
  EXPECT_EQ(Letter(0, 2), 0);
  EXPECT_EQ(Letter(0, 1), L'C');
  EXPECT_EQ(Letter(0, 3), L'D');
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
  EXPECT_EQ(machine().handles().Misuses(), 0u);
}

TEST_F(MachineDiskpartTest, GptAndMissingDisksAreLeftAlone) {
  Bytes gpt = GptBuilder(kDiskSectors).Add(kBasicDataType, 2048, 4096).Add(kRecoveryType, 6144, 4096).Build();
  machine().AddDiskBytes(gpt);
  machine().AddAbsent();
  machine().AddDiskBytes(MbrNotebook());
  struct {
    const char* script;
    std::uint32_t exitCode;
  } cases[] = {
      {"sel disk 0\r\nsel par 2\r\nset id=0c override\r\n", 5},
      {"sel disk 0\r\nsel par 2\r\nactive\r\n", 5},
      {"sel disk 1\r\nsel par 2\r\nactive\r\n", 5},
      {"sel disk 3\r\nsel par 2\r\nactive\r\n", 5},
      {"sel disk 2\r\nsel par 4\r\nactive\r\n", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(Script(c.script), c.exitCode);
  }
  EXPECT_TRUE(machine().disks().layoutWrites().empty());
  EXPECT_EQ(Entry(2, 2).Mbr.PartitionType, 0x1C);

  // A disk that refuses the write: diskpart reports a service failure.
  machine().faults().FailAll(sim::SimOp::DiskLayoutWrite);
  EXPECT_EQ(Script("sel disk 2\r\nsel par 2\r\nset id=0c override\r\nactive\r\n"), 4u);
  machine().faults().Reset();
  EXPECT_EQ(Entry(2, 2).Mbr.PartitionType, 0x1C);
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

}  // namespace
}  // namespace tavu::test
