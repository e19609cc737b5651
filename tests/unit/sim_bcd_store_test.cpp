#include <gtest/gtest.h>

#include <string>

#include "launcher/arming/recovery_entry.h"
#include "sim/formats/code_pages.h"
#include "sim/programs/bcd_store.h"
#include "tests/fixtures/listing_text.h"
#include "tests/fixtures/temp_dir.h"

namespace tavu::sim {
namespace {

using Strings = std::vector<std::wstring>;

std::string Fixture(const char* name) {
  return test::ReadHostFile(std::string(TAVU_SOURCE_DIR "/tests/fixtures/bcd/") + name);
}

const wchar_t kRecoveryId[] = L"{6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}";
const wchar_t kDone[] = L"The operation completed successfully.\r\n";

class BcdStoreTest : public ::testing::Test {
 protected:
  BcdStoreTest() {
    original_ = DecodeCodePage(437, Fixture("english_windows10_uefi.txt"));
    store_.Load(original_);
  }
  int Run(const std::wstring& args) { return store_.Run(args, &out_); }
  std::wstring original_;
  SimBcdStore store_;
  std::wstring out_;
};

TEST_F(BcdStoreTest, UnchangedStoreListsExactlyAsLoaded) {
  ASSERT_GT(original_.size(), 4000u);
  EXPECT_EQ(store_.Listing(), original_);
  EXPECT_EQ(Run(L"/enum all"), 0);
  EXPECT_EQ(out_, original_);
  EXPECT_EQ(store_.entries().size(), 16u);
  EXPECT_EQ(store_.entries()[1].header, L"Windows Boot Manager");
  EXPECT_EQ(store_.Values(L"{fwbootmgr}", L"displayorder"),
            (Strings{L"{bootmgr}", L"{2b7b3c4e-8d1a-11e9-9a5c-806e6f6e6963}",
                     L"{2b7b3c4f-8d1a-11e9-9a5c-806e6f6e6963}"}));

  std::wstring german = DecodeCodePage(437, Fixture("german_cp437.txt"));
  SimBcdStore de;
  de.Load(german);
  EXPECT_EQ(de.Listing(), german);
  EXPECT_NE(german.find(L"Ger\x00e4teoptionen"), std::wstring::npos);
  // The identifier is the first element whatever the language calls it.
  EXPECT_TRUE(de.HasEntry(L"{0C5FD1A7-A1C3-11E3-BE57-806E6F6E6963}"));
  EXPECT_EQ(de.Values(L"{bootmgr}", L"locale"), Strings{L"de-DE"});
}

TEST_F(BcdStoreTest, ArmingCommandsChangeTheBootManager) {
  const std::wstring upper = L"{6F0C2A13-8D1A-11E9-A5C2-C8F750A1B2C3}";
  struct {
    std::wstring args;
  } commands[] = {
      {L"/set {bootmgr} customactions 0x1000043000001 0x5400000f"},
      {L"/set {bootmgr} custom:5400000f " + upper},
      {L"/set {bootmgr} extendedinput Yes "},
      {L"/set {current} isolatedcontext No"},
      {L"/displayorder " + upper},
  };
  for (const auto& c : commands) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(Run(c.args), 0);
    EXPECT_EQ(out_, kDone);
  }
  EXPECT_EQ(store_.changes(), 5);
  EXPECT_EQ(store_.Values(L"{bootmgr}", L"customactions"), (Strings{L"0x1000043000001", L"0x5400000f"}));
  EXPECT_EQ(store_.Values(L"{bootmgr}", L"custom:5400000f"), Strings{kRecoveryId});
  EXPECT_EQ(store_.Values(L"{bootmgr}", L"extendedinput"), Strings{L"Yes"});
  EXPECT_EQ(store_.Values(L"{current}", L"isolatedcontext"), Strings{L"No"});
  EXPECT_EQ(store_.Values(L"{bootmgr}", L"displayorder"), Strings{kRecoveryId});

