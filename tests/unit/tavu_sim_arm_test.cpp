// tavu-sim arm on disk images made by the real partitioning and formatting
// tools (tests/fixtures/make_images.sh), with what it prints read by a JSON
// parser not ours, and what --write leaves in the images read back by sfdisk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/fixtures/disk_builders.h"
#include "tests/fixtures/real_images.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/tavu_sim_run.h"
#include "tests/fixtures/listing_text.h"
#include "tests/fixtures/temp_dir.h"

namespace tavu::test {
namespace {

class TavuSimArmTest : public ::testing::Test {
 protected:
  // Made once per version of the script, beside tavu-sim, and shared with the
  // other tests on these images (the same folder name).
  static void SetUpTestSuite() { status_ = MakeRealImages(&dir_).status; }
  void SetUp() override {
    if (status_ == 77) GTEST_SKIP() << "the partitioning and formatting tools are not installed";
    ASSERT_EQ(status_, 0);
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is needed to read the JSON";
  }

  // A copy of a made image in this test's folder, so --write touches only it.
  std::string Copy(const std::string& name) {
    const std::string copy = work_.path() + "/" + name;
    WriteHostFile(copy, ReadHostFile(dir_ + "/" + name));
    return copy;
  }
  CommandResult Sim(const std::string& args) { return RunTavuSim(args); }
  std::vector<std::string> Fields(const std::string& json, const std::vector<std::string>& expressions) {
    return JsonFields(work_.path(), json, expressions);
  }
  std::string Field(const std::string& json, const std::string& expression) {
    return Fields(json, {expression})[0];
  }

