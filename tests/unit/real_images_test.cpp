// Disk images made during the test run by the real tools (sgdisk, sfdisk,
// mkfs.fat, mkfs.ntfs, see tests/fixtures/make_images.sh). Our label readers
// must agree with blkid on every file system, the locator must find what the
// tools made, and tables we write must stay valid for sgdisk and sfdisk.
#include "tests/fixtures/real_images.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "common/disk_api.h"
#include "common/file_api.h"
#include "common/unique_handle.h"
#include "common/volume_label.h"
#include "launcher/arming/partition_locator.h"
#include "sim/core/machine.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/tavu_sim_run.h"
#include "tests/fixtures/temp_dir.h"

namespace tavu::test {
namespace {

struct Volume {
  std::string image;
  std::int64_t offset = 0;
  std::string fs;
  std::string label;
};

class RealImagesTest : public ::testing::Test {
 protected:
  // The images are made once per version of the script and kept in the build
  // folder: every test works on them read-only or on its own copy.
  static void SetUpTestSuite() {
    made_ = new CommandResult(MakeRealImages(&dir_));
    std::istringstream manifest(ReadHostFile(dir_ + "/manifest"));
    volumes_ = new std::vector<Volume>();
    Volume v;
    while (manifest >> v.image >> v.offset >> v.fs >> v.label) volumes_->push_back(v);
  }
  static void TearDownTestSuite() {
    delete volumes_;
    delete made_;
  }
  void SetUp() override {
    if (made_->status == 77) {
      GTEST_SKIP() << "images made by the real tools cannot be made here: " << made_->err;
    }
    ASSERT_EQ(made_->status, 0) << made_->err;
    ASSERT_FALSE(volumes_->empty());
  }
  void TearDown() override { SetPlatform(Platform{}); }

  static std::string Image(const std::string& name) { return dir_ + "/" + name; }
  // A machine whose disks are the named images, in order.
  std::unique_ptr<sim::SimMachine> Machine(std::initializer_list<std::string> images,
                                           bool writeThrough = false) {
    auto m = std::make_unique<sim::SimMachine>(root_.path());
    m->disks().SetWriteThrough(writeThrough);
    for (const std::string& name : images) {
      std::string error;
      EXPECT_TRUE(m->AddDisk(name[0] == '/' ? name : Image(name), sim::DiskKind::Fixed, &error)) << error;
    }
    m->Install();
    return m;
  }

