// tavu-sim's command line: options, exit status, the one-line errors, and the
// locate command's output on images built in code.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "sim/programs/bcd_store.h"
#include "tests/fixtures/disk_builders.h"
#include "tests/fixtures/notebooks.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/tavu_sim_run.h"
#include "tests/fixtures/temp_dir.h"
#include "tools/tavu-sim/listing_input.h"

namespace tavu::test {
namespace {

constexpr std::uint64_t kDiskSectors = 8 * kMiB / kSector;

class TavuSimCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Bytes hidden = MbrBuilder(kDiskSectors).Primary(0, 0x07, 2048, 2048).Primary(1, 0x1C, 4096, 2048).Build();
    Fat32Params fat;
    Place(hidden, 4096 * kSector, BuildFat32(fat).bytes);
    NtfsParams ntfs;
    ntfs.label = u"Windows";
    Place(hidden, 2048 * kSector, BuildNtfs(ntfs).bytes);
    Write("hidden.img", hidden);

    Bytes shown = hidden;
    shown[446 + 16 + 4] = 0x0C;
    Write("shown.img", shown);

    // Windows RE's partition holds its image, or arming it is refused.
    Bytes gpt =
        GptBuilder(kDiskSectors).Add(kBasicDataType, 2048, 2048).Add(kRecoveryType, 4096, 4096).Build();
    Place(gpt, 4096 * kSector, WindowsReVolume(4096, 4096));
    Write("gpt.img", gpt);
  }
  void Write(const std::string& name, const Bytes& bytes) {
    WriteHostFile(Path(name), bytes);
  }
  std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
  CommandResult Sim(const std::string& args) { return RunTavuSim(args); }
  TempDir dir_;
};

TEST_F(TavuSimCliTest, UsageErrorsExitWithTwoAndOneLine) {
  struct Case {
    std::string args;
    std::string message;
  };
  const Case cases[] = {
      {"", "tavu-sim: no command given\n"},
      {"bogus", "tavu-sim: unknown command 'bogus'\n"},
      {"locate arm", "tavu-sim: more than one command: 'locate' and 'arm'\n"},
      {"--disk", "tavu-sim: option --disk needs a value\n"},
      {"locate --verbose", "tavu-sim: unknown option --verbose\n"},
      {"--fwmode maybe locate", "tavu-sim: --fwmode: 'maybe' is not present or absent\n"},
      {"--bitlocker 0,3 locate", "tavu-sim: --bitlocker: '3' is not 0, 1, 2 or fail\n"},
      {"--bitlocker 1,,2 locate", "tavu-sim: --bitlocker: '' is not 0, 1, 2 or fail\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    CommandResult r = Sim(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), c.message);
  }
}

TEST_F(TavuSimCliTest, UnreadableImagesAreNamed) {
  struct Case {
    std::string args;
    std::string message;
  };
  const std::string missing = Path("missing.img");
  const Case cases[] = {
      {"--disk " + ShellQuote(missing) + " locate",
       "tavu-sim: cannot read image '" + missing + "': No such file or directory\n"},
      {"--disk " + ShellQuote(Path("gpt.img")) + " --usb-disk " + ShellQuote(dir_.path()) + " locate --json",
       "tavu-sim: cannot read image '" + dir_.path() + "': is a directory\n"},
      // A missing root is made; one below a file cannot be.
      {"--root " + ShellQuote(Path("gpt.img") + "/c") + " locate",
       "tavu-sim: cannot use root folder '" + Path("gpt.img") + "/c': not a folder\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    CommandResult r = Sim(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message);
  }
}

TEST_F(TavuSimCliTest, HelpVersionAndANewRoot) {
  for (const char* flag : {"--help", "-h", "locate --help"}) {
    SCOPED_TRACE(flag);
    CommandResult r = Sim(flag);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("usage: tavu-sim ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("  check   "), std::string::npos) << r.out;
  }
  CommandResult r = Sim("--version --carried-launcher " + ShellQuote(Path("gpt.img")));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "tavu-sim 1.0.0.7\ncarried launcher: " + Path("gpt.img") + ", FileVersion unknown\n");

  const std::string root = Path("new/c");
  r = Sim("--root " + ShellQuote(root) + " --disk " + ShellQuote(Path("gpt.img")) + " locate");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_directory(root));
  EXPECT_FALSE(HostFileExists(root + "/Windows/Temp"));

  // No argument at all: the whole help, every option in it.
  r = Sim("");
  EXPECT_EQ(r.status, 2);
  for (const char* option : {"--disk IMAGE ", "--bitlocker LIST ", "--absent ", "--card-reader ",
                             "--root DIR ", "--automount on|off ", "--images DIR "}) {
    EXPECT_NE(r.err.find(std::string("\n  ") + option), std::string::npos) << option << "\n" << r.err;
  }
  EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), Sim("--help").out);
}

