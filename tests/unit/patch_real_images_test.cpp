// The patch pass through tavu-sim on disk images made by the real partitioning
// tools, checked afterwards with the same tools.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fixtures/pe_builder.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/version_block.h"

namespace tavu::test {
namespace {

constexpr std::uint64_t kSector = 512;

// Runs a command line with the partitioning tools in PATH; its standard
// output, and its exit status in *status.
std::string Shell(const std::string& command, int* status = nullptr) {
  CommandResult r = RunCommand(ToolPath() + command);
  if (status != nullptr) *status = r.status;
  return r.out;
}

std::string Quote(const std::string& s) { return ShellQuote(s); }

std::string Sim() { return Quote(std::string(TAVU_TOOL_DIR "/tavu-sim")); }

// Fills [first, last] sectors with bytes that differ at every offset.
void Fill(std::string& image, std::uint64_t first, std::uint64_t last, unsigned seed) {
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::uint64_t i = first * kSector; i < (last + 1) * kSector; ++i) {
    x = x * 1664525u + 1013904223u;
    image[i] = static_cast<char>(x >> 24);
  }
}

std::string AttributeFlags(const std::string& image, int partition) {
  std::string info = Shell("sgdisk -i " + std::to_string(partition) + " " + Quote(image));
  std::size_t at = info.find("Attribute flags: ");
  return at == std::string::npos ? "?" : info.substr(at + 17, 16);
}

// Everything but the GPT structures: the protective MBR and the sectors
// between the primary and the backup entry arrays.
std::string OutsideGpt(const std::string& image) {
  std::uint64_t sectors = image.size() / kSector;
  return image.substr(0, kSector) + image.substr(34 * kSector, (sectors - 67) * kSector);
}

// First and last sector of each partition of the notebook image.
constexpr std::uint64_t kParts[6][2] = {{2048, 4095},   {4096, 6143},   {6144, 12287},
                                        {12288, 18431}, {18432, 24575}, {24576, 30719}};

class PatchImagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("sgdisk")) GTEST_SKIP() << "sgdisk is not installed";
    image_ = dir_.path() + "/disk.img";
  }
  // 16 MiB: EFI, reserved, three basic-data partitions with different
  // attributes, a recovery partition; contents filled, every CRC made by sgdisk.
  void MakeNotebookImage() {
    WriteHostFile(image_, std::string(16 << 20, '\0'));
    int status = -1;
    Shell("sgdisk -n 1:2048:4095 -t 1:ef00 -n 2:4096:6143 -t 2:0c01 -n 3:6144:12287 -t 3:0700 "
        "-n 4:12288:18431 -t 4:0700 -n 5:18432:24575 -t 5:2700 -n 6:24576:30719 -t 6:0700 "
        "-A 3:set:62 -A 3:set:63 -A 4:set:0 -A 4:set:63 -A 5:set:0 -A 5:set:63 " + Quote(image_),
        &status);
    ASSERT_EQ(status, 0);
    std::string bytes = ReadHostFile(image_);
    unsigned seed = 1;
    for (const auto& p : kParts) Fill(bytes, p[0], p[1], seed++);
    WriteHostFile(image_, bytes);
    ASSERT_EQ(AttributeFlags(image_, 3), "C000000000000000");
    ASSERT_EQ(AttributeFlags(image_, 4), "8000000000000001");
  }

  TempDir dir_;
  std::string image_;
};

TEST_F(PatchImagesTest, WriteClearsBasicDataAttributesAndNothingElse) {
  MakeNotebookImage();
  const std::string before = ReadHostFile(image_);
  auto sumsAfter = [&](std::size_t p) {
    return Shell("dd if=" + Quote(image_) + " bs=512 skip=" + std::to_string(kParts[p][0]) +
                 " count=" + std::to_string(kParts[p][1] - kParts[p][0] + 1) + " | sha256sum");
  };
  std::vector<std::string> sumsBefore;
  for (std::size_t p = 0; p < 6; ++p) sumsBefore.push_back(sumsAfter(p));
  int status = -1;
  std::string json = Shell(Sim() + " --disk " + Quote(image_) + " patch --json --write", &status);
  ASSERT_EQ(status, 0);
  EXPECT_NE(json.find("\"layout_writes\": [{\"disk\": 0, \"index\": 3, \"ok\": true}, "
                      "{\"disk\": 0, \"index\": 4, \"ok\": true}, {\"disk\": 0, \"index\": 6, \"ok\": true}]"),
            std::string::npos)
      << json;
  struct Expect {
    int partition;
    const char* flags;
  };
  const Expect expected[] = {{1, "0000000000000000"}, {2, "0000000000000000"}, {3, "0000000000000000"},
                             {4, "0000000000000000"}, {5, "8000000000000001"}, {6, "0000000000000000"}};
  for (const Expect& e : expected) EXPECT_EQ(AttributeFlags(image_, e.partition), e.flags) << e.partition;
  EXPECT_NE(Shell("sgdisk -v " + Quote(image_)).find("No problems found"), std::string::npos);
  const std::string after = ReadHostFile(image_);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(OutsideGpt(after) == OutsideGpt(before)) << "bytes outside the GPT structures changed";
  // The partition contents by checksum, as an outside tool sees them.
  for (std::size_t p = 0; p < 6; ++p) EXPECT_EQ(sumsAfter(p), sumsBefore[p]) << "partition " << p + 1;
  // A second pass finds nothing to clear and still writes every basic-data entry.
  json = Shell(Sim() + " --disk " + Quote(image_) + " patch --json --write", &status);
  EXPECT_NE(json.find("\"index\": 6, \"ok\": true}]"), std::string::npos) << json;
  EXPECT_TRUE(ReadHostFile(image_) == after);
}