  static std::string dir_;
  static CommandResult* made_;
  static std::vector<Volume>* volumes_;
  TempDir root_;
};

std::string RealImagesTest::dir_;
CommandResult* RealImagesTest::made_ = nullptr;
std::vector<Volume>* RealImagesTest::volumes_ = nullptr;

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST_F(RealImagesTest, LabelsAgreeWithBlkid) {
  // Every file system the script makes, at every cluster and sector size.
  EXPECT_EQ(volumes_->size(), 12u);
  for (const Volume& v : *volumes_) {
    SCOPED_TRACE(v.image + " at " + std::to_string(v.offset));
    CommandResult blkid = RunCommand(ToolPath() + "blkid -p -O " + std::to_string(v.offset) +
                                     " -s LABEL -o value " + ShellQuote(Image(v.image)));
    ASSERT_EQ(blkid.status, 0) << blkid.err;
    EXPECT_EQ(blkid.out, v.label + "\n");

    auto m = Machine({v.image});
    UniqueHandle disk(Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE0", false));
    wchar_t label[kVolumeLabelChars];
    EXPECT_EQ(ReadVolumeLabel(disk.get(), label, v.offset), 0);
    EXPECT_EQ(std::wstring(label), Widen(v.label));
    // The simulated Windows answers from The Sleuth Kit's reading, a third
    // reader that shares nothing with ours. A hidden partition has no volume.
    const std::wstring name = m->volumes().VolumeOf(0, v.offset).name;
    if (name.empty()) continue;
    wchar_t shown[64] = L"unchanged";
    EXPECT_TRUE(Sys().volumes->VolumeLabel(name.c_str(), shown, 64));
    EXPECT_EQ(std::wstring(shown), Widen(v.label));
  }
}

TEST_F(RealImagesTest, LocatorOnToolMadeDisks) {
  struct Case {
    const char* name;
    std::initializer_list<std::string> images;
    int partitionResult;
    std::int32_t disk;
    std::int32_t partition;
    int style;
    int volumeResult;
    std::int32_t volumeDisk;
    std::int32_t volumePartition;
    const wchar_t* root;
  };
  const Case cases[] = {
      {"GPT notebook then MBR", {"gpt-notebook.img", "mbr-recovery.img"}, 0, 0, 5, 1, 0, 0, 5, L""},
      {"MBR then GPT notebook", {"mbr-recovery.img", "gpt-notebook.img"}, 0, 0, 2, 0, 0, 1, 5, L""},
      {"MBR alone: volume still hidden", {"mbr-recovery.img"}, 0, 0, 2, 0, 4, 0, 0, L""},
      {"no recovery anywhere", {"ntfs-c512.img", "fat32-s8.img"}, 4, 0, 0, -1, 4, 0, 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto m = Machine(c.images);
    std::int32_t partition = -1;
    std::int32_t disk = -1;
    EXPECT_EQ(FindRecoveryPartition(&partition, &disk), c.partitionResult);
    EXPECT_EQ(disk, c.disk);
    EXPECT_EQ(partition, c.partition);
    if (c.style >= 0) {
      EXPECT_EQ(QueryPartitionStyle(disk), c.style);
    }
    wchar_t root[260];
    EXPECT_EQ(FindRecoveryVolume(&disk, &partition, root), c.volumeResult);
    EXPECT_EQ(disk, c.volumeDisk);
    EXPECT_EQ(partition, c.volumePartition);
    EXPECT_EQ(std::wstring(root), c.root);
    EXPECT_EQ(m->handles().OpenCount(), 0u);
  }
}

// Offsets (from 0) of the bytes that differ between two files, by cmp.
std::set<std::uint64_t> Differences(const std::string& a, const std::string& b) {
  std::set<std::uint64_t> out;
  CommandResult cmp = RunCommand("cmp -l " + ShellQuote(a) + " " + ShellQuote(b));
  std::istringstream lines(cmp.out);
  std::uint64_t position = 0;
  std::string from, to;
  while (lines >> position >> from >> to) out.insert(position - 1);
  return out;
}

bool SetLayoutOf(int disk, void (*change)(DRIVE_LAYOUT_INFORMATION_EX*)) {
  wchar_t name[32];
  PhysicalDriveName(disk, name);
  UniqueHandle h(Sys().disks->OpenDisk(name, true));
  std::vector<std::uint8_t> buffer(DriveLayoutSize(128));
  if (!Sys().disks->GetLayout(h.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())))
    return false;
  change(reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data()));
  return Sys().disks->SetLayout(h.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size()));
}

// The patcher's write, checked by sgdisk: the table stays valid and only the
// attributes, the arrays' CRCs and the headers' CRCs change.
TEST_F(RealImagesTest, GptLayoutWriteSatisfiesSgdisk) {
  const std::string copy = root_.path() + "/gpt-copy.img";
  ASSERT_EQ(RunCommand("cp --sparse=always " + ShellQuote(Image("gpt-notebook.img")) + " " + ShellQuote(copy))
                .status,
            0);
  {
    auto m = Machine({copy}, true);
    ASSERT_TRUE(SetLayoutOf(0, [](DRIVE_LAYOUT_INFORMATION_EX* l) {
      for (std::uint32_t i = 0; i < l->PartitionCount; ++i) LayoutEntry(l, i)->Gpt.Attributes = 0;
    }));
  }
  CommandResult verify = RunCommand(ToolPath() + "sgdisk -v " + ShellQuote(copy));
  EXPECT_EQ(verify.status, 0);
  EXPECT_NE(verify.out.find("No problems found"), std::string::npos) << verify.out;
  CommandResult info = RunCommand(ToolPath() + "sgdisk -i 4 " + ShellQuote(copy));
  EXPECT_NE(info.out.find("Attribute flags: 0000000000000000"), std::string::npos) << info.out;

  const std::uint64_t last = 96 * 2048 - 1;
  const std::uint64_t attributes4 = 3 * 128 + 48;
  const std::uint64_t primaryArray = 2 * 512, backupArray = (last - 32) * 512, backupHeader = last * 512;
  auto within = [](std::uint64_t at, std::uint64_t from, std::uint64_t n) {
    return at >= from && at < from + n;
  };
  std::set<std::uint64_t> diff = Differences(Image("gpt-notebook.img"), copy);
  EXPECT_EQ(diff.count(primaryArray + attributes4 + 7), 1u);
  EXPECT_EQ(diff.count(backupArray + attributes4 + 7), 1u);
  for (std::uint64_t at : diff) {
    SCOPED_TRACE(at);
    EXPECT_TRUE(within(at, primaryArray + attributes4, 8) || within(at, backupArray + attributes4, 8) ||
                within(at, 512 + 16, 4) || within(at, 512 + 88, 4) || within(at, backupHeader + 16, 4) ||
                within(at, backupHeader + 88, 4));
  }
}

// The worker's diskpart step, checked by sfdisk: type 0x0C and active, and
// the volume labelled RECOVERY then appears at the first free letter.
TEST_F(RealImagesTest, MbrLayoutWriteSatisfiesSfdisk) {
  const std::string copy = root_.path() + "/mbr-copy.img";
  ASSERT_EQ(RunCommand("cp --sparse=always " + ShellQuote(Image("mbr-recovery.img")) + " " + ShellQuote(copy))
                .status,
            0);
  {
    auto m = Machine({copy}, true);
    ASSERT_TRUE(SetLayoutOf(0, [](DRIVE_LAYOUT_INFORMATION_EX* l) {
      LayoutEntry(l, 0)->Mbr.BootIndicator = 0;
      LayoutEntry(l, 1)->Mbr.PartitionType = 0x0C;
      LayoutEntry(l, 1)->Mbr.BootIndicator = 1;
    }));
    // The volume, and the letter Windows gives it, arrive a moment later.
    m->Settle();
    std::int32_t disk = 0;
    std::int32_t partition = 0;
    wchar_t root[260];
    EXPECT_EQ(FindRecoveryVolume(&disk, &partition, root), 0);
    EXPECT_EQ(partition, 2);
    EXPECT_EQ(std::wstring(root), L"D:\\");
  }
  CommandResult dump = RunCommand(ToolPath() + "sfdisk -d " + ShellQuote(copy));
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_NE(dump.out.find("size=       81920, type=c, bootable"), std::string::npos) << dump.out;
  EXPECT_EQ(dump.out.find("type=7, bootable"), std::string::npos) << dump.out;
  EXPECT_EQ(Differences(Image("mbr-recovery.img"), copy), (std::set<std::uint64_t>{446, 462, 466}));
}

// Windows RE's partition on the notebook the real tools made: mkfs.ntfs, then
// wimlib-imagex applied \Recovery\WindowsRE (a captured WIM and boot.sdi).
// The simulated machine reads them as the launcher reaches them, and tavu-sim
// writes ReAgent.xml naming the disk as sgdisk sees it.
TEST_F(RealImagesTest, WindowsReFilesOfTheNotebookAreReadAndNamed) {
  auto m = Machine({"gpt-notebook.img"});
  FileApi& files = *Sys().files;
  // EFI 1, Windows 2 (the reserved and the hidden data partitions are no volumes), recovery 3.
  const wchar_t kWim[] = L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume3\\Recovery\\WindowsRE\\Winre.wim";
  Handle h = files.OpenFile(kWim, FileAccess::Read, FileCreate::OpenExisting);
  ASSERT_NE(h, kInvalidHandle);
  unsigned char header[208] = {};
  std::uint32_t read = 0;
  EXPECT_TRUE(files.Read(h, header, sizeof(header), &read));
  files.Close(h);
  ASSERT_EQ(read, sizeof(header));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 8), std::string("MSWIM\0\0\0", 8));
  EXPECT_EQ(header[8] | header[9] << 8, 208);
  EXPECT_EQ(header[44], 1);   // one image
  EXPECT_EQ(header[120], 1);  // which boots
  EXPECT_TRUE(files.Exists(L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume3\\Recovery\\WindowsRE\\boot.sdi"));
  m.reset();
  SetPlatform(Platform{});

  // The recovery partition is the fifth; ReAgent.xml names its start in bytes
  // and the disk by its GUID, which the check must match to this disk.
  const CommandResult sgdisk =
      RunCommand("PATH=$PATH:/usr/sbin:/sbin sgdisk -p " + ShellQuote(Image("gpt-notebook.img")));
  const std::size_t row = sgdisk.out.find("\n   5 ");
  ASSERT_NE(row, std::string::npos) << sgdisk.out;
  const std::string offset = std::to_string(std::stoull(sgdisk.out.substr(row + 5)) * 512);
  struct Case {
    std::string disk;
    std::string winre;
    std::string expected;  // windows_re as reagent|enabled|offset|disk|partition|is_recovery_partition
  } const cases[] = {
      {"gpt-notebook.img", "enabled", "present|True|" + offset + "|0|5|True"},
      {"gpt-notebook.img", "disabled", "present|False|None|None|None|None"},
      {"mbr-recovery.img", "enabled", "absent|None|None|None|None|None"},
  };
  TempDir work;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.disk + " " + c.winre);
    TempDir root;
    CommandResult r = RunTavuSim("--root " + ShellQuote(root.path()) + " --disk " +
                                 ShellQuote(Image(c.disk)) + " --winre " + c.winre + " check --json");
    EXPECT_NE(r.status, 2) << r.err;
    const std::string l = "(d['windows_re']['location'] or {})";
    EXPECT_EQ(JsonFields(
                  work.path(), r.out,
                  {"[d['windows_re']['reagent'], d['windows_re']['enabled'], " + l + ".get('offset'), " + l +
                   ".get('disk'), " + l + ".get('partition'), d['windows_re']['is_recovery_partition']]"})[0],
              c.expected);
    // The file stands up the machine for the run only; the caller's root stays as it was.
    EXPECT_FALSE(HostFileExists(root.path() + "/Windows/System32/Recovery/ReAgent.xml"));
  }
}

