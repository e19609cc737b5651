#include "launcher/arming/system_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/win_errors.h"
#include "tests/fixtures/launcher_test.h"

namespace tavu::test {
namespace {

const wchar_t kBitLockerNs[] = L"ROOT\\CIMV2\\Security\\MicrosoftVolumeEncryption";

class SystemChecksTest : public LauncherTest {
 protected:
  // Start-up's state: the main thread in the multithreaded apartment with
  // process security set.
  void StartUpCom() {
    ASSERT_EQ(machine().com().InitializeMultithreaded(), kSOk);
    HResult security = machine().com().InitializeSecurity(0, 3);
    ASSERT_TRUE(security == kSOk || security == kRpcETooLate);
    g_comReady = 1;
    machine().com().ClearCalls();
  }
  void ExpectNothingHeld() {
    EXPECT_EQ(machine().handles().OpenCount(), 0u);
    EXPECT_EQ(machine().handles().Misuses(), 0u);
  }
};

// A system whose probe answers as configured, for the cases the simulated
// machine does not offer by itself.
class Wow64Probe : public sim::SimSystem {
 public:
  Wow64Probe(bool present, bool ok, std::uint32_t error) : present_(present), ok_(ok), error_(error) {}
  bool SystemWow64Directory(bool* present, std::uint32_t* error) override {
    *present = present_;
    if (present_ && !ok_) *error = error_;
    return present_ && ok_;
  }

