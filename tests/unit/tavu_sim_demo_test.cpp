// tavu-sim demo as a user runs it: the tool's own process, its JSON read by a
// parser not ours (python3), the images it keeps read back byte by byte here
// and by sgdisk, and the installed launcher's bytes compared with what the
// patcher was given to carry.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fixtures/pe_builder.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/tavu_sim_run.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/version_block.h"

namespace tavu::test {
namespace {

const char kInstalled[] = "/Program Files/TAVU/TAVU Recovery Launcher/TAVU Recovery.exe";

struct Expect {
  const char* expression;
  std::string value;
};

class TavuSimDemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is needed to read the JSON";
  }
  CommandResult Sim(const std::string& args) { return RunTavuSim(args); }
  std::vector<std::string> Fields(const std::string& json, const std::vector<std::string>& expressions) {
    return JsonFields(work_.path(), json, expressions);
  }
  void ExpectFields(const std::string& json, const std::vector<Expect>& expected) {
    std::vector<std::string> expressions;
    for (const Expect& e : expected) expressions.push_back(e.expression);
    std::vector<std::string> got = Fields(json, expressions);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(got[i], expected[i].value) << expected[i].expression;
    }
  }
  TempDir work_;
};

TEST_F(TavuSimDemoTest, GptNotebookIsArmedThroughTheBootManagerAndPatched) {
  // Without automatic mounting the letter is the patcher's own.
  CommandResult r = Sim("--automount off demo --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one JSON object on one line";
  ExpectFields(
      r.out,
      {
          {"sorted(d)",
           "arm|carried_launcher|disable|disks_before|images|installed_launcher|installed_launcher_after|"
           "locate|machine|partitions|patch"},
          {"d['machine']", "gpt"},
          // What the machine looks like before anything runs.
          {"[(p['number'], p['attributes'], p['letter']) for p in d['disks_before'][0]['partitions']]",
           "(1, '0x0000000000000000', None)|(2, '0x0000000000000000', None)|(3, '0x0000000000000000', 'C:')|"
           "(4, '0xC000000000000000', None)|(5, '0x8000000000000001', None)"},
          {"d['disks_before'][0]['partitions'][4]['type']", "{DE94BBA4-06D1-4D40-A16A-BFD50179D6AC}"},
          {"[(p['number'], p['type'], p['letter']) for p in d['disks_before'][1]['partitions']]",
           "(1, '0x0C', 'D:')"},
          {"d['installed_launcher']['version_before']", "1.0.0.6"},
          // Where the recovery partition is.
          {"[d['locate']['recovery_partition'][k] for k in ('result', 'disk', 'partition')]", "0|0|5"},
          {"d['locate']['partition_style']['result']", "1"},
          // The route and the batches.
          {"[d['arm']['result'], d['arm']['route'], d['arm']['message_boxes']]", "0|boot-manager|[]"},
          {"[p['file'].split('\\\\')[-1] + ' ' + p['parameters'] for p in d['arm']['processes']]",
           "cmd.exe /d /c \"C:\\Windows\\Temp\\RcvBoot.cmd\"|cmd.exe /d /c "
           "\"C:\\Windows\\Temp\\RcvBoot.cmd\"|"
           "FwMode.exe /enable|shutdown.exe -r -t 10"},
          {"d['arm']['processes'][0]['script'].split('\\r\\n')",
           "@ECHO OFF|CHCP 437|bcdedit /enum all > \"C:\\Windows\\Temp\\RcvBoot.txt\"|"},
          {"d['arm']['processes'][1]['script'].split('\\r\\n')[2]",
           "bcdedit /set {bootmgr} customactions 0x1000043000001 0x5400000f"},
          {"[d['arm']['temp_files_left'], d['arm']['restart_pending'], d['arm']['task_registered']]",
           "[]|True|True"},
          // The boot-manager settings that result.
          {"d['arm']['boot_store']['customactions']", "0x1000043000001 0x5400000f"},
          {"d['arm']['boot_store']['displayorder'] == [d['arm']['boot_store']['custom:5400000f']]", "True"},
          {"[d['arm']['boot_store']['extendedinput'], d['arm']['boot_store']['current_isolatedcontext']]",
           "Yes|No"},
          // The owner changes their mind: /DISABLE switches the firmware mode
          // off first, puts every element back from the journal, and deletes
          // the journal and then the task.
          {"[d['disable']['result'], d['disable']['message_boxes'], d['disable']['task_registered'], "
           "d['disable']['firmware_mode']]",
           "0|[]|False|off"},
          {"d['disable']['persistent_writes']",
           "firmware mode: off|bcdedit /displayorder {current}|bcdedit /deletevalue {bootmgr} customactions|"
           "bcdedit /deletevalue {bootmgr} custom:5400000f|bcdedit /deletevalue {bootmgr} extendedinput|"
           "bcdedit /set {current} isolatedcontext Yes|journal: deleted|task: delete"},
          {"[d['disable']['boot_store'][k] for k in ('customactions', 'custom:5400000f', 'displayorder', "
           "'extendedinput', 'current_isolatedcontext')]",
           "None|None|['{current}']|None|Yes"},
          // The patcher: the two basic-data entries rewritten, the hidden volume
          // lettered, the USB stick left alone, the launcher replaced.
          {"[(w['disk'], w['index'], w['ok']) for w in d['patch']['layout_writes']]",
           "(0, 3, True)|(0, 4, True)"},
          {"[a['root'] for a in d['patch']['letters_assigned']]", "E:\\"},
          {"[(p['number'], p['attributes'], p['letter']) for p in d['patch']['disks'][0]['partitions']][2:]",
           "(3, '0x0000000000000000', 'C:')|(4, '0x0000000000000000', 'E:')|(5, '0x8000000000000001', None)"},
          {"d['patch']['log'][:2]", "[FixDowngarde]\tDisk: 0|[FixDowngarde]\tPARTITION_STYLE_GPT"},
          {"[l for l in d['patch']['log'] if 'Assign' in l] == "
           "['[SetVolumeLetter]\\tAssign ' + d['patch']['letters_assigned'][0]['volume'] + ', Letter = "
           "E:\\\\']",
           "True"},
          {"d['patch']['log'][-1]", "[FixDowngarde]\tFile version is older, copy file"},
          {"[d['patch']['launcher'], d['installed_launcher_after']['version']]", "replaced|1.0.0.7"},
      });
  // The recovery loader entry the batch named is the one the store shows,
  // and the volume the log names is the one that got the letter.
  std::vector<std::string> ids =
      Fields(r.out, {"d['arm']['boot_store']['custom:5400000f']",
                     "d['arm']['processes'][1]['script'].split('\\r\\n')[3].split()[-1]",
                     "d['patch']['letters_assigned'][0]['volume']", "d['images']['folder']"});
  ASSERT_EQ(ids[0].size(), 38u) << ids[0];
  EXPECT_EQ(ids[1].size(), 38u);
  std::string upper = ids[0];
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_EQ(ids[1], upper);
  EXPECT_EQ(ids[2].size(), 49u) << ids[2];
  EXPECT_FALSE(HostFileExists(ids[3] + "/notebook-gpt.img")) << "the temporary images are removed";
}

TEST_F(TavuSimDemoTest, MbrNotebookIsArmedThroughThePartitionTable) {
  CommandResult r = Sim("demo --mbr --json");
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectFields(
      r.out,
      {
          {"d['machine']", "mbr"},
          {"[(p['number'], p['type'], p['active'], p['letter']) for p in d['disks_before'][0]['partitions']]",
           "(1, '0x07', True, 'C:')|(2, '0x1C', False, None)"},
          {"[d['locate']['recovery_partition'][k] for k in ('result', 'disk', 'partition')]", "0|0|2"},
          {"d['locate']['partition_style']['result']", "0"},
          {"[d['arm']['result'], d['arm']['route']]", "0|partition-table"},
          {"d['arm']['processes'][0]['script'].split('\\r\\n')",
           "sel disk 0|sel par 2|set id=0c override|active|"},
          // The volume showed up with the first free letter after D: (the stick)
          // and the second script takes it away again.
          {"d['arm']['processes'][1]['script'].split('\\r\\n')",
           "sel disk 0|sel par 2|remove letter=E noerr|"},
          {"[(p['number'], p['type'], p['active'], p['letter']) for p in d['arm']['disks'][0]['partitions']]",
           "(1, '0x07', False, 'C:')|(2, '0x0C', True, None)"},
          {"[d['arm']['temp_files_left'], d['arm']['restart_pending'], d['arm']['boot_store']['changes']]",
           "[]|True|0"},
          // /DISABLE: Windows' partition active again, which takes the flag
          // from the recovery partition, then the recovery partition hidden.
          {"[d['disable']['result'], d['disable']['task_registered'], d['disable']['firmware_mode']]",
           "0|False|off"},
          {"d['disable']['persistent_writes']",
           "firmware mode: off|diskpart disk 0 partition 1: active|"
           "diskpart disk 0 partition 2: set id=1c override|journal: deleted|task: delete"},
          {"[(p['number'], p['type'], p['active'], p['letter']) for p in "
           "d['disable']['disks'][0]['partitions']]",
           "(1, '0x07', True, 'C:')|(2, '0x1C', False, None)"},
          // The patcher leaves MBR disks alone but still replaces the launcher.
          // The arming's volume arrived while the patcher ran: not the patcher's doing.
          {"[d['patch']['layout_writes'], d['patch']['letters_assigned'], d['patch']['volume_arrivals']]",
           "[]|[]|[]"},
          {"d['patch']['log'][:2]", "[FixDowngarde]\tDisk: 0|[FixDowngarde]\tPARTITION_STYLE_MBR"},
          {"[d['patch']['launcher'], d['installed_launcher_after']['version']]", "replaced|1.0.0.7"},
      });
}

// The GPT as the demo leaves it on disk with --write, checked here from the
// bytes: signature, both headers' CRCs, the entry arrays' CRCs, attributes.
std::uint32_t Le32(const std::string& b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8 |
                                    static_cast<unsigned char>(b[at + 2]) << 16 |
                                    static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24);
}
std::uint64_t Le64(const std::string& b, std::size_t at) {
  return Le32(b, at) | static_cast<std::uint64_t>(Le32(b, at + 4)) << 32;
}
std::uint32_t Crc(const std::string& b, std::size_t at, std::size_t size) {
  return static_cast<std::uint32_t>(
      crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(b.data() + at), static_cast<uInt>(size)));
}