// Input the machine cannot stand on is refused before anything is opened for
// long or made under --root: status 2 and one line naming the file and why.
TEST_F(TavuSimCliTest, UnusableInputIsRefusedInOneLine) {
  const std::string fifo = Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Write("empty.img", {});
  std::filesystem::create_hard_link(Path("gpt.img"), Path("same.img"));
  WriteHostFile(Path("utf16.txt"), "\xFF\xFE" + Utf16("\r\nWindows Boot Manager\r\n"));
  WriteHostFile(Path("utf16-no-mark.txt"), Utf16("Windows Boot Manager\r\n"));
  WriteHostFile(Path("denied.txt"), "Access is denied.\r\n");
  const std::string gpt = " --disk " + ShellQuote(Path("gpt.img"));
  const std::string root = Path("never-made");
  struct Case {
    std::string args;
    std::string message;
  };
  const Case cases[] = {
      {"--disk " + ShellQuote(fifo) + " check",
       "cannot read image '" + fifo + "': a FIFO: not a regular file or block device"},
      {"--usb-disk=" + ShellQuote(fifo) + " locate",
       "cannot read image '" + fifo + "': a FIFO: not a regular file or block device"},
      {"--bcd-listing " + ShellQuote(fifo) + gpt + " check",
       "cannot read listing '" + fifo + "': a FIFO: not a regular file or block device"},
      {"--carried-launcher " + ShellQuote(fifo) + gpt + " patch",
       "cannot read carried launcher '" + fifo + "': a FIFO: not a regular file or block device"},
      {"--disk " + ShellQuote(Path("empty.img")) + " locate",
       "cannot read image '" + Path("empty.img") + "': an empty file: an image holds at least one sector"},
      {gpt + " --removable " + ShellQuote(Path("same.img")) + " locate --write",
       "cannot read image '" + Path("same.img") + "': the same file as '" + Path("gpt.img") +
           "', given twice"},
      {"--bcd-listing " + ShellQuote(Path("utf16.txt")) + gpt + " check",
       "cannot read listing '" + Path("utf16.txt") +
           "': UTF-16 listing: capture it in cmd.exe, or convert it"},
      {"--bcd-listing=" + ShellQuote(Path("utf16-no-mark.txt")) + gpt + " arm",
       "cannot read listing '" + Path("utf16-no-mark.txt") +
           "': UTF-16 listing: capture it in cmd.exe, or convert it"},
      {"--root " + ShellQuote(root) + " --disk " + ShellQuote(Path("missing.img")) + " arm",
       "cannot read image '" + Path("missing.img") + "': No such file or directory"},
      {"--bcd-listing " + ShellQuote(Path("denied.txt")) + gpt + " check",
       "cannot read listing '" + Path("denied.txt") +
           "': not a listing of bcdedit /enum all (no {bootmgr} entry), its first line reads \"Access is "
           "denied.\": " + tool::kCaptureHint},
      {"check", "check needs a disk: give --disk IMAGE"},
      {"--json=yes locate", "option --json takes no value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    // A FIFO opened before its type is known would wait for ever.
    CommandResult r =
        RunCommand("timeout 30 " + ShellQuote(std::string(TAVU_TOOL_DIR "/tavu-sim")) + " " + c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), "tavu-sim: " + c.message + "\n");
  }
  EXPECT_FALSE(std::filesystem::exists(root));
}