// A notebook after reagentc /disable, as its own disk holds it: ReAgent.xml
// with InstallState 0 and Winre.wim in Windows\System32\Recovery on the
// Windows partition (the third, 16 MiB at sector 108544). The machine takes
// those files rather than making its own, and what it reports about itself is
// said to be simulated.
TEST_F(RealImagesTest, TheNotebooksOwnReAgentXmlDecides) {
  TempDir work;
  const std::string disk = work.path() + "/disabled.img";
  const std::string reagent =
      "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8' standalone='yes'?>\r\n<WindowsRE version=\"2.0\">"
      "<WinreBCD id=\"{00000000-0000-0000-0000-000000000000}\"/><WinreLocation path=\"\" id=\"0\" "
      "offset=\"0\" "
      "guid=\"{00000000-0000-0000-0000-000000000000}\"/><InstallState state=\"0\"/></WindowsRE>";
  std::filesystem::create_directories(work.path() + "/tree/Windows/System32/Recovery");
  WriteHostFile(work.path() + "/tree/Windows/System32/Recovery/ReAgent.xml", reagent);
  std::filesystem::copy_file(Image("gpt-notebook.img"), disk);
  const std::string w = ShellQuote(work.path());
  const CommandResult made = RunCommand(
      "cd " + w +
      " && mkdir -p src/Windows/System32 && printf 'winload\\n' >src/Windows/System32/winload.efi && "
      "wimlib-imagex capture src tree/Windows/System32/Recovery/Winre.wim 'Microsoft Windows Recovery "
      "Environment' --boot >/dev/null && wimlib-imagex capture tree tree.wim tree >/dev/null && "
      "truncate -s 16M part && PATH=$PATH:/usr/sbin:/sbin mkfs.ntfs -F -Q -q -T -L Windows -p 108544 -H 255 "
      "-S 63 part >/dev/null 2>&1 && wimlib-imagex apply tree.wim 1 part >/dev/null && "
      "dd if=part of=" +
      ShellQuote(disk) + " bs=1M seek=53 conv=notrunc status=none");
  ASSERT_EQ(made.status, 0) << made.err;
  const CommandResult r = RunTavuSim("--root " + ShellQuote(work.path() + "/c") + " --disk " +
                                     ShellQuote(disk) + " --computer NB-4711 check --json");
  EXPECT_EQ(r.status, 1) << r.err;
  const std::vector<std::string> fields = JsonFields(
      work.path(), r.out,
      {"[d['windows_re']['reagent'], d['windows_re']['enabled'], d['windows_re']['system32_image'], "
       "d['recovery_entry'], d['listing']['captured']]",
       "[d['about']['simulated'], d['about']['computer'], d['about']['time'][-1], d['about']['made_up']]",
       "d['reason']"});
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0], "present|False|present|None|False");
  EXPECT_EQ(fields[1], "True|NB-4711|Z|['model', 'windows_build']");
  EXPECT_NE(fields[2].find("Windows RE is disabled"), std::string::npos) << fields[2];
  EXPECT_NE(fields[2].find("Its image waits at C:\\Windows\\System32\\Recovery\\Winre.wim"),
            std::string::npos)
      << fields[2];
}

