#include "common/trust_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace tavu::test {
namespace {

constexpr const char* kTi = "S-1-5-80-956008885-3432591178-1520307224-2016616340-2017207637";
constexpr const char* kAccount = "S-1-5-21-3623811015-3361044348-30300820-1001";
constexpr std::uint32_t kAllChange =
    0x000D0156;  // write, append, write EA, write attributes, delete child, delete, write DAC, write owner

struct Entry {
  std::uint8_t type;
  std::uint8_t flags;
  std::uint32_t mask;
  const char* sid;
};

SecurityFacts Facts(const char* owner, const std::vector<Entry>& entries, bool dacl = true) {
  SecurityFacts facts;
  std::strncpy(facts.owner, owner, kSidChars - 1);
  facts.daclPresent = dacl;
  for (const Entry& e : entries) {
    AceFact& ace = facts.aces[facts.aceCount++];
    ace.type = e.type;
    ace.flags = e.flags;
    ace.mask = e.mask;
    std::strncpy(ace.sid, e.sid, kSidChars - 1);
  }
  return facts;
}

// Windows' own program folder, with one more entry.
SecurityFacts ProgramFolderWith(const Entry& extra, const char* owner = kTi) {
  return Facts(owner, {{0, 0x13, 0x1F01FF, kTi},
                       {0, 0x13, 0x1F01FF, "S-1-5-18"},
                       {0, 0x13, 0x1F01FF, "S-1-5-32-544"},
                       {0, 0x13, 0x1200A9, "S-1-5-32-545"},
                       extra});
}

// Who may change a file or folder: every owner and entry that is not
// SYSTEM, Administrators or TrustedInstaller counts, whatever group it is.
TEST(TrustRulesTest, OnlySystemAdministratorsAndTrustedInstallerMayChange) {
  const Entry kReadForEveryone{0, 0, 0x1200A9, "S-1-1-0"};
  const struct {
    const char* what;
    SecurityFacts facts;
    std::uint32_t others;
  } cases[] = {
      {"Windows' own", ProgramFolderWith(kReadForEveryone), 0},
      {"owned by SYSTEM", ProgramFolderWith(kReadForEveryone, "S-1-5-18"), 0},
      {"owned by Administrators", ProgramFolderWith(kReadForEveryone, "S-1-5-32-544"), 0},
      {"owned by one account", ProgramFolderWith(kReadForEveryone, kAccount), kAllChange},
      {"owned by Users", ProgramFolderWith(kReadForEveryone, "S-1-5-32-545"), kAllChange},
      {"no owner", ProgramFolderWith(kReadForEveryone, ""), kAllChange},
      {"LOCAL modifies", ProgramFolderWith({0, 0x03, 0x1301BF, "S-1-2-0"}), 0x00010116},
      {"CONSOLE LOGON modifies", ProgramFolderWith({0, 0, 0x1301BF, "S-1-2-1"}), 0x00010116},
      {"This Organization modifies", ProgramFolderWith({0, 0, 0x1301BF, "S-1-5-15"}), 0x00010116},
      {"Local account modifies", ProgramFolderWith({0, 0, 0x1301BF, "S-1-5-113"}), 0x00010116},
      {"a domain's None group modifies",
       ProgramFolderWith({0, 0, 0x1301BF, "S-1-5-21-3623811015-3361044348-30300820-513"}), 0x00010116},
      {"one named account has full control", ProgramFolderWith({0, 0, 0x1F01FF, kAccount}), kAllChange},
      {"INTERACTIVE has full control", ProgramFolderWith({0, 0, 0x1F01FF, "S-1-5-4"}), kAllChange},
      // Each right alone.
      {"write data / add file", ProgramFolderWith({0, 0, 0x0002, "S-1-5-32-545"}), 0x0002},
      {"append / add subfolder", ProgramFolderWith({0, 0, 0x0004, "S-1-5-32-545"}), 0x0004},
      {"delete child", ProgramFolderWith({0, 0, 0x0040, "S-1-5-32-545"}), 0x0040},
      {"delete", ProgramFolderWith({0, 0, 0x00010000, "S-1-5-32-545"}), 0x00010000},
      {"write DAC", ProgramFolderWith({0, 0, 0x00040000, "S-1-5-32-545"}), 0x00040000},
      {"write owner", ProgramFolderWith({0, 0, 0x00080000, "S-1-5-32-545"}), 0x00080000},
      {"write attributes and extended attributes", ProgramFolderWith({0, 0, 0x0110, "S-1-5-32-545"}), 0x0110},
      {"generic write", ProgramFolderWith({0, 0, 0x40000000, "S-1-5-32-545"}), 0x0116},
      {"generic all", ProgramFolderWith({0, 0, 0x10000000, "S-1-5-32-545"}), kAllChange},
      {"maximum allowed", ProgramFolderWith({0, 0, 0x02000000, "S-1-5-32-545"}), kAllChange},
      {"generic read and execute", ProgramFolderWith({0, 0, 0xA0000000, "S-1-5-32-545"}), 0},
      // Other allow types.
      {"object allow", ProgramFolderWith({5, 0, 0x0002, "S-1-5-11"}), 0x0002},
      {"callback allow", ProgramFolderWith({9, 0, 0x0004, "S-1-5-11"}), 0x0004},
      {"callback object allow", ProgramFolderWith({11, 0, 0x00040000, "S-1-5-11"}), 0x00040000},
      {"compound allow, SID not read", ProgramFolderWith({4, 0, 0x0002, ""}), 0x0002},
      {"unknown type", ProgramFolderWith({200, 0, 0, "S-1-5-18"}), kAllChange},
      {"audit type in a DACL", ProgramFolderWith({2, 0, 0x1F01FF, "S-1-5-18"}), kAllChange},
      // Deny entries grant nothing and take nothing away.
      {"deny alone", ProgramFolderWith({1, 0, 0x1F01FF, "S-1-1-0"}), 0},
      {"deny before a grant",
       Facts(kTi, {{1, 0, 0x1F01FF, "S-1-5-32-545"}, {0, 0, 0x1F01FF, "S-1-5-32-545"}}), kAllChange},
      {"object deny", ProgramFolderWith({6, 0, 0x1F01FF, "S-1-5-11"}), 0},
      // Inherit-only entries apply below, not here.
      {"inherit-only grant", ProgramFolderWith({0, 0x0B, 0x1F01FF, "S-1-5-11"}), 0},
      {"inherited grant", ProgramFolderWith({0, 0x10, 0x1F01FF, "S-1-5-11"}), kAllChange},
      {"null DACL", Facts(kTi, {}, false), kAllChange},
      {"empty DACL", Facts(kTi, {}), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(UntrustedChangeRights(c.facts), c.others);
  }
  SecurityFacts cut = ProgramFolderWith(kReadForEveryone);
  cut.cut = true;
  EXPECT_EQ(UntrustedChangeRights(cut), kAllChange);
  // Under Wine, where the program's own files belong to its account, that
  // account is as trusted as the program. On Windows it never is: under the
  // policy "Object creator" an installer's folders are that account's, and
  // the owner's unelevated malware runs as it.
  SecurityFacts own = Facts(kAccount, {{0, 0x10, 0x1F01FF, kAccount},
                                       {0, 0x10, 0x1F01FF, "S-1-5-32-544"},
                                       {0, 0x10, 0x1200A9, "S-1-5-32-545"}});
  EXPECT_EQ(UntrustedChangeRights(own), kAllChange);
  std::strncpy(own.creator, kAccount, kSidChars - 1);
  EXPECT_EQ(UntrustedChangeRights(own), kAllChange);
  own.underWine = true;
  EXPECT_EQ(UntrustedChangeRights(own), 0u);
}

}  // namespace
}  // namespace tavu::test