// Disks the machine cannot present truthfully are refused, not shown as a
// disk without a recovery partition: status 2 and one line naming the file
// and the format, the partition or the size.
TEST_F(TavuSimCliTest, DisksItCannotPresentAreRefusedByName) {
  auto bytesOf = [&](const char* name) {
    const std::string text = ReadHostFile(Path(name));
    return Bytes(text.begin(), text.end());
  };
  const Bytes gpt = bytesOf("gpt.img");
  Write("short.img", Bytes(gpt.begin(), gpt.begin() + 511));
  // Cut inside partition 2 (LBA 4096 to 8191): 3 MiB of 4 MiB remain.
  Write("cut-gpt.img", Bytes(gpt.begin(), gpt.begin() + 3 * kMiB));
  const Bytes mbr = bytesOf("hidden.img");
  Write("cut-mbr.img", Bytes(mbr.begin(), mbr.begin() + 5 * kMiB / 2));
  NtfsParams ntfs;
  ntfs.volumeBytes = 1 * kMiB;
  Write("one-partition.img", BuildNtfs(ntfs).bytes);
  Bytes qcow(4096, 0);
  std::memcpy(qcow.data(), "QFI\xfb\0\0\0\x03", 8);
  Write("disk.qcow2", qcow);
  struct Case {
    std::string args;
    std::string message;
  };
  const Case cases[] = {
      {"--disk " + ShellQuote(Path("short.img")) + " check",
       "cannot read image '" + Path("short.img") +
           "': shorter than one sector: 511 bytes, and a sector holds 512"},
      {"--disk " + ShellQuote(Path("cut-gpt.img")) + " check",
       "cannot read image '" + Path("cut-gpt.img") +
           "': partition 2 ends at byte 4194304, beyond the image's end at byte 3145728: the image is cut "
           "short"},
      {"--disk " + ShellQuote(Path("cut-mbr.img")) + " locate",
       "cannot read image '" + Path("cut-mbr.img") +
           "': partition 2 ends at byte 3145728, beyond the image's end at byte 2621440: the image is cut "
           "short"},
      {"--disk " + ShellQuote(Path("one-partition.img")) + " check",
       "cannot read image '" + Path("one-partition.img") +
           "': an image of one partition, not of a whole disk (an NTFS file system starts at byte 0 and "
           "there "
           "is no partition table)"},
      {"--disk " + ShellQuote(Path("disk.qcow2")) + " check",
       "cannot read image '" + Path("disk.qcow2") +
           "': a qcow2 image, not a raw disk: convert it with qemu-img "
           "convert -O raw " +
           Path("disk.qcow2") + " disk.img"},
      {"--sector-size 4096 --disk " + ShellQuote(Path("gpt.img")) + " locate",
       "cannot read image '" + Path("gpt.img") +
           "': its GPT header lies at byte 512, where it lies on a disk of 512-byte sectors, not of the "
           "4096-byte sectors given: use --sector-size 512"},
      {"--sector-size 1024 --disk " + ShellQuote(Path("gpt.img")) + " locate",
       "--sector-size: '1024' is not 512 or 4096"},
      {"--disk " + ShellQuote(Path("gpt.img")) + " --sector-size 4096 locate",
       "--sector-size belongs to the --disk, --usb-disk or --removable that follows it"},
      {"--sector-size 512 --absent --disk " + ShellQuote(Path("gpt.img")) + " locate",
       "--sector-size belongs to the --disk, --usb-disk or --removable that follows it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    CommandResult r = Sim(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), "tavu-sim: " + c.message + "\n");
  }
  // On the USB bus the same volume is a stick formatted without a table,
  // which Windows presents as one partition over the whole stick, with a
  // letter after C:, which stays the fixed disk's.
  CommandResult r = Sim("--usb-disk " + ShellQuote(Path("one-partition.img")) + " --disk " +
                        ShellQuote(Path("gpt.img")) + " locate --json");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(
      r.out.find("{\"number\": 0, \"style\": \"MBR\", \"problems\": [], \"partitions\": [{\"number\": 1, "
                 "\"type\": \"0x07\", \"type_name\": \"HPFS/NTFS/exFAT\", \"active\": false, \"attributes\": "
                 "\"0x0000000000000000\", \"letter\": \"D:\", \"offset\": 0, \"size\": 1048576, \"label\": null, "
                 "\"file_system\": null}]}"),
      std::string::npos)
      << r.out;
}

// A listing handed over is read as the plain listing it stands for: one of
// bcdedit /enum all /v names {bootmgr} and {current} by their GUIDs. Anything
// else is refused with what it said and how to capture a listing.
TEST(TavuSimListingInput, ReadAsThePlainListingOrRefused) {
  const std::wstring plain = sim::DefaultBcdListing(sim::BcdMachineFacts{});
  const std::wstring kCurrent = L"{1f0a3c5e-7b9d-4e21-8c43-a5b6c7d8e9f0}";
  auto verbose = [&](std::wstring text) {
    for (const auto& [from, to] : {std::pair<std::wstring, std::wstring>{L"{bootmgr}", tool::kBootManagerGuid},
                                   {L"{current}", kCurrent}}) {
      for (std::size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    }
    return text;
  };
  // Two Windows loaders, neither on C:: which one runs cannot be told.
  const std::wstring twoLoaders = verbose(
      L"Windows Boot Manager\r\n--------------------\r\nidentifier              {bootmgr}\r\n\r\n"
      L"Windows Boot Loader\r\n-------------------\r\nidentifier              {aaaaaaaa-0000-0000-0000-000000000001}\r\n"
      L"path                    \\Windows\\system32\\winload.efi\r\nosdevice                partition=D:\r\n\r\n"
      L"Windows Boot Loader\r\n-------------------\r\nidentifier              {aaaaaaaa-0000-0000-0000-000000000002}\r\n"
      L"path                    \\Windows\\system32\\winload.efi\r\nosdevice                partition=E:\r\n");
  const std::string capture = std::string(": ") + tool::kCaptureHint;
  struct {
    const char* what;
    std::wstring text;
    std::string problem;
    std::wstring read;  // the text the machine takes, when it takes it
  } cases[] = {
      {"plain", plain, "", plain},
      {"with /v", verbose(plain), "", plain},
      {"with /v, two Windows loaders", twoLoaders, "in which the Windows loader cannot be told", L""},
      {"an error message", L"Access is denied.\r\n",
       "not a listing of bcdedit /enum all (no {bootmgr} entry), its first line reads \"Access is denied.\"" +
           capture,
       L""},
      {"German, after a blank line", L"\r\nZugriff verweigert\r\n", "its first line reads \"Zugriff verweigert\"",
       L""},
      {"reagentc /info", L"Windows Recovery Environment (Windows RE) and system reset configuration\r\n"
                         L"Information:\r\n\r\n    Windows RE status:         Enabled\r\n",
       "its first line reads \"Windows Recovery Environment (Windows RE) and system reset configuration\"", L""},
      {"empty", L"", "the file holds no text" + capture, L""},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring text = c.text;
    const std::string problem = tool::ReadGivenListing(&text);
    if (c.problem.empty()) {
      EXPECT_EQ(problem, "");
      EXPECT_TRUE(text == c.read);
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
      if (c.text == twoLoaders) {
        EXPECT_NE(problem.find("without `/v`"), std::string::npos) << problem;
      }
    }
  }
}

// --opt=VALUE is --opt VALUE, for every kind of value.
TEST_F(TavuSimCliTest, ValuesAfterAnEqualsSign) {
  const std::string gpt = ShellQuote(Path("gpt.img"));
  const std::string hidden = ShellQuote(Path("hidden.img"));
  const std::string pairs[][2] = {
      {"--disk=" + gpt + " --usb-disk=" + hidden + " locate --json",
       "--disk " + gpt + " --usb-disk " + hidden + " locate --json"},
      {"--disk=" + gpt + " --bitlocker=1,fail --manufacturer=Acme --fwmode=absent check --json",
       "--disk " + gpt + " --bitlocker 1,fail --manufacturer Acme --fwmode absent check --json"},
      {"--disk=" + gpt + " --arrival-ms=5 --language=de-DE --user-env=PATHEXT=.CMD arm --json",
       "--disk " + gpt + " --arrival-ms 5 --language de-DE --user-env PATHEXT=.CMD arm --json"},
  };
  for (const auto& pair : pairs) {
    SCOPED_TRACE(pair[0]);
    CommandResult joined = Sim(pair[0]);
    CommandResult apart = Sim(pair[1]);
    EXPECT_EQ(joined.err, "");
    EXPECT_EQ(joined.status, apart.status);
    ASSERT_FALSE(joined.out.empty());
    // The check's time is the host's clock, which may tick between the runs.
    const std::regex time("\"time\": \"[0-9T:-]+Z\"");
    EXPECT_EQ(std::regex_replace(joined.out, time, "TIME"), std::regex_replace(apart.out, time, "TIME"));
  }
}

// check and locate change nothing under the caller's root: not even the
// firmware-mode tool the machine needs beside the launcher stays behind, so
// the same root then serves a machine without it.
TEST_F(TavuSimCliTest, CheckAndLocateLeaveTheRootAsItWas) {
  namespace fs = std::filesystem;
  const std::string root = Path("c");
  fs::create_directories(root);
  const std::string gpt = " --disk " + ShellQuote(Path("gpt.img"));
  for (const char* command : {" check", " locate", " --fwmode absent check"}) {
    SCOPED_TRACE(command);
    CommandResult r = Sim("--root " + ShellQuote(root) + gpt + command);
    EXPECT_NE(r.status, 2) << r.err;
    EXPECT_TRUE(fs::is_empty(root)) << fs::directory_iterator(root)->path();
  }
}

TEST_F(TavuSimCliTest, LocateJson) {
  const std::string hidden = ShellQuote(Path("hidden.img"));
  const std::string shown = ShellQuote(Path("shown.img"));
  const std::string gpt = ShellQuote(Path("gpt.img"));
  struct Case {
    std::string machine;
    std::string json;
  };
  const Case cases[] = {
      {"", R"({"recovery_partition": {"result": 4, "disk": 0, "partition": 0}, "partition_style": null, )"
           R"("recovery_volume": {"result": 4, "disk": 0, "partition": 0, "root": ""}, "disks": []})"},
      {"--disk " + hidden,
       R"({"recovery_partition": {"result": 0, "disk": 0, "partition": 2}, "partition_style": {"result": 0}, )"
       R"("recovery_volume": {"result": 4, "disk": 0, "partition": 0, "root": ""}, "disks": [{"number": 0, )"
       R"("style": "MBR", "problems": [], "partitions": [{"number": 1, "type": "0x07", "type_name": "HPFS/NTFS/exFAT", "active": false, "attributes": )"
       R"j("0x0000000000000000", "letter": "C:", "offset": 1048576, "size": 1048576, "label": null, "file_system": null}, {"number": 2, "type": "0x1C", "type_name": "Hidden W95 FAT32 (LBA)", "active": false, )j"
       R"("attributes": "0x0000000000000000", "letter": null, "offset": 2097152, "size": 1048576, "label": "RECOVERY", "file_system": "FAT32"}]}]})"},
      {"--disk " + shown,
       R"({"recovery_partition": {"result": 4, "disk": 0, "partition": 0}, "partition_style": null, )"
       R"("recovery_volume": {"result": 0, "disk": 0, "partition": 2, "root": "D:\\"}, "disks": [{"number": 0, )"
       R"("style": "MBR", "problems": [], "partitions": [{"number": 1, "type": "0x07", "type_name": "HPFS/NTFS/exFAT", "active": false, "attributes": )"
       R"j("0x0000000000000000", "letter": "C:", "offset": 1048576, "size": 1048576, "label": null, "file_system": null}, {"number": 2, "type": "0x0C", "type_name": "W95 FAT32 (LBA)", "active": false, )j"
       R"("attributes": "0x0000000000000000", "letter": "D:", "offset": 2097152, "size": 1048576, "label": "RECOVERY", "file_system": "FAT32"}]}]})"},
      {"--absent --disk " + gpt,
       R"({"recovery_partition": {"result": 4, "disk": 0, "partition": 0}, "partition_style": null, )"
       R"("recovery_volume": {"result": 4, "disk": 0, "partition": 0, "root": ""}, "disks": [{"number": 1, )"
       R"("style": "GPT", "problems": [], "partitions": [{"number": 1, "type": "{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}", "type_name": "Microsoft basic data", )"
       R"("active": false, "attributes": "0x0000000000000000", "letter": "C:", "offset": 1048576, "size": 1048576, "label": null, "file_system": null}, {"number": 2, "type": )"
       R"("{DE94BBA4-06D1-4D40-A16A-BFD50179D6AC}", "type_name": "Windows RE", "active": false, )"
       R"("attributes": "0x0000000000000000", )"
       R"("letter": null, "offset": 2097152, "size": 2097152, "label": "Recovery", "file_system": "NTFS"}]}]})"},
      // Neither is searched, for the marker nor for the label.
      {"--removable " + hidden + " --usb-disk " + gpt,
       R"({"recovery_partition": {"result": 4, "disk": 0, "partition": 0}, "partition_style": null, )"
       R"("recovery_volume": {"result": 4, "disk": 0, "partition": 0, "root": ""}, "disks": [)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.machine);
    // Options may stand before or after the command.
    for (const std::string& args : {c.machine + " locate --json", "locate --json " + c.machine}) {
      CommandResult r = Sim(args);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out.substr(0, c.json.size()), c.json);
      EXPECT_EQ(r.out.back(), '\n');
      EXPECT_EQ(r.out.find('\n'), r.out.size() - 1);
    }
  }
}

// What a fleet's management tool starts: the summary in one line, the record
// it asks for, an error object in place of an answer, and an exit status for
// each, in ASCII. (Every line is validated against the schema with the rest.)
TEST_F(TavuSimCliTest, CheckAnswersAFleetInEveryForm) {
  const std::string gpt = " --disk " + ShellQuote(Path("gpt.img"));
  const std::string hidden = " --disk " + ShellQuote(Path("hidden.img"));
  const CommandResult summary = Sim(gpt + " check --summary");
  ASSERT_EQ(summary.err, "");
  EXPECT_EQ(summary.out.find('\n'), summary.out.size() - 1) << summary.out;
  EXPECT_LE(summary.out.size() - 1, 512u);
  // The host's clock may pass a second between the two runs.
  const auto withoutTime = [](std::string line) {
    return line.substr(0, line.find(", \"time\": "));
  };
  EXPECT_EQ(withoutTime(Sim(gpt + " check --summary --record").out), withoutTime(summary.out))
      << "--record adds nothing to the summary";

  const CommandResult refusedMachine =
      Sim(hidden + " --bitlocker 1 --manufacturer \"Acme \xC3\x89lectronique\" check --json --record");
  EXPECT_EQ(refusedMachine.status, 1) << refusedMachine.err;
  for (char c : refusedMachine.out) ASSERT_EQ(static_cast<unsigned char>(c) & 0x80, 0) << refusedMachine.out;
  EXPECT_NE(refusedMachine.out.find("\"text\": \"Acme \\u00c9lectronique\""), std::string::npos)
      << refusedMachine.out;
  EXPECT_NE(refusedMachine.out.find("\"reason_code\": \"manufacturer-refused\""), std::string::npos);
  EXPECT_NE(refusedMachine.out.find(
                "\"record\": {\"registry\": {\"key\": \"HKLM\\\\SOFTWARE\\\\TAVU\\\\RecoveryCheck\", "
                "\"values\": {\"SchemaVersion\": 1, \"Verdict\": \"abort\", \"ReasonCode\": "
                "\"manufacturer-refused\", \"Win32Error\": 0, \"LastRunUtc\": \""),
            std::string::npos)
      << refusedMachine.out;
  EXPECT_NE(refusedMachine.out.find(
                "\"event\": {\"source\": \"TAVU Recovery Check\", \"id\": 2003, \"type\": \"error\", "
                "\"text\": \"{\\\"schema_version\\\": 1, \\\"verdict\\\": \\\"abort\\\""),
            std::string::npos)
      << refusedMachine.out;
  const CommandResult report = Sim(hidden + " check --record");
  EXPECT_NE(report.out.find(
                "\nRecord (what TavuRecoveryCheck /record writes)\n  HKLM\\SOFTWARE\\TAVU\\RecoveryCheck\n"
                "    SchemaVersion  REG_DWORD  1\n"),
            std::string::npos)
      << report.out;
  EXPECT_EQ(Sim(hidden + " check").out.find("Record"), std::string::npos) << "a record shown unasked";

  struct Refused {
    std::string args;
    std::string error;
  };
  const Refused refused[] = {
      {"check --json", "check needs a disk: give --disk IMAGE"},
      {gpt + " check --summary --bogus", "unknown option --bogus"},
      {"--disk " + ShellQuote(Path("missing.img")) + " check --summary",
       "cannot read image '" + Path("missing.img") + "': No such file or directory"},
  };
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.args);
    const CommandResult run = Sim(r.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "{\"schema_version\": 1, \"verdict\": \"error\", \"error\": \"" + r.error + "\"}\n");
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "tavu-sim: " + r.error);
  }
  const CommandResult notCheck = Sim(gpt + " locate --summary");
  EXPECT_EQ(notCheck.status, 2);
  EXPECT_EQ(notCheck.err.substr(0, notCheck.err.find('\n')),
            "tavu-sim: --summary and --record belong to check");
  EXPECT_EQ(notCheck.out, "");
  // An answer that cannot be delivered is no answer.
  EXPECT_EQ(Sim(gpt + " check --summary >/dev/full").status, 3);
}