TEST_F(PatchImagesTest, WithoutWriteTheImageIsNotTouched) {
  MakeNotebookImage();
  const std::string before = ReadHostFile(image_);
  int status = -1;
  std::string json = Shell(Sim() + " --disk " + Quote(image_) + " patch --json", &status);
  EXPECT_EQ(status, 0);
  // The simulated machine saw the change all the same.
  EXPECT_NE(json.find("\"attributes\": \"0x8000000000000001\""), std::string::npos) << json;
  EXPECT_EQ(json.find("\"attributes\": \"0xC000000000000000\""), std::string::npos) << json;
  EXPECT_TRUE(ReadHostFile(image_) == before);
}

TEST_F(PatchImagesTest, DamagedPrimaryIsRepairedOrLeftAloneNeverWorse) {
  struct Case {
    const char* what;
    std::uint64_t offset;  // byte flipped
  };
  const Case cases[] = {
      {"primary header CRC", 1 * kSector + 16},
      {"primary entry array", 2 * kSector + 3 * 128 + 40},
      {"primary signature", 1 * kSector},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeNotebookImage();
    std::string bytes = ReadHostFile(image_);
    bytes[c.offset] = static_cast<char>(bytes[c.offset] ^ 0x5A);
    WriteHostFile(image_, bytes);
    int status = -1;
    Shell(Sim() + " --disk " + Quote(image_) + " patch --json --write", &status);
    EXPECT_EQ(status, 0);
    std::string after = ReadHostFile(image_);
    bool untouched = after == bytes;
    bool repaired = Shell("sgdisk -v " + Quote(image_)).find("No problems found") != std::string::npos &&
                    AttributeFlags(image_, 3) == "0000000000000000";
    EXPECT_TRUE(untouched || repaired);
    EXPECT_TRUE(OutsideGpt(after) == OutsideGpt(bytes));
  }
}

TEST_F(PatchImagesTest, OtherTablesAreLeftAsTheyAre) {
  struct Case {
    const char* what;
    std::string make;  // shell command run on the image
    std::string style;
  };
  std::string many = "sgdisk --resize-table=256";
  for (int i = 1; i <= 130; ++i) many += " -n " + std::to_string(i) + ":0:+32K -t " + std::to_string(i) + ":0700";
  const Case cases[] = {
      {"MBR from sfdisk", "printf 'label: dos\\n2048,8192,7,*\\n,8192,c\\n' | sfdisk -q IMG", "PARTITION_STYLE_MBR"},
      {"no table", "true", "PARTITION_STYLE_UNKNOWN"},
      // 130 entries do not fit the patcher's 128-entry buffer: the read fails.
      {"GPT of 130 partitions", many + " IMG", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.make.find("sfdisk") != std::string::npos && !HaveTool("sfdisk")) continue;
    WriteHostFile(image_, std::string(16 << 20, '\0'));
    std::string make = c.make;
    if (make.find("IMG") != std::string::npos) make.replace(make.find("IMG"), 3, Quote(image_));
    int status = -1;
    Shell(make, &status);
    ASSERT_EQ(status, 0);
    const std::string before = ReadHostFile(image_);
    std::string json = Shell(Sim() + " --disk " + Quote(image_) + " patch --json --write", &status);
    EXPECT_EQ(status, 0);
    std::string log = "\"log\": [\"[FixDowngarde]\\tDisk: 0\"" +
                      (c.style.empty() ? std::string("]") : ", \"[FixDowngarde]\\t" + c.style + "\"]");
    EXPECT_NE(json.find(log), std::string::npos) << json.substr(0, 300);
    EXPECT_TRUE(ReadHostFile(image_) == before);
  }
}

TEST_F(PatchImagesTest, UnreadableImageIsAUsageError) {
  int status = -1;
  Shell(Sim() + " --disk " + Quote(dir_.path() + "/missing.img") + " patch --json", &status);
  EXPECT_EQ(status, 2);
}

TEST(PatchTool, LauncherDecisionUnderRoot) {
  struct Case {
    const char* installed;  // "": none
    const char* launcher;
    bool replaced;
  };
  const Case cases[] = {{"1.0.0.6", "\"launcher\": \"replaced\"", true},
                        {"1.0.0.10", "\"launcher\": \"kept\"", false},
                        {"", "\"launcher\": \"absent\"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.installed);
    TempDir dir;
    const std::string root = dir.path() + "/c";
    const std::string target = root + "/Program Files/TAVU/TAVU Recovery Launcher/TAVU Recovery.exe";
    const std::string carried = dir.path() + "/carried.exe";
    WriteHostFile(carried, std::string(4000, 'C'));
    WriteHostFile(root + "/Windows/Temp/keep", "");
    std::string old;
    if (*c.installed != '\0') {
      VersionContent content;
      content.tables = {{"040904b0", {{"FileVersion", c.installed}}}};
      old = BuildPe(BuildVersionBlock(content)).bytes;
      WriteHostFile(target, old);
    }
    int status = -1;
    std::string json = Shell(Sim() + " --root " + Quote(root) + " --carried-launcher " + Quote(carried) +
                                 " patch --json",
                             &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(json.find(c.launcher), std::string::npos) << json;
    if (*c.installed != '\0') {
      EXPECT_EQ(ReadHostFile(target) == std::string(4000, 'C'), c.replaced);
    } else {
      EXPECT_FALSE(HostFileExists(target));
    }
  }
  int status = -1;
  Shell(Sim() + " --carried-launcher /nonexistent/launcher.exe patch --json", &status);
  EXPECT_EQ(status, 2);
  Shell(Sim() + " --bogus patch", &status);
  EXPECT_EQ(status, 2);
}

}  // namespace
}  // namespace tavu::test
