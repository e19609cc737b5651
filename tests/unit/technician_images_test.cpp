// The images technicians are handed, made by the real tools
// (tests/fixtures/make_images.sh): the GPT notebook inside VHD, VHDX, VMDK and
// E01 containers must be checked exactly as the raw disk is, other formats
// refused by name, and a disk of 4096-byte sectors partitioned by sgdisk must
// locate, arm, patch and check, its table still sound for sgdisk afterwards.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/fixtures/real_images.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/tavu_sim_run.h"
#include "tests/fixtures/temp_dir.h"

namespace tavu::test {
namespace {

class TechnicianImagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { status_ = MakeRealImages(&dir_).status; }
  void SetUp() override {
    if (status_ == 77) GTEST_SKIP() << "the partitioning and formatting tools are not installed";
    ASSERT_EQ(status_, 0);
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is needed to read the JSON";
  }
  static std::string Image(const std::string& name) { return dir_ + "/" + name; }
  // What the script could not make here, one line each.
  static std::string Skipped() { return ReadHostFile(Image("skipped")); }
  std::vector<std::string> Fields(const std::string& args, const std::vector<std::string>& expressions,
                                  int status = 0) {
    CommandResult r = RunTavuSim(args);
    EXPECT_EQ(r.status, status) << args << ": " << r.err;
    return JsonFields(work_.path(), r.out, expressions);
  }

  static std::string dir_;
  static int status_;
  TempDir work_;
};

std::string TechnicianImagesTest::dir_;
int TechnicianImagesTest::status_ = 0;

TEST_F(TechnicianImagesTest, ContainersAreCheckedLikeTheRawDisk) {
  std::vector<std::pair<std::string, std::string>> containers;
  std::istringstream list(ReadHostFile(Image("containers")));
  for (std::string file, format; list >> file >> format;) containers.emplace_back(file, format);
  if (containers.empty()) GTEST_SKIP() << "no container could be made here: " << Skipped();
  const std::vector<std::string> fields = {
      "[d['verdict'], d['route'], d['recovery_partition']['partition']]",
      "[(p['number'], p['type'], p['attributes']) for p in d['disks'][0]['partitions']]",
      "d['disks'][0]['problems']", "d['recovery_volume']"};
  const std::vector<std::string> raw =
      Fields("--disk " + ShellQuote(Image("gpt-notebook.img")) + " check --json", fields);
  ASSERT_EQ(raw[0], "ready|boot-manager|5");
  const std::pair<const char*, const char*> names[] = {{"VHD-dynamic", "VHD (dynamic)"},
                                                       {"VHD-fixed", "VHD (fixed)"},
                                                       {"VHDX", "VHDX"},
                                                       {"VMDK", "VMDK"},
                                                       {"E01", "E01"}};
  for (const auto& [file, format] : containers) {
    SCOPED_TRACE(file);
    const std::string disk = "--disk " + ShellQuote(Image(file));
    EXPECT_EQ(Fields(disk + " check --json", fields), raw);
    // Read only: a write is refused, naming the format.
    std::string name = format;
    for (const auto& [token, display] : names) {
      if (format == token) name = display;
    }
    CommandResult r = RunTavuSim(disk + " arm --write");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tavu-sim: cannot write image '" + Image(file) + "': " + (name == "E01" ? "an " : "a ") +
                         name + " image is read only: convert it with qemu-img convert -O raw " +
                         Image(file) + " disk.img to write to the disk\n");
  }
  if (HostFileExists(Image("gpt-notebook.qcow2"))) {
    CommandResult r = RunTavuSim("--disk " + ShellQuote(Image("gpt-notebook.qcow2")) + " check --json");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("a qcow2 image, not a raw disk: convert it with qemu-img convert -O raw"),
              std::string::npos)
        << r.err;
  }
}

TEST_F(TechnicianImagesTest, FourKDiskMadeBySgdiskLocatesArmsPatchesAndChecks) {
  if (!HostFileExists(Image("gpt-4kn.img"))) GTEST_SKIP() << "not made here: " << Skipped();
  const std::string image = work_.path() + "/gpt-4kn.img";
  WriteHostFile(image, ReadHostFile(Image("gpt-4kn.img")));
  const std::string disk = "--disk " + ShellQuote(image);
  EXPECT_EQ(Fields(disk + " locate --json", {"d['recovery_partition']", "d['disks'][0]['problems']"}),
            (std::vector<std::string>{"{'result': 0, 'disk': 0, 'partition': 4}", ""}));
  EXPECT_EQ(Fields(disk + " arm --json", {"d['result']", "d['route']"}),
            (std::vector<std::string>{"0", "boot-manager"}));
  EXPECT_EQ(Fields(disk + " check --json", {"d['verdict']", "d['recovery_volume']"}),
            (std::vector<std::string>{"ready", "None"}));
  EXPECT_EQ(
      Fields(disk + " patch --json --write", {"d['layout_writes'][0]['ok']", "d['disks'][0]['problems']"}),
      (std::vector<std::string>{"True", ""}));

  // sgdisk reads the table written back only through a device of 4096-byte
  // sectors.
  CommandResult loop = RunCommand(ToolPath() + "losetup -f --show -b 4096 " + ShellQuote(image));
  if (loop.status != 0) GTEST_SKIP() << "no loop device to check the written table with: " << loop.err;
  const std::string device = loop.out.substr(0, loop.out.find('\n'));
  CommandResult verify = RunCommand(ToolPath() + "sgdisk -v " + ShellQuote(device));
  CommandResult info = RunCommand(ToolPath() + "sgdisk -i 3 " + ShellQuote(device));
  RunCommand(ToolPath() + "losetup -d " + ShellQuote(device));
  EXPECT_NE(verify.out.find("No problems found"), std::string::npos) << verify.out;
  EXPECT_NE(info.out.find("Attribute flags: 0000000000000000"), std::string::npos) << info.out;
}

}  // namespace
}  // namespace tavu::test
