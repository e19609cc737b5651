// Machine options that describe what Windows has besides its disks: the
// folders every Windows has, WMI's manufacturer and BitLocker volumes, the
// boot store's listing, where the launcher lies and whether the firmware-mode
// tool lies beside it; and what the owner's account set up for the programs it
// starts, and the folders that standard users may write.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/wide_text.h"
#include "sim/formats/code_pages.h"
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
  for (const std::string& folder : c.options.userWritable)
    c.machine.files().AddUserWritable(sim::Widen(folder));
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
const MachineSetup kFirmwareTool(SetUpFirmwareTool);
const MachineSetup kOwner(SetUpOwner);

}  // namespace

}  // namespace tavu::tool