  static std::string dir_;
  static int status_;
  TempDir work_;
};

std::string TavuSimArmTest::dir_;
int TavuSimArmTest::status_ = 0;

TEST_F(TavuSimArmTest, GptImageIsArmedThroughTheBootManagerAndNotWrittenTo) {
  const std::string image = Copy("gpt-notebook.img");
  const std::string before = ReadHostFile(image);
  CommandResult r = Sim("--disk " + ShellQuote(image) + " arm --json --write");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one JSON object on one line";
  struct {
    const char* expression;
    std::string value;
  } fields[] = {
      {"sorted(d)",
       "boot_store|disks|firmware_mode|message_boxes|persistent_writes|power_cut_after|processes|"
       "restart_pending|restart_seconds|result|route|task_action|task_principal|task_registered|"
       "temp_files_left|volume_arrivals|volumes_offline"},
      {"d['result']", "0"},
      {"d['route']", "boot-manager"},
      {"d['message_boxes']", ""},
      {"[p['file'] for p in d['processes']]",
       "C:\\Windows\\Sysnative\\cmd.exe|C:\\Windows\\Sysnative\\cmd.exe|"
       "C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\FwMode.exe|C:\\Windows\\Sysnative\\shutdown.exe"},
      {"[p['parameters'] for p in d['processes']]",
       "/d /c \"C:\\Windows\\Temp\\RcvBoot.cmd\"|/d /c \"C:\\Windows\\Temp\\RcvBoot.cmd\"|/enable|-r -t 10"},
      {"[p['directory'] for p in d['processes']]",
       "C:\\Windows\\System32|C:\\Windows\\System32|C:\\Program Files\\TAVU\\TAVU Recovery Launcher|"
       "C:\\Windows\\System32"},
      {"[p['show'] for p in d['processes']]", "0|0|5|5"},
      {"[p['image'] for p in d['processes']]",
       "C:\\Windows\\System32\\cmd.exe|C:\\Windows\\System32\\cmd.exe|"
       "C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\FwMode.exe|C:\\Windows\\System32\\shutdown.exe"},
      {"[p['redirection_off'] for p in d['processes']]", "False|False|False|False"},
      {"repr(d['processes'][0]['script'])",
       "'@ECHO OFF\\r\\nCHCP 437\\r\\nbcdedit /enum all > \"C:\\\\Windows\\\\Temp\\\\RcvBoot.txt\"\\r\\n'"},
      {"d['processes'][1]['script'].split('\\r\\n')",
       "@ECHO OFF|CHCP 437|bcdedit /set {bootmgr} customactions 0x1000043000001 0x5400000f|"
       "bcdedit /set {bootmgr} custom:5400000f {ID}|bcdedit /set {bootmgr} extendedinput Yes |"
       "bcdedit /set {current} isolatedcontext No|bcdedit /displayorder {ID}|"},
      {"[d['processes'][2]['script'], d['processes'][3]['script']]", "None|None"},
      {"d['temp_files_left']", ""},
      {"d['volumes_offline']", ""},
      {"d['restart_pending']", "True"},
      {"d['restart_seconds']", "10"},
      {"d['task_registered']", "True"},
      {"d['task_principal']", "S-1-5-18"},
      // The undo in place before the first change, the firmware mode last.
      {"d['persistent_writes']",
       "task: delete|task: register|journal: written|"
       "bcdedit /set {bootmgr} customactions 0x1000043000001 0x5400000f|"
       "bcdedit /set {bootmgr} custom:5400000f {ID}|bcdedit /set {bootmgr} extendedinput Yes|"
       "bcdedit /set {current} isolatedcontext No|bcdedit /displayorder {ID}|firmware mode: on"},
      {"d['power_cut_after']", "None"},
      {"d['firmware_mode']", "on"},
      {"d['boot_store']['customactions']", "0x1000043000001 0x5400000f"},
      {"d['boot_store']['custom:5400000f'] == d['boot_store']['displayorder'][0]", "True"},
      {"len(d['boot_store']['displayorder'])", "1"},
      {"d['boot_store']['extendedinput']", "Yes"},
      {"d['boot_store']['current_isolatedcontext']", "No"},
      {"[(p['number'], p['type'], p['letter']) for p in d['disks'][0]['partitions']][-1]",
       "(5, '{DE94BBA4-06D1-4D40-A16A-BFD50179D6AC}', None)"},
  };
  // The identifier the listing batch found, as the store lists it.
  std::string id = Field(r.out, "d['boot_store']['custom:5400000f'].upper()");
  ASSERT_EQ(id.size(), 38u) << id;
  std::vector<std::string> expressions;
  for (const auto& f : fields) expressions.push_back(f.expression);
  std::vector<std::string> got = Fields(r.out, expressions);
  for (std::size_t i = 0; i < expressions.size(); ++i) {
    SCOPED_TRACE(expressions[i]);
    std::string want = fields[i].value;
    for (std::size_t at; (at = want.find("{ID}")) != std::string::npos;) want.replace(at, 4, id);
    EXPECT_EQ(got[i], want);
  }
  // The boot-manager route writes nothing to the partition table.
  EXPECT_TRUE(ReadHostFile(image) == before);
}

TEST_F(TavuSimArmTest, MbrImageGetsTypeZeroCActiveOnDiskWithWrite) {
  for (bool write : {false, true}) {
    SCOPED_TRACE(write ? "--write" : "in memory");
    const std::string image = Copy("mbr-recovery.img");
    const std::string before = ReadHostFile(image);
    CommandResult r = Sim("--disk " + ShellQuote(image) + " arm --json" + (write ? " --write" : ""));
    ASSERT_EQ(r.status, 0) << r.err;
    struct {
      const char* expression;
      const char* value;
    } fields[] = {
        {"d['result']", "0"},
        {"d['route']", "partition-table"},
        {"[p['file'] for p in d['processes']][:2]",
         "C:\\Windows\\Sysnative\\diskpart.exe|C:\\Windows\\Sysnative\\diskpart.exe"},
        {"[p['parameters'] for p in d['processes']]",
         "/s \"C:\\Windows\\Temp\\RcvBootDisk.txt\"|/s \"C:\\Windows\\Temp\\RcvBootDisk.txt\"|/enable|-r -t "
         "10"},
        {"d['processes'][0]['script'].split('\\r\\n')", "sel disk 0|sel par 2|set id=0c override|active|"},
        {"d['processes'][1]['script'].split('\\r\\n')", "sel disk 0|sel par 2|remove letter=D noerr|"},
        {"[p['exit_code'] for p in d['processes']]", "0|0|0|0"},
        {"[p['image'] for p in d['processes']][::3]",
         "C:\\Windows\\System32\\diskpart.exe|C:\\Windows\\System32\\shutdown.exe"},
        {"[p['redirection_off'] for p in d['processes']]", "False|False|False|False"},
        {"d['task_registered']", "True"},
        {"d['temp_files_left']", ""},
        {"[(v['disk'], v['partition']) for v in d['volumes_offline']]", "(0, 2)"},
        {"d['restart_pending']", "True"},
        {"[(p['number'], p['type'], p['active'], p['letter']) for p in d['disks'][0]['partitions']]",
         "(1, '0x07', False, 'C:')|(2, '0x0C', True, None)"},
        {"d['boot_store']['changes']", "0"},
    };
    std::vector<std::string> expressions;
    for (const auto& f : fields) expressions.push_back(f.expression);
    std::vector<std::string> got = Fields(r.out, expressions);
    for (std::size_t i = 0; i < expressions.size(); ++i) {
      SCOPED_TRACE(expressions[i]);
      EXPECT_EQ(got[i], fields[i].value);
    }
    CommandResult dump = RunCommand(ToolPath() + "sfdisk --dump " + ShellQuote(image));
    ASSERT_EQ(dump.status, 0) << dump.err;
    if (write) {
      EXPECT_NE(dump.out.find("start=        2048, size=       32768, type=7\n"), std::string::npos)
          << dump.out;
      EXPECT_NE(dump.out.find("start=       34816, size=       81920, type=c, bootable\n"), std::string::npos)
          << dump.out;
    } else {
      EXPECT_TRUE(ReadHostFile(image) == before);
      EXPECT_NE(dump.out.find("type=1c\n"), std::string::npos) << dump.out;
    }
  }
}

// The owner's account, which started the elevated launcher, prepared its
// command processor: a PATHEXT and PATH that turn "bcdedit" into the owner's
// own batch file, and an AutoRun command for every cmd.exe. Neither runs, and
// the machine is armed as on any other.
TEST_F(TavuSimArmTest, OwnersCommandProcessorSettingsRunNothingElevated) {
  const std::string root = work_.path() + "/root";
  WriteHostFile(root + "/Users/Owner/bin/bcdedit.cmd", "@echo off\r\n");
  WriteHostFile(root + "/Users/Owner/autorun.cmd", "@echo off\r\n");
  CommandResult r = Sim("--root " + ShellQuote(root) + " --disk " + ShellQuote(Copy("gpt-notebook.img")) +
                        " --user-env PATHEXT=.CMD --user-env 'PATH=C:\\Users\\Owner\\bin'" +
                        " --cmd-autorun 'C:\\Users\\Owner\\autorun.cmd' arm --json");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> got =
      Fields(r.out, {"[p['image'] for p in d['processes'] if 'Owner' in p['image']]", "d['result']",
                     "[p['image'] for p in d['processes']]", "d['boot_store']['customactions']"});
  EXPECT_EQ(got[0], "") << "the owner's files ran elevated";
  EXPECT_EQ(got[1], "0");
  EXPECT_EQ(
      got[2],
      "C:\\Windows\\System32\\cmd.exe|C:\\Windows\\System32\\cmd.exe|"
      "C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\FwMode.exe|C:\\Windows\\System32\\shutdown.exe");
  EXPECT_EQ(got[3], "0x1000043000001 0x5400000f");
}

// An external disk reports fixed media; numbered before the system disk, its
// hidden FAT32 partition must not be made the notebook's active partition.
TEST_F(TavuSimArmTest, UsbDiskBeforeTheSystemDiskIsNeverArmed) {
  const std::string usb = Copy("mbr-recovery.img");
  const std::string before = ReadHostFile(usb);
  CommandResult r = Sim("--usb-disk " + ShellQuote(usb) + " --disk " + ShellQuote(Copy("gpt-notebook.img")) +
                        " arm --json --write");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> got =
      Fields(r.out, {"d['route']", "[p['file'] for p in d['processes'] if 'diskpart' in p['file']]",
                     "[(p['number'], p['type'], p['active']) for p in d['disks'][0]['partitions']]",
                     "d['boot_store']['customactions']"});
  EXPECT_EQ(got[0], "boot-manager");
  EXPECT_EQ(got[1], "");
  EXPECT_EQ(got[2], "(1, '0x07', True)|(2, '0x1C', False)");
  EXPECT_EQ(got[3], "0x1000043000001 0x5400000f");
  EXPECT_TRUE(ReadHostFile(usb) == before);
}

TEST_F(TavuSimArmTest, MachineOptions) {
  const std::string gpt = Copy("gpt-notebook.img");
  // Captured on another notebook: its ramdisk lines name this image's
  // recovery volume, \Device\HarddiskVolume3, as bcdedit would here.
  const std::string german = work_.path() + "/german_cp437.txt";
  WriteHostFile(german, WithRecoveryVolume(
                            ReadHostFile(std::string(TAVU_SOURCE_DIR "/tests/fixtures/bcd/german_cp437.txt")), 3));
  // The launcher installed in its folder, without its tool.
  const std::string withoutTool = work_.path() + "/without-tool";
  WriteHostFile(withoutTool + "/Program Files/TAVU/TAVU Recovery Launcher/TAVU Recovery.exe", "MZ");
  struct {
    std::string args;
    const char* expression;
    const char* value;
  } cases[] = {
      {"--bitlocker 0,1", "[d['result'], d['route'], d['message_boxes'][0]['text'], len(d['processes'])]",
       "1|None|Please disable BitLocker and try again.|0"},
      {"--bitlocker 2", "[d['result'], d['message_boxes'][0]['title']]", "1|Recovery Aborted"},
      {"--bitlocker 0,0", "[d['result'], d['restart_pending']]", "0|True"},
      // A check that fails counts as no protection, as Windows' own answer would.
      {"--bitlocker fail", "[d['result'], d['restart_pending']]", "0|True"},
      {"--bcd-listing " + ShellQuote(german),
       "[d['boot_store']['custom:5400000f'], d['boot_store']['displayorder']]",
       "{0c5fd1a7-a1c3-11e3-be57-806e6f6e6963}|['{0c5fd1a7-a1c3-11e3-be57-806e6f6e6963}']"},
      // Without the tool the arming and its undo are the same; only the
      // firmware mode is not switched.
      {"--root " + ShellQuote(withoutTool) + " --fwmode absent",
       "[[p['file'].split('\\\\')[-1] for p in d['processes']], d['task_registered'], d['result'], "
       "d['firmware_mode']]",
       "['cmd.exe', 'cmd.exe', 'shutdown.exe']|True|0|off"},
      // A FwMode.exe planted beside a launcher where users write never runs,
      // and no task is left to start such a launcher: with none installed,
      // nothing could undo an arming, so nothing is armed.
      {"--launcher-path 'C:\\Users\\Owner\\Downloads\\TAVU Recovery.exe'",
       "[[p['image'] for p in d['processes'] if 'FwMode' in p['image']], d['task_registered'], d['result'], "
       "d['message_boxes'][0]['text'], d['restart_pending']]",
       "[]|False|1|The task that undoes the recovery preparation cannot be registered. Recovery process is "
       "aborted; nothing was changed. Please contact TAVU Service Center for further assistance.|False"},
      {"--launcher-path 'C:\\Tools\\TAVU Recovery.exe' --user-writable 'C:\\Tools'",
       "[[p['image'] for p in d['processes'] if 'FwMode' in p['image']], d['task_action']]", "[]|None"},
      // The installed folder itself, changeable by a group every user is in,
      // by its owner's account, or open to new subfolders beside the tool.
      {"--acl 'C:\\Program Files\\TAVU=O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;S-1-2-0)'",
       "[[p['image'] for p in d['processes'] if 'FwMode' in p['image']], d['task_registered']]", "[]|False"},
      {"--acl 'C:\\Program Files\\TAVU\\TAVU Recovery Launcher=O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;BA)'",
       "[[p['image'] for p in d['processes'] if 'FwMode' in p['image']], d['task_registered']]", "[]|False"},
      {"--acl 'C:\\Program Files\\TAVU\\TAVU Recovery Launcher=O:BAD:(A;OICI;FA;;;BA)(A;;0x100004;;;BU)'",
       "[[p['image'] for p in d['processes'] if 'FwMode' in p['image']], d['task_registered']]", "[]|False"},
      // Under "Object creator" the installer's folders are the owner's, as is
      // malware running unelevated as the owner: nothing there is trusted.
      {"--owner-default creator",
       "[[p['image'] for p in d['processes'] if 'FwMode' in p['image']], d['task_registered']]", "[]|False"},
      // Users may set the tool's attributes only; enough to swap what runs.
      {"--acl 'C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\FwMode.exe=O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)"
       "(A;;0x1201a9;;;BU)'",
       "[[p['image'] for p in d['processes'] if 'FwMode' in p['image']], d['task_registered']]", "[]|True"},
      // A Temp where users may delete what others made: the scripts go to a
      // folder of the launcher's own, made for administrators only, and go again.
      {"--acl 'C:\\Windows\\Temp=O:BAD:P(A;OICI;FA;;;BU)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)'",
       "[sorted(set(p['parameters'][7:28] + p['parameters'][36:] for p in d['processes'] if 'cmd' in p['image'])), "
       "all(all(c in '0123456789ABCDEF' for c in p['parameters'][28:36]) for p in d['processes'] "
       "if 'cmd' in p['image']), d['temp_files_left'], d['result']]",
       "['C:\\\\Windows\\\\Temp\\\\TAVU-\\\\RcvBoot.cmd\"']|True|[]|0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    CommandResult r = Sim("--disk " + ShellQuote(gpt) + " " + c.args + " arm --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Field(r.out, c.expression), c.value);
  }
  // Beside the installed launcher, its own tool runs and the task starts it.
  CommandResult r;
  const std::string installed = work_.path() + "/root/Program Files/TAVU/TAVU Recovery Launcher/";
  WriteHostFile(installed + "TAVU Recovery.exe", "MZ");
  WriteHostFile(installed + "FwMode.exe", "MZ");
  r = Sim("--disk " + ShellQuote(gpt) + " --root " + ShellQuote(work_.path() + "/root") +
          " --launcher-path 'C:\\Users\\Owner\\Downloads\\TAVU Recovery.exe' arm --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      Field(r.out, "[[p['image'] for p in d['processes'] if 'FwMode' in p['image']], d['task_action']]"),
      "['C:\\\\Program Files\\\\TAVU\\\\TAVU Recovery Launcher\\\\FwMode.exe']|"
      "{'path': 'C:\\\\Program Files\\\\TAVU\\\\TAVU Recovery Launcher\\\\TAVU Recovery.exe', "
      "'arguments': '/CHECK'}");

  // Program Files\TAVU moved elsewhere with a junction: the walk up the
  // written names would see only the junction's parents, so nothing behind
  // it runs, and the check names the step.
  const std::string moved = work_.path() + "/moved";
  WriteHostFile(moved + "/Elsewhere/TAVU/TAVU Recovery Launcher/TAVU Recovery.exe", "MZ");
  WriteHostFile(moved + "/Elsewhere/TAVU/TAVU Recovery Launcher/FwMode.exe", "MZ");
  std::filesystem::create_directories(moved + "/Program Files");
  std::filesystem::create_directory_symlink("../Elsewhere/TAVU", moved + "/Program Files/TAVU");
  r = Sim("--disk " + ShellQuote(gpt) + " --root " + ShellQuote(moved) + " arm --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Field(r.out, "[[p['image'] for p in d['processes'] if 'FwMode' in p['image']], d['task_registered'], "
                         "d['result']]"),
            "[]|False|1");
  r = Sim("--disk " + ShellQuote(gpt) + " --root " + ShellQuote(moved) + " check --json");
  EXPECT_EQ(Field(r.out, "d['trust']['refused_step']"),
            "C:\\Program Files\\TAVU: a junction, symbolic link or mount point; the launcher trusts no path "
            "through one");

  r = Sim("--disk " + ShellQuote(gpt) + " --bcd-listing /nonexistent/listing.txt arm --json");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tavu-sim: cannot read listing '/nonexistent/listing.txt': No such file or directory\n");
}

// The support check on the real tools' images: ready on both routes, the
// images untouched even with --write, and exit status 1 for an abort.
TEST_F(TavuSimArmTest, CheckOnRealImagesChangesNothing) {
  struct {
    const char* image;
    const char* expression;
    const char* value;
  } cases[] = {
      {"gpt-notebook.img", "[d['verdict'], d['route'], len(d['recovery_entry']), d['recovery_volume']]",
       "ready|boot-manager|38|None"},
      {"mbr-recovery.img",
       "[d['verdict'], d['route'], d['recovery_entry'], d['recovery_volume']['label'], "
       "d['recovery_partition']['partition']]",
       "ready|partition-table|None|RECOVERY|2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image);
    const std::string image = Copy(c.image);
    const std::string before = ReadHostFile(image);
    CommandResult r = Sim("--disk " + ShellQuote(image) + " check --json --write");
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(Field(r.out, c.expression), c.value);
    EXPECT_EQ(Field(r.out, "[p['type_name'] for p in d['disks'][0]['partitions']][-1]"),
              std::string(c.image)[0] == 'g' ? "Windows RE" : "Hidden W95 FAT32 (LBA)");
    EXPECT_TRUE(ReadHostFile(image) == before);
    r = Sim("--manufacturer Other --disk " + ShellQuote(image) + " check");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("TAVU Recovery check: abort\n", 0), 0u) << r.out;
  }
}

// A damaged GPT reported rule by rule; sgdisk -v, the oracle, finds a problem
// exactly where tavu-sim does.
TEST_F(TavuSimArmTest, DamagedTablesAreReportedRuleByRule) {
  const std::string sound = Copy("gpt-notebook.img");
  const std::uint64_t last = ReadHostFile(sound).size() / 512 - 1;
  // Rewrites the main header's CRC after a change, so only the intended rule breaks.
  auto fixCrc = [](std::string& disk, std::size_t header) {
    std::string h = disk.substr(header, 92);
    for (int i = 0; i < 4; ++i) h[16 + i] = 0;
    const std::uint32_t crc = Crc32(reinterpret_cast<const std::uint8_t*>(h.data()), h.size());
    for (int i = 0; i < 4; ++i) disk[header + 16 + i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
  };
  struct {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* problem;  // null: sound
  } cases[] = {
      {"sound", [](std::string&) {}, nullptr},
      {"main header CRC", [](std::string& d) { d[512 + 16] ^= 0x01; },
       "The CRC of the main GPT header is wrong; the backup header was used"},
      {"main signature", [](std::string& d) { d[512] = 'X'; },
       "The main GPT header's signature is not \"EFI PART\"; the backup header was used"},
      {"main header's own LBA",
       [&](std::string& d) {
         d[512 + 24] = 5;
         fixCrc(d, 512);
       },
       "The main GPT header says it lies at LBA 5, not at LBA 1; the backup header was used"},
      {"backup entries", [&](std::string& d) { d[(last - 32) * 512 + 100] ^= 0x01; },
       "The CRC of the backup partition table is wrong"},
      {"backup's place",
       [&](std::string& d) {
         d[512 + 32] ^= 0x01;
         fixCrc(d, 512);
       },
       "The main GPT header places its backup at LBA "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string image = Copy("gpt-notebook.img");
    std::string bytes = ReadHostFile(image);
    c.damage(bytes);
    WriteHostFile(image, bytes);
    CommandResult r = Sim("--disk " + ShellQuote(image) + " locate --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string problems = Field(r.out, "d['disks'][0]['problems']");
    // sgdisk repairs a damaged main header from the backup in memory and then
    // finds nothing more, but says first that the GPT is corrupt.
    CommandResult verify = RunCommand(ToolPath() + "sgdisk -v " + ShellQuote(image));
    const bool sgdiskSound = verify.out.find("No problems found") != std::string::npos &&
                             verify.out.find("corrupt") == std::string::npos;
    EXPECT_EQ(sgdiskSound, c.problem == nullptr) << verify.out;
    if (c.problem == nullptr) {
      EXPECT_EQ(problems, "");
    } else {
      EXPECT_NE(problems.find(c.problem), std::string::npos) << problems;
    }
    r = Sim("--disk " + ShellQuote(image) + " locate");
    if (c.problem != nullptr) {
      EXPECT_NE(r.out.find(std::string("  problem: ") + c.problem), std::string::npos) << r.out;
    }
  }
}

TEST_F(TavuSimArmTest, RootFolderStandsForC) {
  const std::string root = work_.path() + "/c";
  // A batch planted by an ordinary user before the launcher runs.
  WriteHostFile(root + "/windows/temp/rcvboot.cmd", "@ECHO OFF\r\nformat c: /q\r\n");
  CommandResult r =
      Sim("--root " + ShellQuote(root) + " --disk " + ShellQuote(Copy("gpt-notebook.img")) + " arm --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Field(r.out, "[d['result'], d['temp_files_left'], d['processes'][0]['script'][:19]]"),
            "0|[]|@ECHO OFF\r\nCHCP 437");
  EXPECT_FALSE(HostFileExists(root + "/windows/temp/rcvboot.cmd"));
  // The tool's own stand-in of the firmware-mode tool is gone again; one the
  // caller put there is the caller's, and --fwmode absent cannot remove it.
  const std::string fwmode = root + "/Program Files/TAVU/TAVU Recovery Launcher/FwMode.exe";
  EXPECT_FALSE(HostFileExists(fwmode));
  WriteHostFile(fwmode, "MZ");

  r = Sim("--root " + ShellQuote(root) + " --fwmode absent --disk " + ShellQuote(Copy("gpt-notebook.img")) +
          " arm --json");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--fwmode absent, but"), std::string::npos) << r.err;
}

TEST_F(TavuSimArmTest, ReadableReportNamesRouteScriptsAndRestart) {
  CommandResult r = Sim("--disk " + ShellQuote(Copy("mbr-recovery.img")) + " arm");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* part :
       {"Route: partition-table\n", "       | set id=0c override\n", "       | remove letter=D noerr\n",
        "Temporary files left: none\n", "Restart pending: yes, restart in 10 seconds\n"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }
}

}  // namespace
}  // namespace tavu::test

namespace tavu::test {
namespace {

// From one run to the next as a user drives it: a cut after the recovery
// partition became visible, what the next start does, and the next start of
// Windows, with the boot store, firmware mode and task carried in --state.
TEST_F(TavuSimArmTest, StateCarriesACutArmingToTheNextStartOfWindows) {
  const std::string image = Copy("mbr-recovery.img");
  const std::string before = ReadHostFile(image);
  const std::string machine = "--disk " + ShellQuote(image) + " --root " + ShellQuote(work_.path() + "/c") +
                              " --state " + ShellQuote(work_.path() + "/state.json");
  CommandResult r = Sim(machine + " arm --stop-after 4 --write --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Fields(r.out, {"d['power_cut_after']", "d['persistent_writes'][3]", "d['restart_pending']",
                           "d['message_boxes']"}),
            (std::vector<std::string>{"4", "diskpart disk 0 partition 2: set id=0c override", "False", ""}));
  for (const char* rule : {"first", "default"}) {
    r = Sim(machine + " boot --json --menu-rule " + rule);
    ASSERT_EQ(r.status, 0) << r.err;
    // Visible, not yet active: the firmware still starts Windows.
    EXPECT_EQ(Fields(r.out, {"d['next_start']", "d['firmware_mode']", "d['active_partition']['partition']"}),
              (std::vector<std::string>{"windows", "off", "1"}))
        << rule;
  }
  r = Sim(machine + " logon --write --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Fields(r.out, {"[(t['trigger'], t['arguments']) for t in d['tasks_run']]", "d['task_registered']",
                           "d['persistent_writes'][-1]"}),
            (std::vector<std::string>{"('start-up', '/CHECK')", "False", "task: delete"}));
  EXPECT_TRUE(ReadHostFile(image) == before) << "the table is not back as it was";
  r = Sim(machine + " boot --json");
  EXPECT_EQ(Field(r.out, "d['next_start']"), "windows");
}

}  // namespace
}  // namespace tavu::test
