// The simulated machine's files on volumes other than C:, their device names,
// and Windows RE as the machine configures it (listing, ReAgent.xml, where
// Winre.wim lies).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "common/unique_handle.h"
#include "common/win_errors.h"
#include "sim/core/last_error.h"
#include "sim/core/machine.h"
#include "sim/programs/windows_re.h"
#include "tests/fixtures/notebooks.h"
#include "tests/fixtures/sim_test.h"
#include "tests/fixtures/temp_dir.h"

namespace tavu::test {
namespace {

constexpr wchar_t kReDevice[] = L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume3";

std::uint32_t Le32(const std::string& b, std::size_t at) {
  return static_cast<std::uint32_t>(
      static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8 |
      static_cast<unsigned char>(b[at + 2]) << 16 | static_cast<unsigned char>(b[at + 3]) << 24);
}

// Opens a file for reading and reads up to `size` bytes from `offset`; the
// last error when the open fails.
std::uint32_t ReadStart(const std::wstring& path, std::string* bytes, std::uint64_t offset = 0,
                        std::uint32_t size = 208) {
  FileApi& files = *Sys().files;
  Handle h = files.OpenFile(path.c_str(), FileAccess::Read, FileCreate::OpenExisting);
  if (h == kInvalidHandle) return sim::GetLastErrorValue();
  bytes->assign(size, '\0');
  std::uint32_t read = 0;
  const bool ok = files.Seek(h, offset) && files.Read(h, bytes->data(), size, &read);
  bytes->resize(read);
  files.Close(h);
  return ok ? kErrorSuccess : sim::GetLastErrorValue();
}

using VolumeFilesTest = SimTest;

TEST_F(VolumeFilesTest, RecoveryPartitionFilesAreReadOnlyThroughEveryVolumePath) {
  machine().AddDiskBytes(GptNotebook());
  const sim::SimVolumes::Info re = machine().volumes().VolumeOf(0, 14336ll * 512);
  ASSERT_FALSE(re.name.empty());
  ASSERT_TRUE(machine().volumes().SetMountPoint(L"R:\\", re.name.c_str()));
  const std::wstring wim = std::wstring(kReDevice) + L"\\Recovery\\WindowsRE\\Winre.wim";
  struct Case {
    std::wstring path;
    FileAccess access;
    FileCreate create;
    std::uint32_t error;
    const char* start;  // the first bytes read, when it opens
  } const cases[] = {
      {wim, FileAccess::Read, FileCreate::OpenExisting, kErrorSuccess, "MSWIM\0\0\0"},
      {L"\\\\.\\globalroot\\device\\harddiskvolume3\\RECOVERY\\windowsre\\WINRE.WIM", FileAccess::Read,
       FileCreate::OpenExisting, kErrorSuccess, "MSWIM\0\0\0"},
      {re.name + L"Recovery\\WindowsRE\\boot.sdi", FileAccess::Read, FileCreate::OpenExisting, kErrorSuccess,
       "$SDI0001"},
      {L"r:\\Recovery\\WindowsRE\\Winre.wim", FileAccess::Read, FileCreate::OpenExisting, kErrorSuccess,
       "MSWIM\0\0\0"},
      {std::wstring(kReDevice) + L"\\Recovery\\WindowsRE\\Winre2.wim", FileAccess::Read,
       FileCreate::OpenExisting, kErrorFileNotFound, nullptr},
      {std::wstring(kReDevice) + L"\\Recovery\\Gone\\Winre.wim", FileAccess::Read, FileCreate::OpenExisting,
       kErrorPathNotFound, nullptr},
      {std::wstring(kReDevice) + L"\\Recovery\\WindowsRE\\Winre.wim\\x", FileAccess::Read,
       FileCreate::OpenExisting, kErrorPathNotFound, nullptr},
      {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume9\\Recovery\\WindowsRE\\Winre.wim", FileAccess::Read,
       FileCreate::OpenExisting, kErrorPathNotFound, nullptr},
      {std::wstring(kReDevice) + L"\\Recovery\\WindowsRE", FileAccess::Read, FileCreate::OpenExisting,
       kErrorAccessDenied, nullptr},
      {wim, FileAccess::Write, FileCreate::OpenExisting, kErrorWriteProtect, nullptr},
      {wim, FileAccess::ReadWrite, FileCreate::OpenAlways, kErrorWriteProtect, nullptr},
      {std::wstring(kReDevice) + L"\\Recovery\\new.txt", FileAccess::Write, FileCreate::CreateNew,
       kErrorWriteProtect, nullptr},
  };
  FileApi& files = *Sys().files;
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::Narrow(c.path));
    Handle h = files.OpenFile(c.path.c_str(), c.access, c.create);
    EXPECT_EQ(h == kInvalidHandle ? sim::GetLastErrorValue() : kErrorSuccess, c.error);
    if (h == kInvalidHandle) continue;
    char bytes[8] = {};
    std::uint32_t read = 0;
    EXPECT_TRUE(files.Read(h, bytes, sizeof(bytes), &read));
    EXPECT_EQ(read, 8u);
    if (c.start != nullptr) {
      EXPECT_EQ(std::memcmp(bytes, c.start, 8), 0);
    }
    EXPECT_FALSE(files.Write(h, bytes, 1, &read));
    files.Close(h);
  }
  // The header of a real WIM: 208 bytes, one image, which is also the one that boots.
  std::string header;
  ASSERT_EQ(ReadStart(wim, &header), kErrorSuccess);
  ASSERT_EQ(header.size(), 208u);
  EXPECT_EQ(Le32(header, 8), 208u);
  EXPECT_EQ(Le32(header, 44), 1u);
  EXPECT_EQ(Le32(header, 120), 1u);
  EXPECT_TRUE(files.Exists(wim.c_str()));
  EXPECT_FALSE(files.Remove(wim.c_str()));
  EXPECT_EQ(sim::GetLastErrorValue(), kErrorWriteProtect);
  EXPECT_FALSE(files.MakeDirectories((std::wstring(kReDevice) + L"\\Tools").c_str()));
  EXPECT_EQ(sim::GetLastErrorValue(), kErrorWriteProtect);
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

TEST_F(VolumeFilesTest, DeviceNumbersFollowPresentationAndArrival) {
  // GPT: EFI 1, Windows 2, recovery 3 (the reserved partition is no volume);
  // MBR: Windows 4, data 5, its hidden recovery partition none until diskpart
  // shows it, and then the next number.
  machine().AddDiskBytes(GptNotebook());
  machine().AddDiskBytes(MbrNotebook());
  ASSERT_TRUE(machine().windowsTools().diskpart().SetMbrType(1, 3, 0x0C));
  machine().Settle();
  struct {
    int disk;
    std::int64_t offset;
    const wchar_t* device;
  } const cases[] = {
      {0, 2048ll * 512, L"\\Device\\HarddiskVolume1"},  {0, 6144ll * 512, L"\\Device\\HarddiskVolume2"},
      {0, 14336ll * 512, L"\\Device\\HarddiskVolume3"}, {1, 2048ll * 512, L"\\Device\\HarddiskVolume4"},
      {1, 10240ll * 512, L"\\Device\\HarddiskVolume5"}, {1, 14336ll * 512, L"\\Device\\HarddiskVolume6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    const std::wstring name = machine().volumes().VolumeOf(c.disk, c.offset).name;
    ASSERT_EQ(name.size(), 49u);
    // QueryDosDeviceW takes the name without "\\?\" and the trailing backslash.
    const std::wstring dosName = name.substr(4, 44);
    wchar_t buffer[64];
    const std::uint32_t stored = machine().volumes().DeviceName(dosName.c_str(), buffer, 64);
    EXPECT_EQ(stored, std::wcslen(c.device) + 2);
    EXPECT_EQ(std::wstring(buffer), c.device);
    EXPECT_EQ(machine().volumes().DeviceName(dosName.c_str(), buffer, 10), 0u);
    EXPECT_EQ(sim::GetLastErrorValue(), kErrorInsufficientBuffer);
  }
  wchar_t buffer[64];
  EXPECT_EQ(machine().volumes().DeviceName(L"Volume{00000000-0000-0000-0000-000000000000}", buffer, 64), 0u);
  EXPECT_EQ(sim::GetLastErrorValue(), kErrorFileNotFound);
}

// The default notebook's disk GUID is 44332211-6655-8877-99AA-BBCCDDEEF001,
// from which the listing's identifiers are made.
TEST(WindowsReStateTest, ListingReAgentAndImageFollowTheState) {
  const std::string live = "{44332214-8d1d-11e9-a5c2-c8f750a1b2c3}";
  const std::string liveDevice =
      "ramdisk=[\\Device\\HarddiskVolume3]\\Recovery\\WindowsRE\\Winre.wim,{44332215-8d1e-11e9-a5c2-"
      "c8f750a1b2c3}";
  const std::string orphanDevice =
      "ramdisk=[unknown]\\Recovery\\WindowsRE\\Winre.wim,{44332217-8d20-11e9-a5c2-c8f750a1b2c3}";
  const std::string zero = "{00000000-0000-0000-0000-000000000000}";
  const std::string location =
      "<WinreLocation path=\"\\Recovery\\WindowsRE\" id=\"0\" offset=\"7340032\" "
      "guid=\"{44332211-6655-8877-99aa-bbccddeef001}\"/>";
  struct Case {
    const char* state;
    std::vector<std::string> listed;  // in this order
    std::vector<std::string> notListed;
    std::vector<std::string> reagent;
    std::uint32_t image;  // opening Winre.wim on the partition
    std::uint32_t sdi;
    bool movedToSystem32;
  } const cases[] = {
      {"enabled",
       {"recoverysequence        " + live, "recoveryenabled         Yes",
        "device                  " + liveDevice, "Windows Recovery Environment",
        "ramdisksdidevice        partition=\\Device\\HarddiskVolume3",
        "ramdisksdipath          \\Recovery\\WindowsRE\\boot.sdi"},
       {"[unknown]"},
       {"<WinreBCD id=\"" + live + "\"/>", location, "<InstallState state=\"1\"/>"},
       kErrorSuccess,
       kErrorSuccess,
       false},
      {"disabled",
       {"recoveryenabled         No"},
       {"recoverysequence", "Windows Recovery Environment", "ramdisksdidevice",
        "recoveryenabled         Yes"},
       {"<WinreBCD id=\"" + zero + "\"/>",
        "<WinreLocation path=\"\" id=\"0\" offset=\"0\" guid=\"" + zero + "\"/>",
        "<InstallState state=\"0\"/>"},
       kErrorPathNotFound,
       kErrorPathNotFound,
       true},
      {"image-missing",
       {"recoverysequence        " + live, "device                  " + liveDevice},
       {"[unknown]"},
       {"<WinreBCD id=\"" + live + "\"/>", location, "<InstallState state=\"1\"/>"},
       kErrorFileNotFound,
       kErrorSuccess,
       false},
      {"orphan",
       {"recoverysequence        " + live, "{44332216-8d1f-11e9-a5c2-c8f750a1b2c3}",
        "device                  " + orphanDevice, live, "device                  " + liveDevice},
       {},
       {"<WinreBCD id=\"" + live + "\"/>", location, "<InstallState state=\"1\"/>"},
       kErrorSuccess,
       kErrorSuccess,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    TempDir dir;
    sim::SimMachine m(dir.path());
    m.Install();
    m.AddDiskBytes(GptNotebook());
    sim::WinReState state;
    ASSERT_TRUE(sim::ParseWinReState(c.state, &state));
    std::string error;
    ASSERT_TRUE(sim::ApplyWindowsRe(m, state, nullptr, &error)) << error;
    const std::string listing = sim::Narrow(m.windowsTools().store().Listing());
    std::size_t at = 0;
    for (const std::string& line : c.listed) {
      at = listing.find(line, at);
      EXPECT_NE(at, std::string::npos) << line;
      if (at == std::string::npos) at = 0;
    }
    for (const std::string& line : c.notListed) EXPECT_EQ(listing.find(line), std::string::npos) << line;
    const std::string xml = ReadHostFile(m.HostPath(L"C:\\Windows\\System32\\Recovery\\ReAgent.xml"));
    EXPECT_EQ(xml.substr(0, 3), "\xEF\xBB\xBF");
    for (const std::string& element : c.reagent) EXPECT_NE(xml.find(element), std::string::npos) << element;
    std::string bytes;
    EXPECT_EQ(ReadStart(std::wstring(kReDevice) + L"\\Recovery\\WindowsRE\\Winre.wim", &bytes, 0, 8),
              c.image);
    EXPECT_EQ(ReadStart(std::wstring(kReDevice) + L"\\Recovery\\WindowsRE\\boot.sdi", &bytes, 0, 8), c.sdi);
    // A 32-bit program reaches System32\Recovery only through Sysnative.
    EXPECT_EQ(ReadStart(L"C:\\Windows\\Sysnative\\Recovery\\Winre.wim", &bytes, 0, 8) == kErrorSuccess &&
                  bytes == std::string("MSWIM\0\0\0", 8),
              c.movedToSystem32);
    SetPlatform(Platform{});
  }
}

TEST(WindowsReStateTest, MbrNotebookHasNoReAgentUnlessOneIsGiven) {
  for (const bool given : {false, true}) {
    SCOPED_TRACE(given);
    TempDir dir;
    sim::SimMachine m(dir.path());
    m.AddDiskBytes(MbrNotebook());
    const std::string text = "\xEF\xBB\xBF<WindowsRE/>";
    std::string error;
    ASSERT_TRUE(sim::ApplyWindowsRe(m, sim::WinReState::Enabled, given ? &text : nullptr, &error)) << error;
    const std::string path = m.HostPath(L"C:\\Windows\\System32\\Recovery\\ReAgent.xml");
    EXPECT_EQ(HostFileExists(path), given);
    if (given) {
      EXPECT_EQ(ReadHostFile(path), text);
    }
  }
}

}  // namespace
}  // namespace tavu::test
