#include "launcher/services/scheduled_task.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fixtures/launcher_test.h"

namespace tavu::test {
namespace {

using Lines = std::vector<std::string>;
using Calls = std::vector<std::string>;
using WCalls = std::vector<std::wstring>;

const char kAddPathLine[] =
    "[AddTask]\tTask Path: C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe, Task Arg: "
    "/CHECK";

class ScheduledTaskTest : public LauncherTest {
 protected:
  void ExpectNothingHeld() {
    EXPECT_EQ(machine().handles().OpenCount(), 0u);
    EXPECT_EQ(machine().handles().Misuses(), 0u);
    EXPECT_EQ(machine().com().CurrentApartment(), sim::Apartment::None);
  }
  sim::SimTask Existing() {
    sim::SimTask t;
    t.name = L"TAVU F9 Recovery";
    t.actionPath = L"C:\\old.exe";
    return t;
  }
};

TEST_F(ScheduledTaskTest, AddTaskRegistersEveryValue) {
  EXPECT_EQ(AddTask(kLauncherPath), 0);
  ExpectRecoveryTask();

  EXPECT_EQ(machine().com().calls(),
            (Calls{"CoInitialize = 0x00000000", "CoInitializeSecurity(6,3) = 0x00000000", "CoUninitialize"}));
  EXPECT_EQ(machine().tasks().calls(),
            (WCalls{L"OpenFolder \\ = 0x00000000", L"DeleteTask TAVU F9 Recovery = 0x80070002",
                    L"RegisterTask TAVU F9 Recovery = 0x00000000"}));
  EXPECT_EQ(LogLines(),
            (Lines{"[AddTask]\tTask Name: TAVU F9 Recovery", kAddPathLine, "[AddTask]\tReturn : 0"}));
  ExpectNothingHeld();
}

TEST_F(ScheduledTaskTest, AddTaskTwiceLeavesOneTaskWithTheLatestPath) {
  EXPECT_EQ(AddTask(L"C:\\First\\TAVU Recovery.exe"), 0);
  EXPECT_EQ(AddTask(L"C:\\Second\\TAVU Recovery.exe"), 0);
  EXPECT_EQ(machine().tasks().Count(), 1u);
  auto task = machine().tasks().Find(L"TAVU F9 Recovery");
  ASSERT_TRUE(task.has_value());
  EXPECT_EQ(task->actionPath, L"C:\\Second\\TAVU Recovery.exe");
  // The second call removed the first registration before it registered again.
  auto calls = machine().tasks().calls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[4], L"DeleteTask TAVU F9 Recovery = 0x00000000");
  ExpectNothingHeld();
}

TEST_F(ScheduledTaskTest, DeleteTaskRemovesTheTaskOrReportsThatThereWasNone) {
  machine().tasks().Put(Existing());
  EXPECT_EQ(DeleteTask(), 0);
  EXPECT_FALSE(machine().tasks().Find(L"TAVU F9 Recovery").has_value());
  EXPECT_EQ(DeleteTask(), 1);
  EXPECT_EQ(LogLines(), (Lines{"[DeleteTask]\tTask Name: TAVU F9 Recovery", "[DeleteTask]\tReturn : 0",
                               "[DeleteTask]\tTask Name: TAVU F9 Recovery", "[DeleteTask]\tReturn : 1"}));
  EXPECT_EQ(machine().com().calls(),
            (Calls{"CoInitialize = 0x00000000", "CoInitializeSecurity(6,3) = 0x00000000", "CoUninitialize",
                   "CoInitialize = 0x00000000", "CoInitializeSecurity(6,3) = 0x80010119", "CoUninitialize"}));
  ExpectNothingHeld();
}

TEST_F(ScheduledTaskTest, SecuritySetByStartUpDoesNotStopEitherOperation) {
  // Start-up's security, then the tool runner's CoUninitialize.
  machine().com().InitializeMultithreaded();
  machine().com().InitializeSecurity(0, 3);
  machine().com().Uninitialize();
  machine().com().ClearCalls();
  EXPECT_EQ(AddTask(kLauncherPath), 0);
  EXPECT_EQ(DeleteTask(), 0);
  EXPECT_EQ(machine().com().calls(),
            (Calls{"CoInitialize = 0x00000000", "CoInitializeSecurity(6,3) = 0x80010119", "CoUninitialize",
                   "CoInitialize = 0x00000000", "CoInitializeSecurity(6,3) = 0x80010119", "CoUninitialize"}));
  EXPECT_EQ(machine().tasks().Count(), 0u);
  ExpectNothingHeld();
}

struct FailureCase {
  const char* name;
  void (*arrange)(sim::SimMachine&);
  Calls com;
};

const FailureCase kFailures[] = {
    // The thread is still in start-up's multithreaded apartment: no
    // single-threaded one can be entered, and nothing is to be undone.
    {"thread still in the multithreaded apartment",
     [](sim::SimMachine& m) {
       m.com().InitializeMultithreaded();
       m.com().ClearCalls();
     },
     {"CoInitialize = 0x80010106"}},
    {"CoInitialize fails",
     [](sim::SimMachine& m) { m.faults().FailAll(sim::SimOp::ComInit); },
     {"CoInitialize = 0x8007000E"}},
    {"CoInitializeSecurity fails",
     [](sim::SimMachine& m) { m.com().SetSecurityResult(kEFail); },
     {"CoInitialize = 0x00000000", "CoInitializeSecurity(6,3) = 0x80004005", "CoUninitialize"}},
    {"no scheduler service",
     [](sim::SimMachine& m) { m.tasks().SetOpenResult(HResultOf(0x80070005u)); },
     {"CoInitialize = 0x00000000", "CoInitializeSecurity(6,3) = 0x00000000", "CoUninitialize"}},
    {"every scheduler call fails",
     [](sim::SimMachine& m) { m.faults().FailAll(sim::SimOp::TaskCall); },
     {"CoInitialize = 0x00000000", "CoInitializeSecurity(6,3) = 0x00000000", "CoUninitialize"}},
};

TEST_F(ScheduledTaskTest, AddTaskFailuresGiveOneAndAlwaysLogTheResult) {
  for (const FailureCase& c : kFailures) {
    sim::SimMachine m(root());
    m.Install();
    m.system().SetModulePath(kLauncherPath);
    std::remove(Host(L"C:\\Windows\\Temp\\TAVU F9 Recovery.log").c_str());
    c.arrange(m);
    EXPECT_EQ(AddTask(kLauncherPath), 1) << c.name;
    EXPECT_EQ(m.com().calls(), c.com) << c.name;
    EXPECT_EQ(m.tasks().Count(), 0u) << c.name;
    EXPECT_EQ(LogLines(),
              (Lines{"[AddTask]\tTask Name: TAVU F9 Recovery", kAddPathLine, "[AddTask]\tReturn : 1"}))
        << c.name;
    EXPECT_EQ(m.handles().OpenCount(), 0u) << c.name;
  }
  machine().Install();
}

TEST_F(ScheduledTaskTest, DeleteTaskFailuresGiveOneAndAlwaysLogTheResult) {
  for (const FailureCase& c : kFailures) {
    sim::SimMachine m(root());
    m.Install();
    m.tasks().Put(Existing());
    std::remove(Host(L"C:\\Windows\\Temp\\TAVU F9 Recovery.log").c_str());
    c.arrange(m);
    EXPECT_EQ(DeleteTask(), 1) << c.name;
    EXPECT_EQ(m.com().calls(), c.com) << c.name;
    EXPECT_TRUE(m.tasks().Find(L"TAVU F9 Recovery").has_value()) << c.name;
    EXPECT_EQ(LogLines(), (Lines{"[DeleteTask]\tTask Name: TAVU F9 Recovery", "[DeleteTask]\tReturn : 1"}))
        << c.name;
    EXPECT_EQ(m.handles().OpenCount(), 0u) << c.name;
  }
  machine().Install();
}

TEST_F(ScheduledTaskTest, RefusedRegistrationLeavesNoTask) {
  machine().tasks().Put(Existing());
  machine().tasks().SetRegisterResult(HResultOf(0x80070005u));
  EXPECT_EQ(AddTask(kLauncherPath), 1);
  // The earlier registration was removed before the new one was refused.
  EXPECT_EQ(machine().tasks().Count(), 0u);
  EXPECT_EQ(LogLines().back(), "[AddTask]\tReturn : 1");
  ExpectNothingHeld();
}

TEST_F(ScheduledTaskTest, OverlongPathIsCutInTheLogButRegisteredWhole) {
  std::wstring path = L"C:\\" + std::wstring(300, L'd') + L"\\TAVU Recovery.exe";
  EXPECT_EQ(AddTask(path.c_str()), 0);
  auto task = machine().tasks().Find(L"TAVU F9 Recovery");
  ASSERT_TRUE(task.has_value());
  EXPECT_EQ(task->actionPath, path);
  Lines lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  // The message buffer holds 259 characters; the tag part comes on top.
  EXPECT_EQ(lines[1], "[AddTask]\tTask Path: C:\\" + std::string(259 - 14, 'd'));
  EXPECT_EQ(lines[2], "[AddTask]\tReturn : 0");
}

}  // namespace
}  // namespace tavu::test