// The Intune detection script of docs/fleet.md, as far as it can run here: its
// exit-status mapping, read from the script itself, applied to the statuses
// the check gives in stand-in states. Intune runs the remediation only on 1,
// so every status but "ready" must come out as 1.
TEST_F(TavuSimCliTest, FleetDetectionScriptMapsEveryStatusButReadyToOne) {
  const std::string doc = ReadHostFile(TAVU_SOURCE_DIR "/docs/fleet.md");
  const std::size_t named = doc.find("# Detect-TavuRecovery.ps1");
  ASSERT_NE(named, std::string::npos);
  const std::string script = doc.substr(named, doc.find("```", named) - named);
  EXPECT_NE(script.find("$env:ProgramW6432"), std::string::npos)
      << "Intune's 32-bit PowerShell would miss the check";
  EXPECT_NE(script.find("/summary"), std::string::npos);
  EXPECT_NE(script.find("Write-Output $summary"), std::string::npos) << "the summary line is not relayed";
  const std::size_t cases = script.find("switch ($status) {");
  ASSERT_NE(cases, std::string::npos);
  std::map<std::string, int> mapping;  // "0", "1", ..., "default" -> exit
  const std::regex arm(R"(\n\s*(\w+) \{ exit (\d+) \})");
  const std::string body = script.substr(cases, script.find("\n}", cases) - cases);
  for (std::sregex_iterator it(body.begin(), body.end(), arm), end; it != end; ++it)
    mapping[(*it)[1]] = std::stoi((*it)[2]);
  ASSERT_EQ(mapping.count("default"), 1u) << "a status the table does not name must not pass as no issue";
  const auto intune = [&](int status) {
    const auto at = mapping.find(std::to_string(status));
    return at != mapping.end() ? at->second : mapping["default"];
  };

  ASSERT_EQ(Sim("demo --images " + ShellQuote(Path("demo"))).status, 0);
  const std::string ready = " --disk " + ShellQuote(Path("demo/notebook-gpt.img"));
  struct State {
    std::string args;
    int status;
  };
  const State states[] = {
      {ready + " check --summary", 0},
      {ready + " --bitlocker 1 check --summary", 1},
      {ready + " --manufacturer Acme check --summary", 1},
      {ready + " check --summary --nonsense", 2},
      {ready + " check --summary >/dev/full", 3},
  };
  for (const State& s : states) {
    SCOPED_TRACE(s.args);
    const CommandResult r = Sim(s.args);
    ASSERT_EQ(r.status, s.status) << r.err;
    EXPECT_EQ(intune(r.status), r.status == 0 ? 0 : 1);
  }
  EXPECT_EQ(intune(-1073741819), 1) << "a crashed check must count as an issue";
}

