// The recovery image the armed entry starts: where the listing says it lies,
// and whether it is there and a WIM.
#include "launcher/arming/recovery_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "check/wim_version.h"
#include "common/wide_text.h"
#include "sim/core/faults.h"
#include "tests/fixtures/listing_text.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/sim_test.h"
#include "tests/fixtures/temp_dir.h"

namespace tavu::test {
namespace {

const wchar_t kLoader[] = L"{6F0C2A13-8D1A-11E9-A5C2-C8F750A1B2C3}";

// A loader entry and its options entry as bcdedit lists them.
std::wstring Listing(const std::wstring& deviceLine, const std::wstring& sdiDevice) {
  return L"\r\nWindows Boot Loader\r\n-------------------\r\n"
         L"identifier              {6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}\r\n" +
         deviceLine +
         L"\r\n"
         L"path                    \\windows\\system32\\winload.efi\r\n"
         L"\r\nDevice options\r\n--------------\r\n"
         L"identifier              {6f0c2a14-8d1a-11e9-a5c2-c8f750a1b2c3}\r\n"
         L"ramdisksdidevice        " +
         sdiDevice +
         L"\r\n"
         L"ramdisksdipath          \\Recovery\\WindowsRE\\boot.sdi\r\n";
}

std::wstring RamdiskLine(const std::wstring& device) {
  return L"device                  ramdisk=[" + device +
         L"]\\Recovery\\WindowsRE\\Winre.wim,{6f0c2a14-8d1a-11e9-a5c2-c8f750a1b2c3}";
}

TEST(RecoveryImage, WhereTheListingSaysTheFilesLie) {
  const std::wstring longFolder(240, L'x');
  struct {
    const char* what;
    std::wstring listing;
    bool resolved;
    std::wstring device;
    std::wstring image;
    std::wstring sdi;
  } cases[] = {
      {"volume device",
       Listing(RamdiskLine(L"\\Device\\HarddiskVolume4"), L"partition=\\Device\\HarddiskVolume4"), true,
       L"\\Device\\HarddiskVolume4",
       L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume4\\Recovery\\WindowsRE\\Winre.wim",
       L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume4\\Recovery\\WindowsRE\\boot.sdi"},
      {"drive letter, element names in capitals",
       Listing(L"DEVICE RAMDISK=[C:]\\Recovery\\WindowsRE\\Winre.wim,"
               L"{6f0c2a14-8d1a-11e9-a5c2-c8f750a1b2c3}",
               L"partition=C:"),
       true, L"C:", L"C:\\Recovery\\WindowsRE\\Winre.wim", L"C:\\Recovery\\WindowsRE\\boot.sdi"},
      {"device Windows no longer finds", Listing(RamdiskLine(L"unknown"), L"unknown"), true, L"unknown", L"",
       L""},
      {"volume device without its number", Listing(RamdiskLine(L"\\Device\\HarddiskVolume"), L"partition=C:"),
       true, L"\\Device\\HarddiskVolume", L"", L"C:\\Recovery\\WindowsRE\\boot.sdi"},
      {"volume device with more after the number",
       Listing(RamdiskLine(L"\\Device\\HarddiskVolume4\\x"), L"boot"), true, L"\\Device\\HarddiskVolume4\\x",
       L"", L""},
      {"a path that does not fit",
       Listing(L"device ramdisk=[C:]\\" + longFolder + L"\\Recovery\\WindowsRE\\Winre.wim,{x}",
               L"partition=C:"),
       true, L"C:", L"", L""},
      {"options entry not listed",
       L"identifier {6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}\r\n" + RamdiskLine(L"C:") + L"\r\n", true, L"C:",
       L"C:\\Recovery\\WindowsRE\\Winre.wim", L""},
      {"image line without the ramdisk form",
       Listing(L"device [C:]\\Recovery\\WindowsRE\\Winre.wim,{6f0c2a14-8d1a-11e9-a5c2-c8f750a1b2c3}",
               L"partition=C:"),
       false, L"", L"", L""},
      {"entry not in the listing", Listing(L"device partition=C:", L"partition=C:"), false, L"", L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecoveryImageFacts facts;
    EXPECT_EQ(ResolveRecoveryImage(SplitText(c.listing), kLoader, &facts), c.resolved);
    EXPECT_EQ(std::wstring(facts.device), c.device);
    EXPECT_EQ(std::wstring(facts.imagePath), c.image);
    EXPECT_EQ(std::wstring(facts.sdiPath), c.sdi);
    EXPECT_EQ(facts.image, FileState::Unknown);
  }
}

TEST(RecoveryImage, EachLoaderItsOwnDevice) {
  const std::wstring listing = L"identifier {aaaaaaaa-1111-4111-8111-111111111111}\r\n" +
                               RamdiskLine(L"\\Device\\HarddiskVolume3") +
                               L"\r\n\r\nidentifier {6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}\r\n" +
                               RamdiskLine(L"\\Device\\HarddiskVolume5") + L"\r\n";
  RecoveryImageFacts facts;
  ASSERT_TRUE(ResolveRecoveryImage(SplitText(listing), kLoader, &facts));
  EXPECT_EQ(std::wstring(facts.device), L"\\Device\\HarddiskVolume5");
  EXPECT_EQ(std::wstring(facts.optionsId), L"{6f0c2a14-8d1a-11e9-a5c2-c8f750a1b2c3}");
}

std::string Wim(std::size_t size) {
  std::string h(size, '\0');
  h.replace(0, 8, std::string("MSWIM\0\0\0", 8));
  h[8] = static_cast<char>(208);
  h[12] = 0x00;
  h[13] = 0x0D;
  h[14] = 0x01;  // version 0x10D00
  h[44] = 3;     // image count
  h[120] = 2;    // boot index
  return h;
}

TEST(RecoveryImage, WimHeader) {
  struct {
    const char* what;
    std::string bytes;
    bool wim;
  } cases[] = {
      {"208 bytes", Wim(208), true},
      {"one byte short", Wim(207), false},
      {"other signature", "MSWIN" + Wim(208).substr(5), false},
      {"header size 209", Wim(208).replace(8, 1, 1, '\xD1'), false},
      {"header size with a high byte", Wim(208).replace(9, 1, 1, '\x01'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WimHeader header;
    EXPECT_EQ(ParseWimHeader(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size(), &header),
              c.wim);
    if (c.wim) {
      EXPECT_EQ(header.headerSize, 208u);
      EXPECT_EQ(header.version, 0x10D00u);
      EXPECT_EQ(header.imageCount, 3u);
      EXPECT_EQ(header.bootIndex, 2u);
    }
  }
}

// A resource header at `at`: stored size (7 bytes), flags, offset.
std::string WithResource(std::string wim, std::size_t at, std::uint64_t size, std::uint64_t offset) {
  for (int i = 0; i < 7; ++i) wim[at + i] = static_cast<char>(size >> (8 * i));
  for (int i = 0; i < 8; ++i) wim[at + 8 + i] = static_cast<char>(offset >> (8 * i));
  return wim;
}

TEST(RecoveryImage, WimPartsBeyondTheFilesEnd) {
  struct {
    const char* what;
    std::string bytes;
    std::uint64_t fileSize;
    WimCut cut;
  } cases[] = {
      {"nothing placed", Wim(208), 208, WimCut::None},
      {"lookup table ends at the end", WithResource(Wim(208), 48, 100, 900), 1000, WimCut::None},
      {"lookup table one byte beyond", WithResource(Wim(208), 48, 101, 900), 1000, WimCut::LookupTable},
      {"XML data starts beyond", WithResource(Wim(208), 72, 1, 1000), 1000, WimCut::XmlData},
      {"boot metadata beyond", WithResource(Wim(208), 96, 4096, 208), 1000, WimCut::BootMetadata},
      {"offset that wraps around", WithResource(Wim(208), 72, 16, ~std::uint64_t{0} - 8), 1000,
       WimCut::XmlData},
      {"flags byte is no part of the size", WithResource(Wim(208), 48, 10, 0).replace(55, 1, 1, '\x80'), 1000,
       WimCut::None},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WimHeader header;
    ASSERT_TRUE(
        ParseWimHeader(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size(), &header));
    EXPECT_EQ(WimPartBeyondEnd(header, c.fileSize), c.cut);
  }
}

// ASCII text as UTF-16LE with a byte-order mark, as a WIM stores its XML data.
std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

TEST(RecoveryImage, VersionFromTheXmlDataOfTheImageThatBoots) {
  const std::string two =
      "<WIM><TOTALBYTES>1</TOTALBYTES><IMAGE INDEX=\"1\"><WINDOWS><VERSION><MAJOR>6</MAJOR><MINOR>1</MINOR>"
      "<BUILD>7601</BUILD><SPBUILD>17514</SPBUILD></VERSION></WINDOWS></IMAGE>"
      "<IMAGE INDEX=\"2\"><NAME>x</NAME><WINDOWS><ARCH>9</ARCH><VERSION><MAJOR>10</MAJOR><MINOR>0</MINOR>"
      "<BUILD>22621</BUILD><SPBUILD>2506</SPBUILD><SPLEVEL>0</SPLEVEL></VERSION></WINDOWS></IMAGE></WIM>";
  struct {
    const char* what;
    std::string xml;
    std::uint32_t bootIndex;
    const char* version;  // "" for none
  } cases[] = {
      {"boot index 2", two, 2, "10.0.22621.2506"},
      {"boot index 1", two, 1, "6.1.7601.17514"},
      {"no boot index: the first image", two, 0, "6.1.7601.17514"},
      {"boot index of no image", two, 3, ""},
      {"only a build",
       "<WIM><IMAGE INDEX=\"1\"><WINDOWS><VERSION><BUILD>19041</BUILD></VERSION></WINDOWS></IMAGE></WIM>", 1,
       "?.?.19041.?"},
      {"no WINDOWS element", "<WIM><IMAGE INDEX=\"1\"><NAME>Recovery</NAME></IMAGE></WIM>", 1, ""},
      {"a longer name is another element",
       "<WIM><IMAGE INDEX=\"1\"><WINDOWS><VERSIONS><MAJOR>1</MAJOR></VERSIONS></WINDOWS></IMAGE></WIM>", 1,
       ""},
      {"no number",
       "<WIM><IMAGE INDEX=\"1\"><WINDOWS><VERSION><MAJOR>ten</MAJOR></VERSION></WINDOWS></IMAGE></WIM>", 1,
       "?.?.?.?"},
      {"cut inside the version", two.substr(0, two.size() - 60), 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = Utf16(c.xml);
    const check::WimVersion v = check::ParseWimXmlVersion(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                          bytes.size(), c.bootIndex);
    std::string text;
    for (int k = 0; v.found && k < check::WimVersion::kFields; ++k) {
      if (k > 0) text += ".";
      text += v.has[k] ? std::to_string(v.value[k]) : "?";
    }
    EXPECT_EQ(text, c.version);
  }
}

class RecoveryImageFiles : public SimTest {};

// What wimlib-imagex makes, as the launcher's test and the check read it: a
// version set in the XML data, and the same file cut short.
TEST_F(RecoveryImageFiles, WimsMadeByWimlib) {
  if (!HaveTool("wimlib-imagex")) GTEST_SKIP() << "wimlib-imagex is not installed";
  const std::string folder = root() + "/Recovery/WindowsRE";
  std::filesystem::create_directories(root() + "/src/Windows/System32");
  WriteHostFile(root() + "/src/Windows/System32/winload.efi", "winload");
  const std::string wim = folder + "/Winre.wim";
  std::filesystem::create_directories(folder);
  const CommandResult made = RunCommand(
      "wimlib-imagex capture " + ShellQuote(root() + "/src") + " " + ShellQuote(wim) +
      " 'Microsoft Windows Recovery Environment' --boot >/dev/null && wimlib-imagex info " + ShellQuote(wim) +
      " 1 --image-property WINDOWS/VERSION/MAJOR=10 --image-property WINDOWS/VERSION/MINOR=0"
      " --image-property WINDOWS/VERSION/BUILD=22621 --image-property WINDOWS/VERSION/SPBUILD=3668 "
      ">/dev/null");
  ASSERT_EQ(made.status, 0) << made.err;
  WriteHostFile(folder + "/boot.sdi", "$SDI0001" + std::string(504, '\0'));
  const std::uint64_t whole = std::filesystem::file_size(wim);
  struct {
    const char* what;
    std::uint64_t size;
    FileState state;
  } cases[] = {{"whole", whole, FileState::Present}, {"cut short", whole - 64, FileState::NotAWim}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::resize_file(wim, c.size);
    RecoveryImageFacts facts;
    ASSERT_TRUE(
        ResolveRecoveryImage(SplitText(Listing(RamdiskLine(L"C:"), L"partition=C:")), kLoader, &facts));
    TestRecoveryImage(&facts);
    EXPECT_EQ(facts.image, c.state);
    EXPECT_EQ(RecoveryImageRefused(facts), c.state != FileState::Present);
    if (c.state != FileState::Present) {
      EXPECT_NE(facts.cut, WimCut::None);
      continue;
    }
    const check::WimVersion v = check::ReadWimVersion(facts.imagePath, facts.header);
    ASSERT_TRUE(v.found);
    EXPECT_EQ(v.value[check::WimVersion::kBuild], 22621u);
    EXPECT_EQ(v.value[check::WimVersion::kSpBuild], 3668u);
    EXPECT_EQ(v.value[check::WimVersion::kMajor], 10u);
    EXPECT_TRUE(v.has[check::WimVersion::kMinor]);
  }
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

TEST_F(RecoveryImageFiles, WhatTheLauncherRefusesAndWhatItCannotTell) {
  struct {
    const char* what;
    std::string wim;  // empty: no file
    bool sdi;
    bool folder;
    bool openFails;
    FileState image;
    std::uint32_t imageError;
    FileState sdiState;
    bool refused;
  } cases[] = {
      {"both there", Wim(4096), true, true, false, FileState::Present, 0, FileState::Present, false},
      {"image gone", "", true, true, false, FileState::Missing, 2, FileState::Present, true},
      {"folder gone", "", false, false, false, FileState::Missing, 3, FileState::Missing, true},
      {"boot.sdi gone", Wim(4096), false, true, false, FileState::Present, 0, FileState::Missing, true},
      {"no WIM", std::string(4096, 'x'), true, true, false, FileState::NotAWim, 0, FileState::Present, true},
      {"shorter than a WIM header", Wim(208).substr(0, 100), true, true, false, FileState::NotAWim, 0,
       FileState::Present, true},
      {"access refused", Wim(4096), true, true, true, FileState::Unknown, 5, FileState::Unknown, false},
      {"boot.sdi without its signature", Wim(4096), true, true, false, FileState::Present, 0,
       FileState::Missing, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(root() + "/Recovery");
    if (c.folder) std::filesystem::create_directories(root() + "/Recovery/WindowsRE");
    if (!c.wim.empty()) WriteHostFile(Host(L"C:\\Recovery\\WindowsRE\\Winre.wim"), c.wim);
    // Only the one case lacks the System Deployment Image signature.
    const bool signature = std::string(c.what) != "boot.sdi without its signature";
    if (c.sdi) WriteHostFile(Host(L"C:\\Recovery\\WindowsRE\\boot.sdi"), signature ? "$SDI0001" : "SDI");
    RecoveryImageFacts facts;
    ASSERT_TRUE(
        ResolveRecoveryImage(SplitText(Listing(RamdiskLine(L"C:"), L"partition=C:")), kLoader, &facts));
    if (c.openFails) machine().faults().FailAll(sim::SimOp::FileOpen);
    TestRecoveryImage(&facts);
    machine().faults().Reset();
    EXPECT_EQ(facts.image, c.image);
    EXPECT_EQ(facts.imageError, c.imageError);
    EXPECT_EQ(facts.sdi, c.sdiState);
    EXPECT_EQ(RecoveryImageRefused(facts), c.refused);
    if (c.image == FileState::Present) {
      EXPECT_EQ(facts.imageSize, 4096u);
      EXPECT_EQ(facts.header.imageCount, 3u);
    }
    EXPECT_EQ(machine().handles().OpenCount(), 0u);
  }
}

}  // namespace
}  // namespace tavu::test
