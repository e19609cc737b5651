#include "common/next_start.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tavu {
namespace {

const wchar_t kRe[] = L"{7c1b0a52-a1c3-11e3-be57-806e6f6e6963}";
const wchar_t kReUpper[] = L"{7C1B0A52-A1C3-11E3-BE57-806E6F6E6963}";

// The store as the launcher leaves it armed: F9 bound to the recovery loader,
// which is also the only entry of the display order.
BootManagerFacts ArmedStore() {
  BootManagerFacts m;
  m.defaultId = L"{current}";
  m.displayOrder = std::vector<std::wstring>{kRe};
  m.customActions = std::vector<std::wstring>{L"0x1000043000001", L"0x5400000f"};
  m.customElements = {{L"custom:5400000f", kRe}};
  m.entries = {{L"{current}", BootEntryKind::WindowsLoader, false},
               {kRe, BootEntryKind::RecoveryLoader, true},
               {L"{memdiag}", BootEntryKind::Other, false}};
  return m;
}

struct Case {
  const char* what;
  std::function<void(BootFacts&)> change;
  NextStart next;
  const wchar_t* started;  // empty when nothing starts
  int activePartition = 0;
  bool sequenceUsed = false;
};

void Check(const BootFacts& base, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BootFacts facts = base;
    c.change(facts);
    NextStartReport r = DecideNextStart(facts);
    EXPECT_EQ(r.next, c.next) << r.why;
    EXPECT_EQ(r.startedEntry, c.started);
    EXPECT_EQ(r.activePartition, c.activePartition);
    EXPECT_EQ(r.bootSequenceUsed, c.sequenceUsed);
    EXPECT_FALSE(r.why.empty());
    ASSERT_FALSE(r.steps.empty());
    EXPECT_EQ(r.steps.front().rfind("firmware: ", 0), 0u);
    for (const std::string& step : r.steps) {
      bool prefixed = false;
      for (const char* prefix : {"firmware: ", "mbr: ", "boot manager: ", "entry: "}) {
        prefixed = prefixed || step.rfind(prefix, 0) == 0;
      }
      EXPECT_TRUE(prefixed) << step;
    }
  }
}

MbrEntryFacts Partition(int number, std::uint8_t flag, std::uint8_t type) {
  MbrEntryFacts e;
  e.partitionNumber = number;
  e.bootFlag = flag;
  e.type = type;
  e.signatureOk = true;
  return e;
}

// Makes table entry index the only active one, with the given type byte.
std::function<void(BootFacts&)> Activating(std::size_t index, std::uint8_t type) {
  return [index, type](BootFacts& f) {
    for (MbrEntryFacts& e : f.mbr) e.bootFlag = 0;
    f.mbr[index].bootFlag = 0x80;
    f.mbr[index].type = type;
  };
}

TEST(NextStart, FirmwareAndMbrCodeRules) {
  BootFacts base;
  base.style = StartDiskStyle::Mbr;
  base.disk = 0;
  base.bootManager = ArmedStore();
  base.bootManager.displayOrder = std::vector<std::wstring>{L"{current}"};
  base.mbr = {Partition(1, 0x80, 0x07), Partition(2, 0, 0x27), Partition(3, 0, 0x27), Partition(4, 0, 0x07)};
  base.mbr[0].goesToBootManager = true;  // C:
  base.mbr[1].goesToBootManager = true;  // a system partition holding \bootmgr
  base.mbr[2].isRecoveryPartition = true;
  Check(
      base,
      {
          {"no start disk", [](BootFacts& f) { f.style = StartDiskStyle::None; }, NextStart::None, L""},
          {"raw start disk", [](BootFacts& f) { f.style = StartDiskStyle::Raw; }, NextStart::None, L""},
          {"C: active", [](BootFacts&) {}, NextStart::Windows, L"{current}", 1},
          {"system partition active", Activating(1, 0x27), NextStart::Windows, L"{current}", 2},
          {"recovery active, hidden type", Activating(2, 0x27), NextStart::Recovery, L"", 3},
          {"recovery active, visible type", Activating(2, 0x0C), NextStart::Recovery, L"", 3},
          {"other partition active", Activating(3, 0x07), NextStart::None, L"", 4},
          {"missing signature", [](BootFacts& f) { f.mbr[0].signatureOk = false; }, NextStart::None, L"", 1},
          {"invalid flag", [](BootFacts& f) { f.mbr[1].bootFlag = 0x81; }, NextStart::None, L""},
          {"empty entry with a bad flag", [](BootFacts& f) { f.mbr[3] = Partition(0, 0x01, 0); },
           NextStart::None, L""},
          {"none active", [](BootFacts& f) { f.mbr[0].bootFlag = 0; }, NextStart::None, L""},
          {"two active", [](BootFacts& f) { f.mbr[2].bootFlag = 0x80; }, NextStart::None, L""},
          {"a fifth entry is not in the table",
           [](BootFacts& f) { f.mbr.push_back(Partition(5, 0x80, 0x07)); }, NextStart::Windows, L"{current}",
           1},
          {"short table", [](BootFacts& f) { f.mbr.resize(1); }, NextStart::Windows, L"{current}", 1},
      });
}

