#include <gtest/gtest.h>

#include <string>

#include "launcher/arming/recovery_entry.h"
#include "sim/core/faults.h"
#include "tests/fixtures/listing_text.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string FixtureBytes(const char* name) {
  return ReadHostFile(std::string(TAVU_SOURCE_DIR "/tests/fixtures/bcd/") + name);
}

// Searches a listing given as the text a text-mode stream delivers.
bool Find(const std::wstring& text, std::wstring* id) { return FindEntryId(SplitText(text), id); }

const wchar_t kNotFound[] = L"<not found>";

struct Case {
  const char* what;
  std::wstring text;
  std::wstring expected;  // kNotFound when nothing is to be found
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring id = L"untouched";
    bool found = Find(c.text, &id);
    if (c.expected == kNotFound) {
      EXPECT_FALSE(found);
      EXPECT_EQ(id, L"untouched");
    } else {
      EXPECT_TRUE(found);
      EXPECT_EQ(id, c.expected);
    }
  }
}

// Identifiers as bcdedit lists them, and as the search gives them back.
const std::wstring kA = L"{aaaaaaaa-1111-4111-8111-111111111111}";
const std::wstring kAUpper = L"{AAAAAAAA-1111-4111-8111-111111111111}";
const std::wstring kB = L"{bbbbbbbb-2222-4222-8222-222222222222}";
const std::wstring kBUpper = L"{BBBBBBBB-2222-4222-8222-222222222222}";
const std::wstring kC = L"{cccccccc-3333-4333-8333-333333333333}";
const std::wstring kCUpper = L"{CCCCCCCC-3333-4333-8333-333333333333}";

TEST(RecoveryEntry, CandidateAndNextLineRule) {
  RunCases({
      {"word, blanks and a lower-case identifier, then the image path in mixed case with its comma",
       L"identifier              {6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}\n"
       L"device                  "
       L"ramdisk=[\\Device\\HarddiskVolume4]\\Recovery\\WindowsRE\\Winre.wim,{6f0c2a14}\n",
       L"{6F0C2A13-8D1A-11E9-A5C2-C8F750A1B2C3}"},
      {"image path in lower case", L"x " + kA + L"\nramdisk=[C:]\\recovery\\windowsre\\winre.wim,{x}\n",
       kAUpper},
      {"image path in upper case, CR LF line ends",
       L"x " + kA + L"\r\nRAMDISK=[C:]\\RECOVERY\\WINDOWSRE\\WINRE.WIM,\r\n", kAUpper},
      {"image path without the comma", L"x " + kA + L"\nramdisk=[C:]\\Recovery\\WindowsRE\\Winre.wim\n",
       kNotFound},
      {"image path followed by a blank instead of the comma",
       L"x " + kA + L"\nramdisk=[C:]\\Recovery\\WindowsRE\\Winre.wim {x}\n", kNotFound},
      {"image path in another folder (recovery image on the system volume)",
       L"identifier {95712d87-09fe-11e4-82d5-80dbd73f896e}\n"
       L"device ramdisk=[C:]\\Recovery\\14a69569-3069-11df-a60b-9fbdc7c34241\\Winre.wim,{95712d88}\n",
       kNotFound},
      {"three identifier lines in a row: the second is only the first one's next line",
       L"identifier " + kA + L"\nidentifier " + kB + L"\ndevice [X]\\Recovery\\WindowsRE\\Winre.wim,\n",
       kNotFound},
      {"the third of three identifier lines is tested after the pair",
       kA + L"\n" + kB + L"\n" + kC + L"\n\\Recovery\\WindowsRE\\Winre.wim,\n", kCUpper},
      {"braces without a dash are never a candidate",
       L"identifier {bootmgr}\ndevice ramdisk=[X]\\Recovery\\WindowsRE\\Winre.wim,\n", kNotFound},
      {"a dash without braces is never a candidate",
       L"Windows-Boot-Loader\n\\Recovery\\WindowsRE\\Winre.wim,\n", kNotFound},
      {"two recovery entries: the earlier wins",
       L"identifier " + kA +
           L"\ndevice \\Recovery\\WindowsRE\\Winre.wim,\n"
           L"identifier " +
           kB + L"\ndevice \\Recovery\\WindowsRE\\Winre.wim,\n",
       kAUpper},
      {"the image line itself with braces and a dash is a candidate of its own",
       L"osdevice ramdisk=[X]\\Recovery\\WindowsRE\\Winre.wim," + kA +
           L"\n"
           L"systemroot \\Recovery\\WindowsRE\\Winre.wim,\n",
       kAUpper},
      {"empty listing", L"", kNotFound},
      {"only line ends", L"\n\n\r\n", kNotFound},
  });
}