 private:
  bool present_, ok_;
  std::uint32_t error_;
};

TEST_F(SystemChecksTest, SixtyFourBitWindowsFromTheWow64Probe) {
  machine().system().SetWindows64(true);
  EXPECT_EQ(Is64BitWindows(), 1);
  machine().system().SetWindows64(false);
  EXPECT_EQ(Is64BitWindows(), 0);

  const struct {
    bool present, ok;
    std::uint32_t error;
    int expected;
  } cases[] = {
      {true, true, 0, 1},
      {true, false, kErrorCallNotImplemented, 0},
      {true, false, kErrorAccessDenied, 1},
      {true, false, kErrorInsufficientBuffer, 1},
      {false, false, 0, 0},
  };
  for (const auto& c : cases) {
    Wow64Probe probe(c.present, c.ok, c.error);
    Platform p = machine().platform();
    p.system = &probe;
    SetPlatform(p);
    EXPECT_EQ(Is64BitWindows(), c.expected) << c.present << c.ok << " error " << c.error;
  }
  machine().Install();
}

TEST_F(SystemChecksTest, ManufacturerHoldsTheWordInAnyCaseAndPlace) {
  StartUpCom();
  const std::wstring longPrefix(250, L'x');
  const struct {
    std::wstring text;
    int expected;
  } cases[] = {
      {L"TAVU", 1},
      {L"TAVU Computer Inc.", 1},
      {L"tavu computer inc.", 1},
      {L"Made by TaVu", 1},
      {L"xTAVUx", 1},
      {L"", 0},
      {L"TAV U", 0},
      {L"Other Maker Ltd.", 0},
      {L"T\u00c4VU", 0},
      // Longer than the 260-character buffer: only the first 259 characters count.
      {longPrefix + L"TAVU" + std::wstring(100, L'y'), 1},                // ends at 254
      {std::wstring(256, L'x') + L"TAVU", 0},                             // would end at 260
      {std::wstring(255, L'x') + L"TAVU" + std::wstring(5000, L'z'), 1},  // ends exactly at 259
      {std::wstring(5000, L'x') + L"TAVU", 0},
  };
  for (const auto& c : cases) {
    machine().wmi().SetManufacturer(c.text);
    EXPECT_EQ(CheckManufacturer(), c.expected)
        << sim::Narrow(c.text.substr(0, 40)) << " length " << c.text.size();
  }
  ExpectNothingHeld();
}

TEST_F(SystemChecksTest, ManufacturerOfTheLastSystemCounts) {
  StartUpCom();
  const struct {
    std::vector<std::wstring> systems;
    int expected;
  } cases[] = {
      {{}, 0},
      {{L"TAVU", L"Other"}, 0},
      {{L"Other", L"TAVU"}, 1},
      {{L"TAVU", L""}, 0},
  };
  for (const auto& c : cases) {
    machine().wmi().SetComputerSystems(c.systems);
    EXPECT_EQ(CheckManufacturer(), c.expected) << c.systems.size();
  }
  EXPECT_EQ(machine().wmi().connects(), std::vector<std::wstring>(4, L"ROOT\\CIMV2"));
  EXPECT_EQ(machine().wmi().queries(), std::vector<std::wstring>(4, L"SELECT * FROM Win32_ComputerSystem"));
  ExpectNothingHeld();
}

TEST_F(SystemChecksTest, ManufacturerFailuresAreNoAndEndCom) {
  // Each failure exit releases what it holds and leaves the thread's COM.
  const struct {
    const char* name;
    void (*arrange)(sim::SimMachine&);
  } cases[] = {
      {"no locator or connection", [](sim::SimMachine& m) { m.faults().FailAll(sim::SimOp::WmiCall); }},
      {"access denied", [](sim::SimMachine& m) { m.wmi().SetConnectResult(HResultOf(0x80041003u)); }},
      {"query refused", [](sim::SimMachine& m) { m.wmi().SetQueryResult(kWbemEInvalidQuery); }},
  };
  for (const auto& c : cases) {
    machine().faults().Reset();
    machine().wmi().SetConnectResult(0);
    machine().wmi().SetQueryResult(0);
    StartUpCom();
    c.arrange(machine());
    EXPECT_EQ(CheckManufacturer(), 0) << c.name;
    EXPECT_EQ(machine().com().calls(), std::vector<std::string>{"CoUninitialize"}) << c.name;
    EXPECT_EQ(machine().com().CurrentApartment(), sim::Apartment::None) << c.name;
    ExpectNothingHeld();
  }
}

TEST_F(SystemChecksTest, ManufacturerNeedsComOnTheThread) {
  // Without start-up's COM there is no WMI at all: the gate must fail closed.
  EXPECT_EQ(CheckManufacturer(), 0);
  StartUpCom();
  EXPECT_EQ(CheckManufacturer(), 1);
  // Success leaves COM as it was.
  EXPECT_EQ(machine().com().calls(), std::vector<std::string>{});
  EXPECT_EQ(machine().com().CurrentCount(), 1);
}

TEST_F(SystemChecksTest, ProtectionFoldsOverEveryVolume) {
  const int F = -1;  // GetProtectionStatus fails for this volume
  const struct {
    std::vector<int> volumes;
    int expected;
  } cases[] = {
      {{}, 0},
      {{0}, 0},
      {{1}, 1},
      {{2}, 1},
      {{3}, 0},
      {{0, 0, 0}, 0},
      {{1, 0}, 1},
      {{0, 2, 0}, 1},
      {{0, 0, 1}, 1},
      {{F}, 0},
      {{0, F}, 0},
      {{F, 1}, 0},  // the check ends at the failing volume
      // Once a volume reported protection the answer stays yes, whatever fails later.
      {{1, F}, 1},
      {{2, F, 0}, 1},
      {{0, 1, F}, 1},
  };
  for (const auto& c : cases) {
    StartUpCom();
    std::vector<sim::SimEncryptableVolume> volumes;
    for (std::size_t i = 0; i < c.volumes.size(); ++i) {
      volumes.push_back({L"\\\\?\\Volume{0000000" + std::to_wstring(i) + L"-1111-2222-3333-444455556666}\\",
                         c.volumes[i] == F ? 0 : c.volumes[i], c.volumes[i] == F});
    }
    machine().wmi().SetEncryptableVolumes(volumes);
    std::string name;
    for (int v : c.volumes) name += v == F ? "F " : std::to_string(v) + " ";
    EXPECT_EQ(IsVolumeProtected(), c.expected) << name;
    ExpectNothingHeld();
    // Start the next case from start-up's state again.
    while (machine().com().CurrentCount() > 0) machine().com().Uninitialize();
  }
}

TEST_F(SystemChecksTest, ProtectionAsksEachVolumeByItsQuotedDeviceId) {
  StartUpCom();
  machine().wmi().SetEncryptableVolumes({
      {L"\\\\?\\Volume{aaaaaaaa-0000-0000-0000-000000000001}\\", 0, false},
      {L"\\\\?\\Volume{bbbbbbbb-0000-0000-0000-000000000002}\\", 0, false},
  });
  EXPECT_EQ(IsVolumeProtected(), 0);
  EXPECT_EQ(machine().wmi().connects(), std::vector<std::wstring>{kBitLockerNs});
  EXPECT_EQ(machine().wmi().queries(), std::vector<std::wstring>{L"SELECT * FROM Win32_EncryptableVolume"});
  auto calls = machine().wmi().methodCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].objectPath,
            L"Win32_EncryptableVolume.DeviceID='\\\\?\\Volume{aaaaaaaa-0000-0000-0000-000000000001}\\'");
  EXPECT_EQ(calls[1].objectPath,
            L"Win32_EncryptableVolume.DeviceID='\\\\?\\Volume{bbbbbbbb-0000-0000-0000-000000000002}\\'");
  EXPECT_EQ(calls[0].method, L"GetProtectionStatus");
  EXPECT_EQ(calls[0].result, kSOk);
}

