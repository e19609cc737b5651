// Disks of 4096-byte logical sectors (4Kn drives): every read through a disk
// handle must be whole sectors of that size, and the GPT's LBAs count them.
// A notebook built that way must locate, arm, patch and check as one of
// 512-byte sectors does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/disk_api.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/volume_label.h"
#include "common/win_errors.h"
#include "tests/fixtures/notebooks.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/sim_test.h"
#include "tests/fixtures/tavu_sim_run.h"
#include "tests/fixtures/temp_dir.h"

namespace tavu::test {
namespace {

class FourKSectorsTest : public SimTest {};

// The simulated disk holds Windows' rule, and the readers keep it.
TEST_F(FourKSectorsTest, DiskReadsWholeSectorsOfItsOwnSize) {
  machine().AddDiskBytes(GptNotebook4Kn());
  UniqueHandle disk(Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE0", false));
  ASSERT_TRUE(disk);
  DISK_GEOMETRY geometry{};
  ASSERT_TRUE(Sys().disks->GetGeometry(disk.get(), &geometry));
  EXPECT_EQ(geometry.BytesPerSector, 4096u) << "found from the GPT header at byte 4096";

  std::vector<std::uint8_t> buffer(8192);
  std::uint32_t read = 0;
  struct {
    std::uint64_t offset;
    std::uint32_t size;
    bool ok;
  } reads[] = {{0, 512, false}, {512, 4096, false}, {0, 4096, true}, {4096, 8192, true}, {2048, 2048, false}};
  for (const auto& r : reads) {
    SCOPED_TRACE(std::to_string(r.offset) + "+" + std::to_string(r.size));
    EXPECT_EQ(Sys().disks->ReadAt(disk.get(), r.offset, buffer.data(), r.size, &read), r.ok);
    if (!r.ok) {
      EXPECT_EQ(Sys().system->LastError(), kErrorInvalidParameter);
    }
  }

  // Labels read through the disk: a 512-byte boot sector and 4096-byte file
  // records, all by whole sectors.
  machine().disks().RecordReads(true);
  wchar_t label[kVolumeLabelChars];
  EXPECT_EQ(ReadVolumeLabel(disk.get(), label, 768ll * 4096), kLocateFound);
  EXPECT_EQ(std::wstring(label), L"Windows");
  EXPECT_EQ(ReadVolumeLabel(disk.get(), label, 1792ll * 4096), kLocateFound);
  EXPECT_EQ(std::wstring(label), L"Recovery");
  ASSERT_FALSE(machine().disks().reads().empty());
  for (const auto& r : machine().disks().reads()) {
    EXPECT_EQ(r.offset % 4096, 0u);
    EXPECT_EQ(r.size % 4096, 0u);
  }
}

// The whole way through tavu-sim, on the image file of the built notebook.
TEST(FourKNotebook, LocatesArmsPatchesAndChecks) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is needed to read the JSON";
  TempDir dir;
  const std::string image = dir.path() + "/notebook-4kn.img";
  const Bytes bytes = GptNotebook4Kn();
  WriteHostFile(image, std::string(bytes.begin(), bytes.end()));
  const std::string disk = "--disk " + ShellQuote(image);
  auto fields = [&](const std::string& args, const std::vector<std::string>& expressions, int status) {
    CommandResult r = RunTavuSim(args);
    EXPECT_EQ(r.status, status) << args << ": " << r.err;
    return JsonFields(dir.path(), r.out, expressions);
  };

  EXPECT_EQ(
      fields(disk + " locate --json",
             {"d['recovery_partition']", "d['partition_style']['result']", "d['disks'][0]['problems']"}, 0),
      (std::vector<std::string>{"{'result': 0, 'disk': 0, 'partition': 4}", "1", ""}));
  EXPECT_EQ(fields(disk + " arm --json", {"d['result']", "d['route']", "d['message_boxes']"}, 0),
            (std::vector<std::string>{"0", "boot-manager", ""}));
  EXPECT_EQ(fields(disk + " check --json", {"d['verdict']", "d['route']"}, 0),
            (std::vector<std::string>{"ready", "boot-manager"}));

  // The patcher clears the hidden data partition's bits and writes the table
  // back with 4096-byte LBAs: read again from the file, it is sound.
  fields(disk + " patch --json --write", {"d['disks'][0]['problems']"}, 0);
  EXPECT_EQ(fields("--sector-size 4096 " + disk + " locate --json",
                   {"d['disks'][0]['problems']", "d['disks'][0]['partitions'][4]['attributes']",
                    "d['disks'][0]['partitions'][3]['attributes']"},
                   0),
            (std::vector<std::string>{"", "0x0000000000000000", "0x8000000000000001"}));
}

}  // namespace
}  // namespace tavu::test
