#include <gtest/gtest.h>

#include <string>

#include "common/utf16.h"
#include "common/wide_text.h"

namespace tavu {
namespace {

TEST(WideText, ModuleDirectoryRule) {
  struct Case {
    const wchar_t* path;
    const wchar_t* dir;
  } cases[] = {
      {L"C:\\Program Files\\TAVU\\TAVU Recovery.exe", L"C:\\Program Files\\TAVU"},
      {L"C:/x/y.exe", L"C:/x"},
      {L"C:prog.exe", L"C:"},
      {L"prog.exe", L""},
      {L"", L""},
      {L"\\\\?\\C:\\a\\b.exe", L"\\\\?\\C:\\a"},
  };
  for (const Case& c : cases) {
    wchar_t out[260];
    DirectoryOfPath(c.path, out, 260);
    EXPECT_EQ(std::wstring(out), c.dir) << std::wstring(c.path).size();
  }
}

TEST(WideText, BoundedCopiesNeverOverrun) {
  wchar_t buf[8];
  std::fill(std::begin(buf), std::end(buf), L'#');
  EXPECT_FALSE(CopyBounded(buf, 5, L"abcdefgh"));
  EXPECT_EQ(std::wstring(buf), L"abcd");
  EXPECT_EQ(buf[5], L'#');
  EXPECT_FALSE(AppendBounded(buf, 6, L"xyz"));
  EXPECT_EQ(std::wstring(buf), L"abcdx");
  EXPECT_EQ(FormatBounded(buf, 6, L"%ls-%d", L"ab", 123), -1);
  EXPECT_EQ(buf[5], L'\0');
  EXPECT_EQ(FormatBounded(buf, 8, L"%ls-%d", L"ab", 12), 5);
  EXPECT_EQ(std::wstring(buf), L"ab-12");
}

TEST(WideText, UpperCasingTouchesOnlyAsciiLetters) {
  wchar_t text[] = L"/auto \x00e9z{a-b}";
  UpperAscii(text, 260);
  EXPECT_EQ(std::wstring(text), L"/AUTO \x00e9Z{A-B}");
  EXPECT_TRUE(EqualsIgnoreAsciiCase(L"Recovery", L"RECOVERY"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase(L"Recovery", L"RECOVERY "));
}

TEST(WideText, Utf16RoundTripIncludingSurrogates) {
  std::wstring text = L"A\x00e9\x20ac";
  text.push_back(static_cast<wchar_t>(0x1F600));
  std::uint8_t encoded[Utf16LeBytesFor(8)];
  std::string bytes(reinterpret_cast<const char*>(encoded),
                    AppendUtf16Le(encoded, sizeof encoded, text.data(), text.size()));
  EXPECT_EQ(bytes, std::string("A\0\xe9\0\xac\x20\x3d\xd8\x00\xde", 10));
  // A full buffer ends the text at a whole character, never inside a pair.
  EXPECT_EQ(AppendUtf16Le(encoded, 9, text.data(), text.size()), 6u);
  wchar_t back[16];
  DecodeUtf16Le(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), back, 16);
  EXPECT_EQ(std::wstring(back), text);
  // An odd byte count and a small capacity are both cut safely.
  EXPECT_EQ(DecodeUtf16Le(reinterpret_cast<const std::uint8_t*>(bytes.data()), 3, back, 16), 1u);
  EXPECT_EQ(DecodeUtf16Le(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), back, 2), 1u);
}

}  // namespace
}  // namespace tavu