TEST_F(TavuSimDemoTest, WrittenImagesKeepAValidTable) {
  const std::string images = work_.path() + "/images";
  CommandResult r = Sim("demo --images " + ShellQuote(images) + " --write --json");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string disk = ReadHostFile(images + "/notebook-gpt.img");
  ASSERT_EQ(disk.size(), 64u * 1024 * 1024);
  const std::uint64_t last = disk.size() / 512 - 1;
  for (std::uint64_t lba : {std::uint64_t{1}, last}) {
    SCOPED_TRACE(lba);
    const std::size_t h = static_cast<std::size_t>(lba * 512);
    ASSERT_EQ(disk.substr(h, 8), "EFI PART");
    EXPECT_EQ(Le64(disk, h + 24), lba);
    std::string header = disk.substr(h, 92);
    const std::uint32_t stored = Le32(header, 16);
    header.replace(16, 4, std::string(4, '\0'));
    EXPECT_EQ(Crc(header, 0, 92), stored);
    const std::size_t entries = static_cast<std::size_t>(Le64(disk, h + 72) * 512);
    EXPECT_EQ(Crc(disk, entries, 128 * 128), Le32(disk, h + 88));
    // Entry 4, the data partition, lost its hidden and no-letter bits; entry
    // 5, the recovery partition, kept its own.
    EXPECT_EQ(Le64(disk, entries + 3 * 128 + 48), 0u);
    EXPECT_EQ(Le64(disk, entries + 4 * 128 + 48), 0x8000000000000001ull);
  }
  if (HaveTool("sgdisk")) {
    CommandResult v = RunCommand(ToolPath() + "sgdisk -v " + ShellQuote(images + "/notebook-gpt.img"));
    EXPECT_EQ(v.status, 0) << v.out << v.err;
    EXPECT_NE(v.out.find("No problems found"), std::string::npos) << v.out;
  }

  r = Sim("demo --mbr --images " + ShellQuote(images + "-mbr") + " --write --json");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string mbr = ReadHostFile(images + "-mbr/notebook-mbr.img");
  ASSERT_GE(mbr.size(), 512u);
  // The demo's /DISABLE put the table back after the arming.
  EXPECT_EQ(static_cast<unsigned char>(mbr[0x1BE]), 0x80) << "Windows' partition is active again";
  EXPECT_EQ(static_cast<unsigned char>(mbr[0x1BE + 4]), 0x07);
  EXPECT_EQ(static_cast<unsigned char>(mbr[0x1CE]), 0x00);
  EXPECT_EQ(static_cast<unsigned char>(mbr[0x1CE + 4]), 0x1C);
  EXPECT_EQ(mbr.substr(510, 2), "\x55\xAA");
}