TEST(RecoveryEntry, LastLineWithoutLineEnd) {
  RunCases({
      {"last line is a candidate without line end: it is tested as its own next line",
       L"timeout 30\nosdevice ramdisk=[X]\\Recovery\\WindowsRE\\Winre.wim," + kA, kAUpper},
      {"the same line with its line end: the next line is empty",
       L"timeout 30\nosdevice ramdisk=[X]\\Recovery\\WindowsRE\\Winre.wim," + kA + L"\n", kNotFound},
      {"the same line with CR LF", L"osdevice ramdisk=[X]\\Recovery\\WindowsRE\\Winre.wim," + kA + L"\r\n",
       kNotFound},
      {"last identifier line without line end and without the image path", L"x\nidentifier " + kA, kNotFound},
      {"next line of the pair is the unterminated last line",
       L"identifier " + kA + L"\ndevice \\Recovery\\WindowsRE\\Winre.wim,", kAUpper},
  });
}

TEST(RecoveryEntry, OnlyABracedGuidMakesALineACandidate) {
  const std::wstring image = L"\n\\Recovery\\WindowsRE\\Winre.wim,\n";
  RunCases({
      {"upper-case GUID", kAUpper + image, kAUpper},
      {"a description with braces and a dash before the real identifier line no longer hides it",
       L"description {EFI USB-Device}\nidentifier " + kB + image, kBUpper},
      {"a description that is itself followed by the image line", L"description {usb-stick}" + image,
       kNotFound},
      {"not hexadecimal", L"{gaaaaaaa-1111-4111-8111-111111111111}" + image, kNotFound},
      {"groups of other lengths", L"{aaaaaaaaa-111-4111-8111-111111111111}" + image, kNotFound},
      {"one digit short", L"{aaaaaaaa-1111-4111-8111-11111111111}" + image, kNotFound},
      {"first to last brace holds more than one identifier", L"  " + kA + L" and {ef}" + image, kNotFound},
      {"longer than the batch line holds", L"{" + std::wstring(216, L'A') + L"-}" + image, kNotFound},
      {"command separator", L"{a-1} & calc.exe & {b}" + image, kNotFound},
      {"redirection", kA + L" > C:\\x " + kB + image, kNotFound},
      {"variable", L"{a-%PATH%}" + image, kNotFound},
      {"quote", L"{a-\"}" + image, kNotFound},
      {"only ASCII letters are upper-cased", L"{aaaaaaaa-1111-4111-8111-11111111111\x00e9}" + image,
       kNotFound},
      {"closing brace before the opening one encloses nothing", L"}-{\n" + kC + image, kCUpper},
      {"refused line followed by a usable entry", L"{a-1} & {b}" + image + kC + image, kCUpper},
  });
}

// A listing in bcdedit's layout: {current} names its recovery loader in
// recoverysequence; two loaders name the recovery image.
std::wstring LiveEntryListing(const std::wstring& sequenceLine, const std::wstring& bootManagerExtra = L"") {
  return L"\r\nWindows Boot Manager\r\n--------------------\r\n"
         L"identifier              {bootmgr}\r\n"
         L"default                 {current}\r\n" +
         bootManagerExtra +
         L"\r\nWindows Boot Loader\r\n-------------------\r\n"
         L"identifier              " +
         kA +
         L"\r\n"
         L"device                  "
         L"ramdisk=[\\Device\\HarddiskVolume3]\\Recovery\\WindowsRE\\Winre.wim,{x}\r\n"
         L"\r\nWindows Boot Loader\r\n-------------------\r\n"
         L"identifier              {current}\r\n"
         L"device                  partition=C:\r\n" +
         sequenceLine +
         L"recoveryenabled         Yes\r\n"
         L"\r\nWindows Boot Loader\r\n-------------------\r\n"
         L"identifier              " +
         kB +
         L"\r\n"
         L"device                  "
         L"ramdisk=[\\Device\\HarddiskVolume5]\\Recovery\\WindowsRE\\Winre.wim,{y}\r\n"
         L"\r\nResume from Hibernate\r\n---------------------\r\n"
         L"identifier              " +
         kC +
         L"\r\n"
         L"recoverysequence        " +
         kA + L"\r\n";
}