TEST_F(SystemChecksTest, OddDeviceIdsAreSafe) {
  // Too short to cut four characters from, or too long for the path buffer:
  // no volume of that name can be asked, and nothing runs past a buffer.
  const struct {
    std::wstring id;
    int status;
    int expected;
  } cases[] = {
      {L"", 1, 0},
      {L"\\\\?", 1, 0},
      {std::wstring(400, L'v'), 1, 0},
      {L"\\\\?\\" + std::wstring(200, L'v') + L"\\", 1, 1},  // path of 240 characters still fits
  };
  for (const auto& c : cases) {
    StartUpCom();
    machine().wmi().SetEncryptableVolumes({{c.id, c.status, false}});
    EXPECT_EQ(IsVolumeProtected(), c.expected) << c.id.size();
    ExpectNothingHeld();
    while (machine().com().CurrentCount() > 0) machine().com().Uninitialize();
  }
}

TEST_F(SystemChecksTest, ProtectionInitialisesComOnlyWithoutStartUp) {
  machine().wmi().AddEncryptableVolume(1);
  // g_comReady 0: the check joins the multithreaded apartment and sets security itself.
  EXPECT_EQ(IsVolumeProtected(), 1);
  EXPECT_EQ(machine().com().calls(), (std::vector<std::string>{"CoInitializeEx(MULTITHREADED) = 0x00000000",
                                                               "CoInitializeSecurity(0,3) = 0x00000000"}));
  EXPECT_EQ(machine().com().CurrentApartment(), sim::Apartment::Multithreaded);

  // g_comReady 1: nothing of its own, and COM stays as it is on success.
  machine().com().ClearCalls();
  g_comReady = 1;
  EXPECT_EQ(IsVolumeProtected(), 1);
  EXPECT_EQ(machine().com().calls(), std::vector<std::string>{});
}

TEST_F(SystemChecksTest, ProtectionFailuresFoldIntoNo) {
  const struct {
    const char* name;
    void (*arrange)(sim::SimMachine&);
    std::vector<std::string> com;
  } cases[] = {
      {"CoInitializeEx fails",
       [](sim::SimMachine& m) { m.faults().FailNth(1); },
       {"CoInitializeEx(MULTITHREADED) = 0x8007000E"}},
      {"CoInitializeSecurity fails",
       [](sim::SimMachine& m) { m.faults().FailNth(2); },
       {"CoInitializeEx(MULTITHREADED) = 0x00000000", "CoInitializeSecurity(0,3) = 0x80004005",
        "CoUninitialize"}},
      // Windows without BitLocker has no such namespace (and neither has Wine).
      {"no BitLocker namespace",
       [](sim::SimMachine& m) { m.wmi().SetBitLockerNamespace(false); },
       {"CoInitializeEx(MULTITHREADED) = 0x00000000", "CoInitializeSecurity(0,3) = 0x00000000",
        "CoUninitialize"}},
      {"query refused",
       [](sim::SimMachine& m) { m.wmi().SetQueryResult(kWbemEFailed); },
       {"CoInitializeEx(MULTITHREADED) = 0x00000000", "CoInitializeSecurity(0,3) = 0x00000000",
        "CoUninitialize"}},
  };
  for (const auto& c : cases) {
    sim::SimMachine fresh(root());
    fresh.Install();
    fresh.wmi().AddEncryptableVolume(1);
    c.arrange(fresh);
    EXPECT_EQ(IsVolumeProtected(), 0) << c.name;
    EXPECT_EQ(fresh.com().calls(), c.com) << c.name;
    EXPECT_EQ(fresh.com().CurrentApartment(), sim::Apartment::None) << c.name;
    EXPECT_EQ(fresh.handles().OpenCount(), 0u) << c.name;
  }
  machine().Install();
}

TEST_F(SystemChecksTest, ProtectionOnTheWorkerThreadUsesStartUpsApartment) {
  StartUpCom();
  machine().wmi().AddEncryptableVolume(0);
  machine().wmi().AddEncryptableVolume(2);
  machine().ui().SetSynchronousThreads(false);
  static int answer = -1;
  Handle thread = nullptr;
  ASSERT_TRUE(machine().ui().StartThread(
      [](void*) -> std::uint32_t {
        answer = IsVolumeProtected();
        return 0;
      },
      nullptr, &thread));
  machine().ui().JoinThreads();
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(machine().com().calls(), std::vector<std::string>{});
  ExpectNothingHeld();
}

}  // namespace
}  // namespace tavu::test