TEST_F(TavuSimDemoTest, CarriedLauncherGivenIsWhatGetsInstalled) {
  VersionContent version;
  version.tables = {{"040904b0", {{"FileVersion", "1.0.0.7"}, {"Comments", "given to the demo"}}}};
  const std::string carried = BuildPe(BuildVersionBlock(version)).bytes;
  WriteHostFile(work_.path() + "/carried.exe", carried);
  const std::string root = work_.path() + "/c";
  WriteHostFile(root + "/keep", "");
  CommandResult r = Sim("--root " + ShellQuote(root) + " --carried-launcher " +
                        ShellQuote(work_.path() + "/carried.exe") + " demo --json");
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectFields(r.out, {{"[d['carried_launcher']['source'], d['carried_launcher']['bytes']]",
                        "given|" + std::to_string(carried.size())},
                       {"d['patch']['launcher']", "replaced"}});
  EXPECT_TRUE(ReadHostFile(root + kInstalled) == carried);
}

TEST_F(TavuSimDemoTest, RefusesWhatItCannotDoWithoutTouchingAnything) {
  const std::string root = work_.path() + "/c";
  WriteHostFile(root + kInstalled, "the user's own file");
  const std::string images = work_.path() + "/kept";
  WriteHostFile(images + "/usb-stick.img", "not ours");
  const std::string blank = work_.path() + "/blank.img";
  WriteHostFile(blank, std::string(1024 * 1024, '\0'));
  struct {
    std::string args;
    const char* message;
  } cases[] = {
      {"--disk " + ShellQuote(blank) + " demo", "demo builds its own disks"},
      {"demo --absent", "demo builds its own disks"},
      {"--mbr locate", "--mbr and --images belong to demo"},
      {"patch --images " + ShellQuote(images), "--mbr and --images belong to demo"},
      {"--root " + ShellQuote(root) + " demo", "demo installs its own launcher, but"},
      {"demo --images " + ShellQuote(images), "it exists"},
      {"--carried-launcher " + ShellQuote(work_.path() + "/none.exe") + " demo",
       "cannot read carried launcher"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    CommandResult r = Sim(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadHostFile(root + kInstalled), "the user's own file");
  EXPECT_EQ(ReadHostFile(images + "/usb-stick.img"), "not ours");
  EXPECT_FALSE(HostFileExists(images + "/notebook-gpt.img")) << "nothing made when one image is in the way";
}

TEST_F(TavuSimDemoTest, ReadableReportFitsOneScreenInTheOrderOfTheRun) {
  for (bool mbr : {false, true}) {
    SCOPED_TRACE(mbr ? "--mbr" : "gpt");
    CommandResult r = Sim(mbr ? "demo --mbr" : "demo");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_LE(std::count(r.out.begin(), r.out.end(), '\n'), 60) << r.out;
    const std::vector<std::string> parts =
        mbr ? std::vector<std::string>{"recovery partition: disk 0, partition 2 (\"RECOVERY\"), MBR disk\n",
                                       "route partition-table, result 0\n",
                                       "       | set id=0c override\n",
                                       "disk 0 partition 2 afterwards: type 0x0C, active, no letter\n",
                                       "/DISABLE, exit code 0\n",
                                       "   firmware mode: off, diskpart x2, journal: deleted, task: delete; "
                                       "logon task removed, firmware mode off\n",
                                       "table entries rewritten: none\n",
                                       "letters given: none\n",
                                       "installed launcher replaced: version 1.0.0.6 -> 1.0.0.7\n"}
            : std::vector<std::string>{
                  "recovery partition: disk 0, partition 5 (\"Recovery\"), GPT disk\n",
                  "route boot-manager, result 0\n",
                  "       | bcdedit /enum all > \"C:\\Windows\\Temp\\RcvBoot.txt\"\n",
                  "{bootmgr} customactions    0x1000043000001 0x5400000f\n",
                  "/DISABLE, exit code 0\n",
                  "   firmware mode: off, bcdedit x5, journal: deleted, task: delete; logon task removed, "
                  "firmware mode off\n",
                  "log  [FixDowngarde]\tPARTITION_STYLE_GPT\n",
                  "rewritten: disk 0, partition 3 (\"Windows\"), disk 0, partition 4 (\"Data\")",
                  "letter E:\\ given to disk 0, partition 4 (\"Data\")",
                  "installed launcher replaced: version 1.0.0.6 -> 1.0.0.7\n"};
    std::size_t at = 0;
    for (const std::string& part : parts) {
      const std::size_t found = r.out.find(part, at);
      EXPECT_NE(found, std::string::npos) << "in order: " << part << "\n" << r.out;
      if (found != std::string::npos) at = found;
    }
  }
  // The running launcher's file is renamed aside and the carried one takes
  // its name at once: the versions are the old file's and the carried one's.
  CommandResult r = Sim("demo --launcher-running");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("installed launcher replaced: version 1.0.0.6 -> 1.0.0.7\n"), std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace tavu::test