BootFacts GptMachine(bool firmwareModeOn) {
  BootFacts facts;
  facts.style = StartDiskStyle::Gpt;
  facts.disk = 0;
  facts.bootManager = ArmedStore();
  facts.firmwareModeOn = firmwareModeOn;
  return facts;
}

std::function<void(BootFacts&)> Actions(std::vector<std::wstring> list) {
  return [list](BootFacts& f) {
    f.bootManager.customActions = list;
    f.bootManager.displayOrder.reset();
  };
}

TEST(NextStart, BootManagerWithF9Pressed) {
  auto custom = [](const wchar_t* id) {
    return [id](BootFacts& f) { f.bootManager.customElements[0].second = id; };
  };
  Check(
      GptMachine(true),
      {
          {"armed store", [](BootFacts&) {}, NextStart::Recovery, kRe},
          {"key code in decimal", Actions({L"281476100784129", L"1409286159"}), NextStart::Recovery, kRe},
          // The key's scan code is read from bits 24-39 only; everything else falls to [default], {current}.
          {"0x43 outside bits 24-39", Actions({L"0x43", L"0x5400000f"}), NextStart::Windows, L"{current}"},
          {"another key", Actions({L"0x1000044000001", L"0x5400000f"}), NextStart::Windows, L"{current}"},
          {"unparsable pair", Actions({L"0x10000430000zz", L"0x5400000f"}), NextStart::Windows, L"{current}"},
          // A custom element naming no entry makes F9 do nothing: the boot manager goes on to the boot
          // sequence and the display order, whose recovery loader then starts.
          {"F9 entry names nothing", custom(L"{gone}"), NextStart::Recovery, kRe},
          {"F9 wins over the boot sequence",
           [](BootFacts& f) { f.bootManager.bootSequence = {L"{current}"}; }, NextStart::Recovery, kRe},
          {"recovery image missing", [](BootFacts& f) { f.bootManager.entries[1].imageReady = false; },
           NextStart::None, L""},
          {"ids ignore case", custom(kReUpper), NextStart::Recovery, kRe},
          {"{default} as a value", custom(L"{DEFAULT}"), NextStart::Windows, L"{current}"},
          {"memory tester", custom(L"{memdiag}"), NextStart::None, L""},
      });
}

TEST(NextStart, BootManagerWithoutF9) {
  auto order = [](std::vector<std::wstring> ids) {
    return [ids](BootFacts& f) { f.bootManager.displayOrder = ids; };
  };
  Check(GptMachine(false),
        {
            {"armed store, first rule", [](BootFacts&) {}, NextStart::Recovery, kRe},
            {"armed store, default rule", [](BootFacts& f) { f.menuRule = MenuRule::Default; },
             NextStart::Windows, L"{current}"},
            {"boot sequence",
             [](BootFacts& f) {
               f.bootManager.bootSequence = {L"{current}", kRe};
             },
             NextStart::Windows, L"{current}", 0, true},
            {"default listed wins under the first rule", order({kRe, L"{CURRENT}"}), NextStart::Windows,
             L"{current}"},
            {"absent display order", [](BootFacts& f) { f.bootManager.displayOrder.reset(); },
             NextStart::Windows, L"{current}"},
            {"empty display order", order({}), NextStart::Windows, L"{current}"},
            {"nothing to start",
             [](BootFacts& f) {
               f.bootManager.displayOrder.reset();
               f.bootManager.defaultId.reset();
             },
             NextStart::None, L""},
            {"id naming nothing", order({L"{gone}"}), NextStart::None, L""},
        });
}

TEST(NextStart, ReportTextIsAsciiAndNamed) {
  BootFacts facts;
  facts.style = StartDiskStyle::Gpt;
  facts.bootManager.defaultId = L"{caf\x00e9}";
  std::string why = DecideNextStart(facts).why;
  EXPECT_NE(why.find("{caf?}"), std::string::npos) << why;
  EXPECT_STREQ(NextStartName(NextStart::Windows), "windows");
  EXPECT_STREQ(NextStartName(NextStart::Recovery), "recovery");
  EXPECT_STREQ(NextStartName(NextStart::None), "none");
}

}  // namespace
}  // namespace tavu