  std::wstring listing = store_.Listing();
  for (const wchar_t* line : {
           L"\r\ndisplayorder            {6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}\r\ntoolsdisplayorder",
           L"\r\ntimeout                 30\r\ncustomactions           0x1000043000001\r\n"
           L"                        0x5400000f\r\n"
           L"custom:5400000f         {6f0c2a13-8d1a-11e9-a5c2-c8f750a1b2c3}\r\n"
           L"extendedinput           Yes\r\n\r\nFirmware Application",
           L"\r\nisolatedcontext         No\r\nallowedinmemorysettings 0x15000075\r\n",
       }) {
    EXPECT_NE(listing.find(line), std::wstring::npos) << testing::PrintToString(std::wstring(line));
  }
  // The changed listing still leads to the same entry.
  std::wstring id;
  EXPECT_TRUE(test::FindEntryId(test::SplitText(listing), &id));
  EXPECT_EQ(id, upper);
}

TEST_F(BcdStoreTest, RefusedCommandsChangeNothing) {
  struct {
    std::wstring args;
    const wchar_t* firstWords;
  } cases[] = {
      {L"/set {6f0c2a13-0000-11e9-a5c2-c8f750a1b2c3} description x", L"An error occurred"},
      {L"/set {bootmgr} custom:5400000f {ffffffff-8d1a-11e9-a5c2-c8f750a1b2c3}", L"An error occurred"},
      {L"/displayorder {ffffffff-8d1a-11e9-a5c2-c8f750a1b2c3}", L"An error occurred"},
      {L"/displayorder {6F0C2A13-8D1A-11E9-A5C2-C8F750A1B2C3} & calc", L"An error occurred"},
      {L"/set {bootmgr} extendedinput Maybe", L"The parameter is incorrect."},
      {L"/set {bootmgr} extendedinput", L"The parameter is incorrect."},
      {L"/set {bootmgr} customactions 0x1000043000001 F9", L"The parameter is incorrect."},
      {L"/set {bootmgr} customactions 0x10000430000011234567", L"The parameter is incorrect."},
      {L"/set {bootmgr} frobnicate 1", L"The element data type specified is not recognized"},
      {L"/set {bootmgr} custom:1100000f x", L"The element data type specified is not recognized"},
      {L"/set {bootmgr} custom:540000", L"The parameter is incorrect."},
      {L"/set {bootmgr} custom:5400zzzz {current}", L"The element data type specified is not recognized"},
      {L"/displayorder", L"The parameter is incorrect."},
      {L"/displayorder {current} {memdiag} /addlast", L"The parameter is incorrect."},
      {L"/delete {current}", L"The parameter is incorrect."},
      {L"/enum firmware", L"The parameter is incorrect."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(Run(c.args), 1);
    EXPECT_EQ(out_.rfind(c.firstWords, 0), 0u) << testing::PrintToString(out_);
  }
  EXPECT_EQ(store_.changes(), 0);
  EXPECT_EQ(store_.Listing(), original_);
}

TEST_F(BcdStoreTest, IdentifiersResolveAsBcdeditResolvesThem) {
  EXPECT_EQ(Run(L"/set description \"Windows 10 Home\""), 0) << "no identifier: {current}";
  EXPECT_EQ(store_.Values(L"{current}", L"description"), Strings{L"Windows 10 Home"});
  EXPECT_EQ(Run(L"/set {default} recoveryenabled off"), 0);
  EXPECT_EQ(store_.Values(L"{current}", L"recoveryenabled"), Strings{L"No"});
  EXPECT_EQ(Run(L"/SET {BOOTMGR} TIMEOUT 0x1e"), 0);
  EXPECT_EQ(store_.Values(L"{bootmgr}", L"timeout"), Strings{L"30"});

  struct {
    const wchar_t* args;
    Strings order;
  } steps[] = {
      {L"/displayorder {memdiag} /addlast", {L"{current}", L"{memdiag}"}},
      {L"/displayorder {6F0C2A13-8D1A-11E9-A5C2-C8F750A1B2C3} /addfirst", {kRecoveryId, L"{current}", L"{memdiag}"}},
      {L"/displayorder {current} /remove", {kRecoveryId, L"{memdiag}"}},
      {L"/displayorder {memdiag} {current}", {L"{memdiag}", L"{current}"}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(s.args)));
    EXPECT_EQ(Run(s.args), 0);
    EXPECT_EQ(store_.Values(L"{bootmgr}", L"displayorder"), s.order);
  }
}

TEST(BcdDefaultListing, MadeFromTheMachineInBcdeditsLayout) {
  BcdMachineFacts gpt;
  gpt.uefi = true;
  gpt.bootVolume = 2;
  gpt.recoveryVolume = 5;
  std::wstring listing = DefaultBcdListing(gpt);
  EXPECT_EQ(DefaultRecoveryEntryId(gpt), L"{6f0c2a13-8d1d-11e9-a5c2-c8f750a1b2c3}");
  EXPECT_NE(listing.find(L"\r\nWindows Boot Loader\r\n-------------------\r\n"
                         L"identifier              {6f0c2a13-8d1d-11e9-a5c2-c8f750a1b2c3}\r\n"
                         L"device                  ramdisk=[\\Device\\HarddiskVolume5]\\Recovery\\WindowsRE\\Winre.wim,"
                         L"{6f0c2a14-8d1e-11e9-a5c2-c8f750a1b2c3}\r\n"),
            std::wstring::npos);
  EXPECT_NE(listing.find(L"path                    \\EFI\\Microsoft\\Boot\\bootmgfw.efi\r\n"), std::wstring::npos);
  std::wstring id;
  EXPECT_TRUE(test::FindEntryId(test::SplitText(listing), &id));
  EXPECT_EQ(id, L"{6F0C2A13-8D1D-11E9-A5C2-C8F750A1B2C3}");

  SimBcdStore store;
  store.Load(listing);
  EXPECT_EQ(store.Listing(), listing);
  EXPECT_EQ(store.Values(L"{current}", L"recoverysequence"), Strings{L"{6f0c2a13-8d1d-11e9-a5c2-c8f750a1b2c3}"});
  EXPECT_EQ(store.Values(L"{globalsettings}", L"inherit"),
            (Strings{L"{dbgsettings}", L"{emssettings}", L"{badmemory}"}));

  BcdMachineFacts mbr;
  mbr.uefi = false;
  mbr.recoveryVolume = 0;
  listing = DefaultBcdListing(mbr);
  EXPECT_FALSE(test::FindEntryId(test::SplitText(listing), &id));
  EXPECT_EQ(listing.find(L"Firmware Boot Manager"), std::wstring::npos);
  EXPECT_NE(listing.find(L"path                    \\bootmgr\r\n"), std::wstring::npos);
  store.Load(listing);
  EXPECT_TRUE(store.HasEntry(L"{bootmgr}"));
  EXPECT_FALSE(store.HasEntry(L"{6f0c2a13-8d1d-11e9-a5c2-c8f750a1b2c3}"));
}

TEST(BcdCodePages, ConsoleCodePagesRoundTrip) {
  struct {
    int codePage;
    std::string bytes;
    std::wstring text;
  } cases[] = {
      {437, "f\x81r Ger\x84te \xE1", L"f\x00fcr Ger\x00e4te \x00df"},
      {850, "\x9B\x9D", L"\x00f8\x00d8"},
      {1252, "\x80\xE4", L"\x20ac\x00e4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_TRUE(KnownCodePage(c.codePage));
    EXPECT_EQ(DecodeCodePage(c.codePage, c.bytes), c.text);
    EXPECT_EQ(EncodeCodePage(c.codePage, c.text), c.bytes);
  }
  EXPECT_EQ(EncodeCodePage(437, L"\x20ac\x4e2d"), "??");
  EXPECT_FALSE(KnownCodePage(65001));
  // Every byte of 437 comes back as itself.
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(EncodeCodePage(437, DecodeCodePage(437, all)), all);
}

}  // namespace
}  // namespace tavu::sim
