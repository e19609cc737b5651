// ReAgent.xml as reagentc writes it and as it arrives damaged: the three
// elements' attributes are read, and nothing else is taken for them.
#include "check/reagent_xml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavu::check {
namespace {

const std::string kBom = "\xEF\xBB\xBF";
const std::string kHead =
    "<?xml version='1.0' encoding='utf-8' standalone='yes'?>\r\n<WindowsRE version=\"2.0\">\r\n";

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

struct Case {
  const char* name;
  std::string bytes;
  bool parsed;
  const wchar_t* bcd;  // null: no WinreBCD id
  const wchar_t* path;
  bool hasOffset;
  std::uint64_t offset;
  bool hasId;
  std::uint32_t id;
  bool gptGuid;  // guid read and not all zeros
  int state;
};

TEST(ReAgentXml, ReadsTheThreeElementsFromAnyText) {
  const std::string gpt =
      kHead +
      "  <WinreBCD id=\"{7c1b2a3d-4e5f-11ef-9a8b-7c6d5e4f3a2b}\"/>\r\n"
      "  <WinreLocation path=\"\\Recovery\\WindowsRE\" id=\"0\" offset=\"1075838976\" "
      "guid=\"{12345678-1234-5678-9abc-def012345678}\"/>\r\n"
      "  <ImageLocation path=\"\" id=\"0\" offset=\"0\" guid=\"{00000000-0000-0000-0000-000000000000}\"/>\r\n"
      "  <InstallState state=\"1\"/>\r\n"
      "  <DownlevelWinreLocation path=\"\\Old\" offset=\"5\" guid=\"{00000000-0000-0000-0000-000000000000}\" "
      "id=\"7\"/>\r\n"
      "</WindowsRE>\r\n";
  const std::vector<Case> cases = {
      {"GptAsWritten", kBom + gpt, true, L"{7c1b2a3d-4e5f-11ef-9a8b-7c6d5e4f3a2b}", L"\\Recovery\\WindowsRE",
       true, 1075838976ull, true, 0, true, 1},
      {"Utf16WithBom", Utf16(gpt), true, L"{7c1b2a3d-4e5f-11ef-9a8b-7c6d5e4f3a2b}", L"\\Recovery\\WindowsRE",
       true, 1075838976ull, true, 0, true, 1},
      {"MbrSignatureInDecimal",
       kHead + "<WinreLocation id=\"4294967295\" offset='1048576' path='\\Recovery\\WindowsRE' "
               "guid='{00000000-0000-0000-0000-000000000000}'/><InstallState state='0'/></WindowsRE>",
       true, nullptr, L"\\Recovery\\WindowsRE", true, 1048576, true, 0xFFFFFFFFu, false, 0},
      {"DisabledAndEmpty",
       kHead + "<WinreBCD id=\"{00000000-0000-0000-0000-000000000000}\"/><WinreLocation path=\"\" id=\"0\" "
               "offset=\"0\" guid=\"{00000000-0000-0000-0000-000000000000}\"/><InstallState state=\"0\"/>",
       true, L"{00000000-0000-0000-0000-000000000000}", L"", true, 0, true, 0, false, 0},
      {"EntitiesAndSpacesAroundEquals", kHead + "<WinreLocation path = \"\\A&amp;B&quot;\" offset=\"12\"/>",
       true, nullptr, L"\\A&B\"", true, 12, false, 0, false, -1},
      {"NumbersOutOfRange",
       kHead + "<WinreLocation id=\"4294967296\" offset=\"99999999999999999999\" guid=\"{1234}\"/>"
               "<InstallState state=\"-1\"/>",
       true, nullptr, L"", false, 0, false, 0, false, -1},
      {"CutInsideAnAttribute", kHead + "<WinreBCD id=\"{7c1b", true, L"{7c1b", L"", false, 0, false, 0, false,
       -1},
      {"NoRootElement", "<WinreBCD id=\"{x}\"/>", false, L"{x}", L"", false, 0, false, 0, false, -1},
      {"Binary", std::string("\x00\xFF<\x80\xC0<\"=\"'", 11), false, nullptr, L"", false, 0, false, 0, false,
       -1},
      {"Empty", "", false, nullptr, L"", false, 0, false, 0, false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReAgentXml x;
    EXPECT_EQ(ParseReAgentXml(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size(), &x),
              c.parsed);
    EXPECT_EQ(x.hasBcd, c.bcd != nullptr);
    if (c.bcd != nullptr) {
      EXPECT_EQ(std::wstring(x.bcdId), c.bcd);
    }
    EXPECT_EQ(std::wstring(x.path), c.path);
    EXPECT_EQ(x.hasOffset, c.hasOffset);
    EXPECT_EQ(x.offset, c.offset);
    EXPECT_EQ(x.hasId, c.hasId);
    EXPECT_EQ(x.id, c.id);
    EXPECT_EQ(x.hasGuid && !IsZeroGuid(x.guid), c.gptGuid);
    EXPECT_EQ(x.installState, c.state);
    if (c.gptGuid) {
      EXPECT_EQ(x.guid.Data1, 0x12345678u);
      EXPECT_EQ(x.guid.Data3, 0x5678u);
      EXPECT_EQ(x.guid.Data4[0], 0x9Au);
      EXPECT_EQ(x.guid.Data4[7], 0x78u);
    }
  }
}

}  // namespace
}  // namespace tavu::check
