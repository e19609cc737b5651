// Machine options that describe what Windows has besides its disks: the
// folders every Windows has, WMI's manufacturer and BitLocker volumes, the
// boot store's listing, where the launcher lies and whether the firmware-mode
// tool lies beside it; and what the owner's account set up for the programs it
// starts, and the folders that standard users may write.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/wide_text.h"
#include "sim/core/sddl.h"
#include "sim/formats/code_pages.h"
#include "sim/programs/windows_re.h"
#include "tools/tavu-sim/sim_command.h"

namespace tavu::tool {

namespace {

int SetUpFolders(SimContext& c) {
  for (const wchar_t* folder : {L"C:\\Windows\\Temp", L"C:\\Windows\\System32"}) {
    PlantedFiles::Current()->MakeFolders(c.machine.HostPath(folder));
  }
  return 0;
}

int SetUpWmi(SimContext& c) {
  c.machine.wmi().SetManufacturer(sim::Widen(c.options.manufacturer));
  if (c.options.bitlockerGiven) {
    c.machine.wmi().SetEncryptableVolumes({});
    for (const std::string& item : c.options.bitlocker) {
      if (item == "fail") {
        c.machine.wmi().AddEncryptableVolume(0, true);
      } else {
        c.machine.wmi().AddEncryptableVolume(item[0] - '0');
      }
    }
  }
  return 0;
}

// The listing is what bcdedit printed after the launcher's CHCP 437, so its
// bytes are read in code page 437; on its way back out bcdedit writes them so.
int SetUpBootListing(SimContext& c) {
  if (c.options.bcdListing.empty()) return 0;
  std::error_code ec;
  if (std::filesystem::is_directory(c.options.bcdListing, ec)) {
    std::fprintf(c.err, "tavu-sim: cannot read listing '%s': is a directory\n", c.options.bcdListing.c_str());
    return 2;
  }
  std::ifstream in(c.options.bcdListing, std::ios::binary);
  if (!in) {
    std::fprintf(c.err, "tavu-sim: cannot read listing '%s': No such file or directory\n",
                 c.options.bcdListing.c_str());
    return 2;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  c.machine.windowsTools().LoadListing(sim::DecodeCodePage(437, bytes.str()));
  return 0;
}

// After the disks: Windows RE's files and ReAgent.xml follow the recovery partition.
int SetUpWindowsRe(SimContext& c) {
  sim::WinReState state = sim::WinReState::Enabled;
  (void)sim::ParseWinReState(c.options.winre, &state);
  std::string text;
  if (!c.options.reagent.empty()) {
    std::error_code ec;
    std::ifstream in(c.options.reagent, std::ios::binary);
    if (std::filesystem::is_directory(c.options.reagent, ec) || !in) {
      std::fprintf(c.err, "tavu-sim: cannot read ReAgent.xml '%s': %s\n", c.options.reagent.c_str(),
                   std::filesystem::is_directory(c.options.reagent, ec) ? "is a directory"
                                                                        : "No such file or directory");
      return 2;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    text = bytes.str();
  }
  // ReAgent.xml, and the image reagentc /disable moves, stand up the machine:
  // a caller's root gets them for this run only.
  const std::string folder = c.machine.HostPath(L"C:\\Windows\\System32\\Recovery");
  std::vector<std::string> made;
  for (const char* name : {"/ReAgent.xml", "/Winre.wim"}) {
    std::error_code ec;
    if (!std::filesystem::exists(folder + name, ec)) made.push_back(folder + name);
  }
  PlantedFiles::Current()->MakeFolders(folder);
  std::string error;
  const bool applied =
      sim::ApplyWindowsRe(c.machine, state, c.options.reagent.empty() ? nullptr : &text, &error);
  for (const std::string& file : made) {
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) PlantedFiles::Current()->Note(file);
  }
  if (!applied) {
    std::fprintf(c.err, "tavu-sim: %s\n", error.c_str());
    return 2;
  }
  return 0;
}

// Set before anything runs: the boot listing and the account names follow it.
int SetUpLanguage(SimContext& c) {
  c.machine.SetLanguage(*sim::FindSimLanguage(c.options.language));
  return 0;
}

int SetUpMounting(SimContext& c) {
  c.machine.volumes().SetArrivalMilliseconds(c.options.arrivalMs);
  c.machine.volumes().SetAutomount(c.options.automount);
  return 0;
}

int SetUpScannerAndLauncher(SimContext& c) {
  c.machine.files().SetScanner(c.options.scannerHoldMs);
  if (c.options.launcherRunning) {
    c.machine.files().SetRunning(
        c.machine.HostPath(L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe"));
  }
  return 0;
}

// What the owner's account set up before starting the elevated launcher.
int SetUpOwner(SimContext& c) {
  for (const auto& [name, value] : c.options.userEnv) {
    c.machine.processes().SetOwnerVariable(sim::Widen(name), sim::Widen(value));
  }
  c.machine.windowsTools().programs().SetAutoRun(sim::Widen(c.options.cmdAutoRun));
  return 0;
}

int SetUpFirmwareTool(SimContext& c) {
  if (!c.options.launcherPath.empty()) c.machine.system().SetModulePath(sim::Widen(c.options.launcherPath));
  c.machine.files().SetOwnerDefaultCreator(c.options.ownerDefaultCreator);
  for (const std::string& folder : c.options.userWritable)
    c.machine.files().AddUserWritable(sim::Widen(folder));
  for (const auto& [path, sddl] : c.options.acls) {
    sim::SimDescriptor descriptor;
    std::string error;
    // Checked when the options were read.
    if (sim::ParseSddl(sddl, &descriptor, &error)) c.machine.files().SetAcl(sim::Widen(path), descriptor);
  }
  for (const std::string& name : c.options.userMutexes) c.machine.startup().HoldMutex(sim::Widen(name));
  wchar_t directory[kPathChars];
  DirectoryOfPath(c.machine.system().modulePath().c_str(), directory, kPathChars);
  const std::string host = c.machine.HostPath(std::wstring(directory) + L"\\FwMode.exe");
  // Another drive than C: (a stick) holds no host files here.
  if (host.empty()) return 0;
  std::error_code ec;
  bool exists = std::filesystem::exists(host, ec);
  if (c.options.fwmodePresent && !exists) {
    PlantedFiles::Current()->MakeFolders(std::filesystem::path(host).parent_path().string());
    std::ofstream(host, std::ios::binary) << "MZ";
    PlantedFiles::Current()->Note(host);
  } else if (!c.options.fwmodePresent && exists) {
    // The folder is the user's: what lies there is not ours to remove.
    std::fprintf(c.err, "tavu-sim: --fwmode absent, but '%s' exists\n", host.c_str());
    return 2;
  }
  return 0;
}

const MachineSetup kFolders(SetUpFolders);
const MachineSetup kLanguage(SetUpLanguage);
const MachineSetup kMounting(SetUpMounting);
const MachineSetup kScannerAndLauncher(SetUpScannerAndLauncher);
const MachineSetup kWmi(SetUpWmi);
const MachineSetup kBootListing(SetUpBootListing);
const MachineSetup kWindowsRe(SetUpWindowsRe);
const MachineSetup kFirmwareTool(SetUpFirmwareTool);
const MachineSetup kOwner(SetUpOwner);

}  // namespace

}  // namespace tavu::tool