TEST_F(RealImagesTest, TavuSimLocateJson) {
  const std::string tool = std::string(TAVU_TOOL_DIR "/tavu-sim");
  struct Case {
    std::string args;
    std::string head;
  };
  const Case cases[] = {
      {"--disk " + ShellQuote(Image("gpt-notebook.img")) + " --disk " + ShellQuote(Image("mbr-recovery.img")),
       R"({"recovery_partition": {"result": 0, "disk": 0, "partition": 5}, "partition_style": {"result": 1}, )"
       R"("recovery_volume": {"result": 0, "disk": 0, "partition": 5, "root": ""}, "disks": [)"},
      {"--disk " + ShellQuote(Image("mbr-recovery.img")) + " --disk " + ShellQuote(Image("gpt-notebook.img")),
       R"({"recovery_partition": {"result": 0, "disk": 0, "partition": 2}, "partition_style": {"result": 0}, )"
       R"("recovery_volume": {"result": 0, "disk": 1, "partition": 5, "root": ""}, "disks": [)"},
      {"--removable " + ShellQuote(Image("mbr-recovery.img")) + " --disk " +
           ShellQuote(Image("ntfs-c512.img")),
       R"({"recovery_partition": {"result": 4, "disk": 0, "partition": 0}, "partition_style": null, )"
       R"("recovery_volume": {"result": 4, "disk": 0, "partition": 0, "root": ""}, "disks": [)"},
  };
  std::string outputs;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    CommandResult r = RunCommand(ShellQuote(tool) + " " + c.args + " locate --json");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, c.head.size()), c.head);
    outputs += r.out;
  }
  // Each output is exactly one JSON object (one line), by a parser not ours.
  WriteHostFile(root_.path() + "/outputs", outputs);
  CommandResult parsed = RunCommand(
      "python3 -c 'import json,sys\nfor line in open(sys.argv[1]): "
      "print(sorted(json.loads(line)))' " +
      ShellQuote(root_.path() + "/outputs"));
  const std::string keys = "['disks', 'partition_style', 'recovery_partition', 'recovery_volume']\n";
  EXPECT_EQ(parsed.out, keys + keys + keys) << parsed.err;
}

}  // namespace
}  // namespace tavu::test
