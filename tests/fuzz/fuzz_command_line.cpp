// The launcher's command line, any units and any length, run through the
// whole start-up on a simulated machine. The mode it takes and the switch
// flags it sets are checked against a reading of the line made here: the
// first 259 characters, a-z upper-cased, nothing else touched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "launcher/startup/globals.h"
#include "launcher/startup/launcher_main.h"
#include "sim/core/machine.h"
#include "tests/fuzz/fuzz_text.h"

namespace {

const wchar_t kLauncherPath[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe";

// One host folder for C: with the launcher and its firmware-mode tool.
const std::string& Root() {
  static const std::string root = [] {
    char pattern[] = "/tmp/tavu-fuzz-line-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    std::string dir = made;
    std::string folder = dir + "/Program Files/TAVU/TAVU Recovery Launcher";
    std::filesystem::create_directories(folder);
    for (const char* name : {"/TAVU Recovery.exe", "/FwMode.exe"}) std::ofstream(folder + name) << "MZ";
    return dir;
  }();
  return root;
}

std::wstring ExpectedLine(const std::wstring& given) {
  std::wstring line = given.substr(0, given.find(L'\0')).substr(0, 259);
  for (wchar_t& c : line) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring given = tavu::fuzz::WideFromFuzz(data, size);
  tavu::g_debugSwitch = 0;
  tavu::g_logSwitch = 0;
  tavu::g_comReady = 0;
  tavu::g_firmwareDevice = nullptr;
  auto m = std::make_unique<tavu::sim::SimMachine>(Root());
  m->system().SetModulePath(kLauncherPath);
  m->ui().SetSynchronousThreads(true);
  m->Install();
  // An exact-size copy, so that reading past the terminator is caught.
  std::unique_ptr<wchar_t[]> copy(new wchar_t[given.size() + 1]);
  given.copy(copy.get(), given.size());
  copy[given.size()] = L'\0';
  const int exit = tavu::LauncherMain(m->startup(), reinterpret_cast<void*>(0x400000), copy.get(), 10);

  const std::wstring line = ExpectedLine(given);
  if (exit != 0) __builtin_trap();
  if (tavu::g_debugSwitch != (line.find(L"/DEBUG") != std::wstring::npos ? 1 : 0)) __builtin_trap();
  if (tavu::g_logSwitch != (line.find(L"/LOG") != std::wstring::npos ? 1 : 0)) __builtin_trap();
  if (std::wstring(copy.get()) != given.substr(0, given.find(L'\0'))) __builtin_trap();  // read, never written

  const auto tool = m->processes().LaunchesOf(L"FwMode.exe");
  const bool window = !m->startup().windowModeCalls().empty();
  const bool firmware = !m->firmware().opens().empty();
  if (line == L"/AUTO") {
    // The window opens only when the firmware offers the recovery.
    if (!firmware || !tool.empty()) __builtin_trap();
  } else if (line == L"/CHECK" || line == L"/DISABLE" || line == L"/ENABLE") {
    if (tool.size() != 1 || window || firmware) __builtin_trap();
    if (tool[0].parameters.rfind(line == L"/ENABLE" ? L"/enable" : L"/disable", 0) != 0) __builtin_trap();
  } else {
    if (!window || firmware || !tool.empty()) __builtin_trap();
  }
  if (!m->ui().messageBoxes().empty()) __builtin_trap();
  tavu::SetPlatform(tavu::Platform{});
  return 0;
}