TEST_F(TavuSimCliTest, LocateReportAndImagesLeftAlone) {
  const std::string before = ReadHostFile(Path("hidden.img"));
  CommandResult r = Sim("--disk " + ShellQuote(Path("gpt.img")) + " --disk " +
                        ShellQuote(Path("hidden.img")) + " locate --write");
  EXPECT_EQ(r.status, 0) << r.err;
  const char* lines[] = {
      "Disk 0: GPT, fixed, 8 MiB, ",
      "FindRecoveryPartition: 0 (found): disk 0, partition 2\n",
      "QueryPartitionStyle:   1 (GPT): the worker takes the boot-manager route\n",
      "FindRecoveryVolume:    0 (found): disk 0, partition 2, no drive root shows it\n",
  };
  for (const char* line : lines) EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  EXPECT_EQ(ReadHostFile(Path("hidden.img")), before);
}

// A user planted links at both programs' log names before the runs: a
// symbolic link out of C: at the patcher's, a hard link to a file of the
// system at the launcher's. The files they lead to keep every byte; each log
// is a plain file of one name holding the mark and that run's lines.
TEST_F(TavuSimCliTest, PlantedLinksAtTheLogNamesAreNeverWrittenThrough) {
  namespace fs = std::filesystem;
  const std::string root = Path("c");
  const std::string temp = root + "/Windows/Temp";
  fs::create_directories(temp);
  fs::create_directories(root + "/Windows/System32");
  const std::string precious = "\xFF\xFE" + Utf16("[2014/03/01 08:00:00]\tprecious\r\n");
  const std::string away = Path("victim.log");
  const std::string system = root + "/Windows/System32/drivers.dat";
  WriteHostFile(away, precious);
  WriteHostFile(system, precious);
  const std::string patcherLog = temp + "/TvPatchDowngrade.log";
  const std::string launcherLog = temp + "/TAVU F9 Recovery.log";
  fs::create_symlink(away, patcherLog);
  fs::create_hard_link(system, launcherLog);

  CommandResult patch =
      Sim("--root " + ShellQuote(root) + " --disk " + ShellQuote(Path("gpt.img")) + " patch --json");
  ASSERT_EQ(patch.status, 0) << patch.err;
  CommandResult arm =
      Sim("--root " + ShellQuote(root) + " --disk " + ShellQuote(Path("gpt.img")) + " arm --json");
  ASSERT_EQ(arm.status, 0) << arm.err;

  EXPECT_EQ(ReadHostFile(away), precious);
  EXPECT_EQ(ReadHostFile(system), precious);
  struct {
    const std::string& path;
    std::string firstLine;
  } logs[] = {
      {patcherLog, "[FixDowngarde]\tDisk: 0\r\n"},
      {launcherLog, "[AddTask]\tTask Name: TAVU F9 Recovery\r\n"},
  };
  for (const auto& log : logs) {
    SCOPED_TRACE(log.path);
    EXPECT_FALSE(fs::is_symlink(log.path));
    EXPECT_EQ(fs::hard_link_count(log.path), 1u);
    const std::string bytes = ReadHostFile(log.path);
    const std::string first = Utf16(log.firstLine);
    ASSERT_GT(bytes.size(), 2 + 44 + first.size());
    // The mark, then the first line after its 22-character time stamp.
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(bytes.substr(2 + 44, first.size()), first);
    EXPECT_EQ(bytes.find(Utf16("precious")), std::string::npos);
  }
}

}  // namespace
}  // namespace tavu::test
