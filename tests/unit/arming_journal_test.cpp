// The journal that undoes an arming: what is written reads back the same, and
// anything but a whole journal of ours is refused rather than followed.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "launcher/arming/arming_journal.h"

namespace tavu {
namespace {

const char kGpt[] =
    "TAVU Recovery journal 1\r\nroute boot-manager\r\ntask absent\r\n"
    "{bootmgr} displayorder = {current} {7c1b2a3d-4e5f-11ef-9a8b-7c6d5e4f3a2b}\r\n"
    "{bootmgr} customactions = 0x1000044000001 0x54000001\r\n{bootmgr} custom:5400000f -\r\n"
    "{bootmgr} extendedinput -\r\n{current} isolatedcontext = Yes\r\nend\r\n";
const char kMbr[] =
    "TAVU Recovery journal 1\r\nroute partition-table\r\ntask existed\r\ndisk 0x1A2B3C4D\r\n"
    "recovery 7340032 0x1C\r\nactive 1048576\r\nend\r\n";

TEST(ArmingJournalTest, WhatIsWrittenReadsBackTheSame) {
  for (const std::string& text : {std::string(kGpt), std::string(kMbr)}) {
    ArmingJournal journal;
    ASSERT_TRUE(ParseJournal(text.data(), text.size(), &journal)) << text;
    char again[kJournalBytes];
    EXPECT_EQ(std::string(again, FormatJournal(journal, again)), text);
  }
  ArmingJournal mbr;
  ASSERT_TRUE(ParseJournal(kMbr, sizeof kMbr - 1, &mbr));
  EXPECT_EQ(mbr.route, JournalRoute::PartitionTable);
  EXPECT_TRUE(mbr.taskExisted);
  EXPECT_EQ(mbr.diskSignature, 0x1A2B3C4Du);
  EXPECT_EQ(mbr.recoveryOffset, 7340032);
  EXPECT_EQ(mbr.recoveryType, 0x1C);
  EXPECT_TRUE(mbr.hadActive);
  EXPECT_EQ(mbr.activeOffset, 1048576);
  ArmingJournal gpt;
  ASSERT_TRUE(ParseJournal(kGpt, sizeof kGpt - 1, &gpt));
  EXPECT_FALSE(gpt.values[kJournalCustomEntry].present);
  EXPECT_STREQ(gpt.values[kJournalCustomActions].text, L"0x1000044000001 0x54000001");
}

TEST(ArmingJournalTest, AnythingButAWholeJournalIsRefused) {
  const std::string gpt = kGpt;
  const std::string mbr = kMbr;
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"cut before its end line", gpt.substr(0, gpt.size() - 5)},
      {"cut inside a line", gpt.substr(0, 40)},
      {"empty", ""},
      {"another header", "TAVU Recovery journal 2" + gpt.substr(23)},
      {"LF line ends", "TAVU Recovery journal 1\nroute boot-manager\n"},
      {"text after the end", gpt + "x\r\n"},
      {"a value cmd.exe would read as a second command",
       "TAVU Recovery journal 1\r\nroute boot-manager\r\ntask absent\r\n{bootmgr} displayorder = {current}&calc\r\n"
       "{bootmgr} customactions -\r\n{bootmgr} custom:5400000f -\r\n{bootmgr} extendedinput -\r\n"
       "{current} isolatedcontext -\r\nend\r\n"},
      {"an element out of order",
       "TAVU Recovery journal 1\r\nroute boot-manager\r\ntask absent\r\n{bootmgr} customactions -\r\n"
       "{bootmgr} displayorder -\r\n{bootmgr} custom:5400000f -\r\n{bootmgr} extendedinput -\r\n"
       "{current} isolatedcontext -\r\nend\r\n"},
      {"a signature too large", "TAVU Recovery journal 1\r\nroute partition-table\r\ntask absent\r\n"
                                "disk 0x1A2B3C4D5\r\nrecovery 7340032 0x1C\r\nactive -\r\nend\r\n"},
      {"an offset beyond 64 bits", "TAVU Recovery journal 1\r\nroute partition-table\r\ntask absent\r\n"
                                   "disk 0x1A2B3C4D\r\nrecovery 99999999999999999999 0x1C\r\nactive -\r\nend\r\n"},
      {"a type of two bytes", mbr.substr(0, mbr.find("0x1C")) + "0x11C" + mbr.substr(mbr.find("0x1C") + 4)},
      {"a zero inside", gpt.substr(0, 30) + std::string(1, '\0') + gpt.substr(31)},
  };
  for (const auto& c : cases) {
    ArmingJournal journal;
    journal.diskSignature = 7;
    EXPECT_FALSE(ParseJournal(c.text.data(), c.text.size(), &journal)) << c.what;
    EXPECT_EQ(journal.diskSignature, 7u) << c.what << ": a refused journal leaves nothing behind";
  }
}

TEST(ArmingJournalTest, ValuesThatCannotGoBackThroughCmdAreNotWrittenDown) {
  ArmingJournal journal;
  journal.values[kJournalDisplayOrder].present = true;
  for (const wchar_t* bad : {L"{current}|calc", L"%PATH%", L"\"{current}\"", L"", L"{current}\u00e9"}) {
    std::wcsncpy(journal.values[kJournalDisplayOrder].text, bad, kJournalValueChars - 1);
    char text[kJournalBytes];
    EXPECT_EQ(FormatJournal(journal, text), 0u);
  }
}

}  // namespace
}  // namespace tavu
