#include "sim/core/sddl.h"

#include <gtest/gtest.h>

#include <string>

namespace tavu::sim {
namespace {

// What the simulated machine is told about a file's security: the forms
// Windows writes are read, anything else is refused with a reason.
TEST(SddlTest, ReadsWindowsFormsAndRefusesTheRest) {
  const struct {
    std::string text;
    const char* owner;
    int aces;  // -1: no DACL
    // The last entry: type, flags, mask, SID.
    int type;
    int flags;
    std::uint32_t mask;
    const char* sid;
  } cases[] = {
      {"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;S-1-2-0)", "S-1-5-32-544", 3, 0, 3, 0x1301BF,
       "S-1-2-0"},
      {"O:SYG:SYD:PAI(A;OICIIO;SDGXGWGR;;;AU)", "S-1-5-18", 1, 0, 0x0B, 0xE0010000, "S-1-5-11"},
      {"D:(A;;LC;;;AU)", "", 1, 0, 0, 0x4, "S-1-5-11"},
      {"O:S-1-5-21-1-2-3-1001D:(D;NPID;FW;;;WD)", "S-1-5-21-1-2-3-1001", 1, 1, 0x14, 0x120116, "S-1-1-0"},
      {"D:(OA;CI;WP;4c164200-20c0-11d0-a768-00aa006e0529;;IU)", "", 1, 5, 2, 0x20, "S-1-5-4"},
      {"D:(XA;;FX;;;LS;(Member_of {SID(BA)}))", "", 1, 9, 0, 0x1200A0, "S-1-5-19"},
      {"D:(A;;4294967295;;;NS)", "", 1, 0, 0, 0xFFFFFFFF, "S-1-5-20"},
      {"D:(A;;GAWDWO;;;CO)(A;;GX;;;CG)", "", 2, 0, 0, 0x20000000, "S-1-3-1"},
      {"O:BAD:", "S-1-5-32-544", 0, 0, 0, 0, ""},
      {"O:BAD:NO_ACCESS_CONTROL", "S-1-5-32-544", -1, 0, 0, 0, ""},
      {"O:BU", "S-1-5-32-545", -1, 0, 0, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    SimDescriptor d;
    std::string error;
    ASSERT_TRUE(ParseSddl(c.text, &d, &error)) << error;
    EXPECT_EQ(d.owner, c.owner);
    EXPECT_EQ(d.daclPresent, c.aces >= 0);
    ASSERT_EQ(static_cast<int>(d.aces.size()), c.aces < 0 ? 0 : c.aces);
    if (c.aces <= 0) continue;
    EXPECT_EQ(d.aces.back().type, c.type);
    EXPECT_EQ(d.aces.back().flags, c.flags);
    EXPECT_EQ(d.aces.back().mask, c.mask);
    EXPECT_EQ(d.aces.back().sid, c.sid);
  }
  const std::string refused[] = {
      "",
      "O:",
      "O:XX",
      "O:BAO:SY",
      "X:BA",
      "D:(A;;FA;;;BA",
      "D:(A;;FA;;BA)",
      "D:(A;;FA;;;BA;;)",
      "D:(Q;;FA;;;BA)",
      "D:(A;ZZ;FA;;;BA)",
      "D:(A;O;FA;;;BA)",
      "D:(A;;FZ;;;BA)",
      "D:(A;;0x1FFFFFFFF;;;BA)",
      "D:(A;;0x;;;BA)",
      "D:(A;;FA;;;S-1-)",
      "D:(A;;FA;;;S-1-5-4294967296)",
      "D:(A;;FA;;;S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16)",
      "D:(A;;FA;not-a-guid;;BA)",
      "D:(A;;FA;;;BA;(cond))",
      "D:Q(A;;FA;;;BA)",
      "D:(A;;FA;;;BA) ",
      "D:" + std::string(9000, '('),
  };
  for (const std::string& text : refused) {
    SCOPED_TRACE(text.substr(0, 80));
    SimDescriptor d;
    std::string error;
    EXPECT_FALSE(ParseSddl(text, &d, &error));
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace tavu::sim
