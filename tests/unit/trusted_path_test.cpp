#include "common/trusted_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sim/core/sddl.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

constexpr const wchar_t* kLauncher = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe";
constexpr const wchar_t* kFolder = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher";

class TrustedPathTest : public SimTest {};

// The file, its folder and each folder up to the root are read; the root only
// for what reaches below it. Entries set on a folder pass to what it holds.
TEST_F(TrustedPathTest, FileAndEveryFolderAboveItAreWeighed) {
  const struct {
    const char* what;
    const wchar_t* where;  // null: Windows' own descriptors only
    const char* sddl;
    bool trusted;
  } cases[] = {
      {"Windows' own", nullptr, "", true},
      {"the root lets users delete what it holds", L"C:\\", "O:SYD:(A;OICI;FA;;;SY)(A;;0x40;;;BU)", false},
      {"the root lets users add folders", L"C:\\", "O:SYD:(A;OICI;FA;;;SY)(A;;0x4;;;AU)", true},
      {"the root re-permitted by its owner", L"C:\\", "O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;SY)", false},
      {"users add files to the program folder", L"C:\\Program Files", "O:SYD:(A;OICI;FA;;;SY)(A;;0x2;;;BU)",
       false},
      {"users add subfolders beside the tool", kFolder, "O:BAD:(A;OICI;FA;;;BA)(A;;0x4;;;BU)", false},
      {"folder granted to LOCAL, passed down", L"C:\\Program Files\\TAVU",
       "O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;S-1-2-0)", false},
      {"folder owned by an account", kFolder, "O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;BA)", false},
      {"inherit-only grant reaches the file", kFolder, "O:BAD:(A;OICI;FA;;;BA)(A;OIIO;FA;;;BU)", false},
      {"inherit-only grant for subfolders only", kFolder, "O:BAD:(A;OICI;FA;;;BA)(A;CIIO;FA;;;BU)", true},
      {"no-propagate grant reaches the folder just below", L"C:\\Program Files\\TAVU",
       "O:BAD:(A;OICI;FA;;;BA)(A;OICINPIO;FA;;;BU)", false},
      {"no-propagate grant for subfolders misses the file", kFolder,
       "O:BAD:(A;OICI;FA;;;BA)(A;CINPIO;FA;;;BU)", true},
      {"the file itself", kLauncher, "O:BAD:(A;;FA;;;BA)(A;;0x10000;;;S-1-5-113)", false},
      {"no DACL on the file", kLauncher, "O:BA", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // A fresh machine per case: the descriptors are the machine's.
    TempDir dir;
    sim::SimMachine fresh(dir.path());
    fresh.Install();
    if (c.where != nullptr) {
      sim::SimDescriptor d;
      std::string error;
      ASSERT_TRUE(sim::ParseSddl(c.sddl, &d, &error)) << error;
      fresh.files().SetAcl(c.where, d);
    }
    EXPECT_EQ(OnlyAdminsCanChange(kLauncher), c.trusted);
  }
  machine().Install();
}

// A junction anywhere on the way: the folders behind it are not the ones
// walked. The finding names the step, for the reason a program gives.
TEST_F(TrustedPathTest, ALinkOnTheWayIsRefusedByName) {
  namespace fs = std::filesystem;
  machine().Install();
  const std::string launcher = machine().HostPath(kLauncher);
  fs::create_directories(fs::path(launcher).parent_path());
  ASSERT_TRUE(OnlyAdminsCanChange(kLauncher));
  const std::string maker = machine().HostPath(L"C:\\Program Files\\TAVU");
  const std::string elsewhere = machine().HostPath(L"C:\\Users\\Owner\\TAVU");
  fs::create_directories(fs::path(elsewhere).parent_path());
  fs::rename(maker, elsewhere);
  fs::create_directory_symlink(elsewhere, maker);
  TrustFinding finding;
  EXPECT_FALSE(OnlyAdminsCanChange(kLauncher, &finding));
  EXPECT_EQ(finding.refusal, TrustRefusal::Link);
  EXPECT_EQ(std::wstring(finding.step), L"C:\\Program Files\\TAVU");
}

// Under the policy "Object creator" what the installer made is the owner's
// account's: the strict rule refuses it, since that account is the one the
// owner's unelevated programs run as.
TEST_F(TrustedPathTest, ObjectCreatorPolicyMakesTheMakersFolderUntrusted) {
  machine().Install();
  machine().files().SetOwnerDefaultCreator(true);
  TrustFinding finding;
  EXPECT_FALSE(OnlyAdminsCanChange(kLauncher, &finding));
  EXPECT_EQ(finding.refusal, TrustRefusal::OthersChange);
  EXPECT_EQ(std::wstring(finding.step), kLauncher);
  EXPECT_TRUE(OnlyAdminsCanChange(L"C:\\Program Files"));
}

// Windows' Temp folder keeps an administrator's files; once users were given
// full control there (a common "fix") they may delete and replace them.
TEST_F(TrustedPathTest, TempFolderKeepsAdminsFilesOnlyAsWindowsShipsIt) {
  machine().Install();
  EXPECT_TRUE(KeepsAdminsFiles(L"C:\\Windows\\Temp"));
  sim::SimDescriptor d;
  std::string error;
  ASSERT_TRUE(sim::ParseSddl("O:BAD:P(A;OICI;FA;;;BU)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", &d, &error)) << error;
  machine().files().SetAcl(L"C:\\Windows\\Temp", d);
  EXPECT_FALSE(KeepsAdminsFiles(L"C:\\Windows\\Temp"));
  EXPECT_FALSE(KeepsAdminsFiles(L"C:\\"));
}

TEST_F(TrustedPathTest, PathsThatNameNoOnePlaceAreRefused) {
  for (const wchar_t* path : {L"Program Files\\TAVU\\x.exe", L"C:\\Program Files\\..\\Users\\x.exe",
                              L"C:\\Program Files\\.\\x.exe", L"C:/Program Files/x.exe", L"", L"C:"}) {
    SCOPED_TRACE(std::wstring(path).size());
    EXPECT_FALSE(OnlyAdminsCanChange(path));
  }
  EXPECT_FALSE(OnlyAdminsCanChange(nullptr));
  EXPECT_TRUE(OnlyAdminsCanChange(L"C:\\Program Files\\"));
}

}  // namespace
}  // namespace tavu::test