TEST(RecoveryEntry, TheLiveEntryIsTheOneCurrentNames) {
  RunCases({
      {"the orphan comes first, {current} names the later one",
       LiveEntryListing(L"recoverysequence        " + kB + L"\r\n"), kBUpper},
      {"element name in another case", LiveEntryListing(L"RecoverySequence        " + kB + L"\r\n"), kBUpper},
      {"{current} names the first one", LiveEntryListing(L"recoverysequence        " + kA + L"\r\n"),
       kAUpper},
      {"no recoverysequence in {current}: the first in file order",
       LiveEntryListing(L"nx                      OptIn\r\n"), kAUpper},
      {"recoverysequence names no recovery loader: the first in file order",
       LiveEntryListing(L"recoverysequence        " + kC + L"\r\n"), kAUpper},
      {"recoverysequence with a value that is no identifier",
       LiveEntryListing(L"recoverysequence        {bbbbbbbb-2222}\r\n"), kAUpper},
      {"another entry's recoverysequence does not count",
       LiveEntryListing(L"", L"recoverysequence        " + kB + L"\r\n"), kAUpper},
  });
}

TEST(RecoveryEntry, CurrentRecoverySequenceOfRealListings) {
  struct {
    const char* fixture;
    const wchar_t* sequence;
  } cases[] = {
      {"english_windows10_uefi.txt", L"{6F0C2A13-8D1A-11E9-A5C2-C8F750A1B2C3}"},
      {"german_cp437.txt", L"{0C5FD1A7-A1C3-11E3-BE57-806E6F6E6963}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    ListingLines listing = SplitText(Widen(FixtureBytes(c.fixture)));
    wchar_t id[kGuidChars + 1] = {};
    ASSERT_TRUE(FindCurrentRecoverySequence(listing, id));
    EXPECT_EQ(std::wstring(id), c.sequence);
  }
}

TEST(RecoveryEntry, SplitsLinesAsTextModeDelivers) {
  struct {
    std::wstring text;
    std::vector<std::wstring> lines;
    bool lastLineEnded;
  } cases[] = {
      {L"", {}, true},
      {L"a", {L"a"}, false},
      {L"a\n", {L"a"}, true},
      {L"a\r\nb", {L"a", L"b"}, false},
      {L"a\r\r\nb\r\n", {L"a\r", L"b"}, true},
      {L"a\rb\n", {L"a\rb"}, true},
      {L"\n\n", {L"", L""}, true},
      {L"\r", {L"\r"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    ListingLines got = SplitText(c.text);
    EXPECT_EQ(LinesOf(got), c.lines);
    if (!c.lines.empty()) {
      EXPECT_EQ(got.lastLineEnded, c.lastLineEnded);
    }
  }
}

TEST(RecoveryEntry, ListingsInTheLayoutOfRealBcdeditOutput) {
  std::string english = FixtureBytes("english_windows10_uefi.txt");
  ASSERT_FALSE(english.empty());
  std::wstring text = Widen(english);
  std::wstring id;
  EXPECT_TRUE(Find(text, &id));
  EXPECT_EQ(id, L"{6F0C2A13-8D1A-11E9-A5C2-C8F750A1B2C3}");

  // Cut right behind the recovery entry's identifier line, with and without its line end.
  std::size_t at = text.find(L"identifier              {6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}");
  ASSERT_NE(at, std::wstring::npos);
  std::size_t lineEnd = text.find(L"\r\n", at);
  EXPECT_FALSE(Find(text.substr(0, lineEnd), &id));
  EXPECT_FALSE(Find(text.substr(0, lineEnd + 2), &id));
  // Cut inside the image line's path: the comma is missing.
  std::size_t comma = text.find(L"Winre.wim,", lineEnd);
  EXPECT_FALSE(Find(text.substr(0, comma + 9), &id));
  EXPECT_TRUE(Find(text.substr(0, comma + 10), &id));
  EXPECT_EQ(id, L"{6F0C2A13-8D1A-11E9-A5C2-C8F750A1B2C3}");
}

class RecoveryEntryFile : public SimTest {
 protected:
  const std::wstring path_ = L"C:\\Windows\\Temp\\RcvBoot.txt";
  void Put(const std::string& bytes) { WriteHostFile(root() + "/Windows/Temp/RcvBoot.txt", bytes); }
};

TEST_F(RecoveryEntryFile, ForeignListingInItsCodePageThroughTheAnsiCodePage) {
  // A German listing as bcdedit writes it after CHCP 437; the machine's ANSI
  // code page is 1252, so its umlauts arrive as other characters. The search
  // does not care.
  Put(FixtureBytes("german_cp437.txt"));
  ListingLines listing;
  ASSERT_TRUE(ReadListing(path_.c_str(), &listing));
  EXPECT_TRUE(listing.lastLineEnded);
  const std::vector<std::wstring> lines = LinesOf(listing);
  ASSERT_GT(lines.size(), 120u);
  EXPECT_EQ(lines[0], L"");
  // 0x84 (a-umlaut in 437) is U+201E in 1252.
  EXPECT_NE(std::find(lines.begin(), lines.end(), L"Ger\x201Eteoptionen"), lines.end());
  std::wstring id;
  EXPECT_TRUE(FindEntryId(listing, &id));
  EXPECT_EQ(id, L"{0C5FD1A7-A1C3-11E3-BE57-806E6F6E6963}");
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

TEST_F(RecoveryEntryFile, ReadingFollowsTextMode) {
  struct {
    const char* what;
    std::string bytes;
    std::vector<std::wstring> lines;
    bool lastLineEnded;
  } cases[] = {
      {"CR LF pairs become line ends", "a\r\nb\r\n", {L"a", L"b"}, true},
      {"Ctrl-Z ends the text", "a\r\nb\x1A\r\nc\r\n", {L"a", L"b"}, false},
      {"Ctrl-Z first: nothing", "\x1A" "a\r\n", {}, true},
      {"bytes above 127 through code page 1252", "\x80\xE9\r\n", {L"\x20AC\x00E9"}, true},
      {"a zero byte stays in its line", std::string("a\0b\n", 4), {std::wstring(L"a\0b", 3)}, true},
      {"empty file", "", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Put(c.bytes);
    ListingLines listing;
    listing = SplitText(L"stale");
    ASSERT_TRUE(ReadListing(path_.c_str(), &listing));
    EXPECT_EQ(LinesOf(listing), c.lines);
    if (!c.lines.empty()) {
      EXPECT_EQ(listing.lastLineEnded, c.lastLineEnded);
    }
  }
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
}

TEST_F(RecoveryEntryFile, UnreadableListingsCountAsNotFound) {
  ListingLines listing;
  EXPECT_FALSE(ReadListing(path_.c_str(), &listing)) << "missing file";

  Put(std::string(kMaxListingBytes + 1, 'x'));
  EXPECT_FALSE(ReadListing(path_.c_str(), &listing)) << "absurdly large";
  Put(std::string(kMaxListingBytes, 'x'));
  EXPECT_TRUE(ReadListing(path_.c_str(), &listing)) << "at the limit";

  Put("x {a-b}\r\n\\Recovery\\WindowsRE\\Winre.wim,\r\n");
  for (sim::SimOp op : {sim::SimOp::FileOpen, sim::SimOp::FileSize, sim::SimOp::FileRead}) {
    machine().faults().Reset();
    machine().faults().FailAll(op);
    EXPECT_FALSE(ReadListing(path_.c_str(), &listing)) << static_cast<int>(op);
  }
  machine().faults().Reset();
  EXPECT_TRUE(ReadListing(path_.c_str(), &listing));
  EXPECT_EQ(machine().handles().OpenCount(), 0u);
  EXPECT_EQ(machine().handles().Misuses(), 0u);
}

}  // namespace
}  // namespace tavu::test
