// The text rules of the simulated machine and its tool, checked against an
// oracle where one exists: the C library's own case mapping, which in the "C"
// locale folds exactly 'a'..'z'. The launcher's UpperAscii is held to the same
// oracle, so the two cannot drift apart.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cwctype>
#include <string>
#include <vector>

#include "common/wide_text.h"
#include "sim/core/text.h"

namespace tavu::test {
namespace {

TEST(TextRulesTest, CaseFoldingAgreesWithTheCLibraryOverAllOfAscii) {
  for (int c = 0; c < 128; ++c) {
    const wchar_t w = static_cast<wchar_t>(c);
    const wchar_t upper = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
    EXPECT_EQ(sim::AsciiUpper(w), upper) << c;
    EXPECT_EQ(sim::AsciiLower(w), static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)))) << c;
    EXPECT_EQ(sim::AsciiUpper(static_cast<char>(c)), static_cast<char>(std::toupper(c))) << c;
    EXPECT_EQ(sim::AsciiLower(static_cast<char>(c)), static_cast<char>(std::tolower(c))) << c;
    wchar_t product[2] = {w, L'\0'};
    UpperAscii(product, 2);
    EXPECT_EQ(product[0], upper) << c;
    EXPECT_TRUE(sim::AsciiEqualNoCase(std::wstring(1, w), std::wstring(1, upper))) << c;
  }
  // Windows' name comparisons fold nothing else, whatever a locale would do.
  for (wchar_t c : {L'\u00E9', L'\u00FF', L'\u0131', L'\u017F', L'\uFF41'}) {
    EXPECT_EQ(sim::AsciiUpper(c), c);
    EXPECT_EQ(sim::AsciiLower(c), c);
  }
  EXPECT_FALSE(sim::AsciiEqualNoCase(std::wstring(L"\u00E9"), std::wstring(L"\u00C9")));
  EXPECT_FALSE(sim::AsciiEqualNoCase(std::string("ab"), std::string("abc")));
}

TEST(TextRulesTest, LinesAndNumbersAtTheirEdges) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(sim::Lines(""), Lines{});
  EXPECT_EQ(sim::Lines("a\r\nb\n\nc"), (Lines{"a", "b", "", "c"}));
  EXPECT_EQ(sim::Lines("a\r\n"), Lines{"a"});
  EXPECT_EQ(sim::Lines("a\r"), Lines{"a"});
  EXPECT_EQ(sim::Lines("a\r\nb", /*keepCr=*/true), (Lines{"a\r", "b"}));
  EXPECT_EQ(sim::CrLfLines("a\nb\r\nc\r"), (Lines{"a\nb", "c\r"}));
  EXPECT_EQ(sim::CrLfLines("a\r\n"), Lines{"a"});

  struct Case {
    const char* text;
    unsigned base;
    std::uint64_t max;
    bool ok;
    std::uint64_t value;
  };
  const Case cases[] = {
      {"0", 10, 9, true, 0},
      {"315360000", 10, 315360000, true, 315360000},
      {"315360001", 10, 315360000, false, 0},
      {"000000000000000000000001", 10, 9, true, 1},
      {"18446744073709551615", 10, UINT64_MAX, true, UINT64_MAX},
      {"18446744073709551616", 10, UINT64_MAX, false, 0},
      {"fF", 16, 0xFF, true, 0xFF},
      {"100", 16, 0xFF, false, 0},
      {"1a", 10, 99, false, 0},
      {"", 10, 99, false, 0},
      {" 1", 10, 99, false, 0},
  };
  for (const Case& c : cases) {
    std::uint64_t value = 0;
    EXPECT_EQ(sim::ParseDigits(std::string(c.text), c.base, c.max, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace tavu::test
