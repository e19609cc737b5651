// Machine options that describe what Windows has besides its disks: the
// folders every Windows has, WMI's manufacturer and BitLocker volumes, the
// boot store's listing, where the launcher lies and whether the firmware-mode
// tool lies beside it; and what the owner's account set up for the programs it
// starts, and the folders that standard users may write.
#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "check/reagent_xml.h"
#include "check/windows_re.h"
#include "common/file_api.h"
#include "common/wide_text.h"
#include "sim/core/sddl.h"
#include "sim/formats/code_pages.h"
#include "sim/programs/windows_re.h"
#include "tools/tavu-sim/listing_input.h"
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
  if (!c.options.model.empty()) c.machine.wmi().SetModel(sim::Widen(c.options.model));
  if (!c.options.computer.empty()) c.machine.system().SetComputerName(sim::Widen(c.options.computer));
  unsigned build[3];
  if (ParseWindowsBuild(c.options.windowsBuild, build)) {
    c.machine.system().SetWindowsVersion(build[0], build[1], build[2]);
  }
  if (c.options.bitlockerGiven) {
    // The N-th value is the N-th lettered volume's, in letter order.
    std::vector<sim::SimVolumes::Info> lettered;
    for (const sim::SimVolumes::Info& v : c.machine.volumes().Volumes()) {
      if (v.letter != 0 && v.disk >= 0) lettered.push_back(v);
    }
    std::sort(
        lettered.begin(), lettered.end(),
        [](const sim::SimVolumes::Info& a, const sim::SimVolumes::Info& b) { return a.letter < b.letter; });
    std::vector<sim::SimEncryptableVolume> volumes;
    std::vector<std::wstring> letters;
    for (std::size_t i = 0; i < c.options.bitlocker.size(); ++i) {
      const std::string& item = c.options.bitlocker[i];
      sim::SimEncryptableVolume v;
      v.methodFails = item == "fail";
      v.status = v.methodFails ? 0 : item[0] - '0';
      if (i < lettered.size()) {
        v.deviceId = lettered[i].name;
        letters.push_back(std::wstring(1, lettered[i].letter) + L":");
      } else {
        wchar_t id[64];
        (void)std::swprintf(id, 64, L"\\\\?\\Volume{6c3f1e2a-0000-4000-8000-%012zx}\\", i + 1);
        v.deviceId = id;
        letters.push_back(i == 0 ? L"C:" : L"");
      }
      volumes.push_back(v);
    }
    c.machine.wmi().SetEncryptableVolumes(volumes);
    c.machine.wmi().SetEncryptableVolumeLetters(letters);
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
  std::wstring text = sim::DecodeCodePage(437, bytes.str());
  // Read as the plain listing it stands for; refused, as said, when it is none.
  if (const std::string problem = ReadGivenListing(&text); !problem.empty()) {
    std::fprintf(c.err, "tavu-sim: cannot read listing '%s': %s\n", c.options.bcdListing.c_str(),
                 problem.c_str());
    return 2;
  }
  c.machine.windowsTools().LoadListing(text);
  return 0;
}

// The file at path on the volume that stands for C: in the disk images, as
// the programs would reach it there; false when the images hold none.
bool ReadFromWindowsVolume(sim::SimMachine& machine, const std::wstring& path, std::string* bytes) {
  for (const sim::SimVolumes::Info& v : machine.volumes().Volumes()) {
    if (v.letter != L'C' || v.disk < 0) continue;
    const std::wstring full = L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume" + std::to_wstring(v.device) + path;
    FileApi& files = machine.files();
    Handle h = files.OpenFile(full.c_str(), FileAccess::Read, FileCreate::OpenExisting);
    if (h == kInvalidHandle) return false;
    char chunk[65536];
    std::uint32_t read = 0;
    bool ok = true;
    while ((ok = files.Read(h, chunk, sizeof(chunk), &read)) && read != 0) bytes->append(chunk, read);
    files.Close(h);
    return ok;
  }
  return false;
}

// A file the tool puts under the machine's folder for this run, unless one
// lies there already (that machine's own).
bool PlantFile(const std::string& host, const std::string& bytes, std::string* error) {
  std::error_code ec;
  if (std::filesystem::exists(host, ec)) return true;
  PlantedFiles::Current()->MakeFolders(std::filesystem::path(host).parent_path().string());
  std::ofstream out(host, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    *error = "cannot write '" + host + "'";
    return false;
  }
  PlantedFiles::Current()->Note(host);
  return true;
}

// The notebook's own Windows RE, as its disk holds it: its ReAgent.xml and
// the Winre.wim beside it stand for the machine's, and the listing made from
// the disks follows that ReAgent.xml (no recovery loader after reagentc
// /disable; the loader it names otherwise).
int SetUpImageWindowsRe(SimContext& c, const std::string& reagent) {
  check::ReAgentXml xml;
  const bool parsed =
      check::ParseReAgentXml(reinterpret_cast<const std::uint8_t*>(reagent.data()), reagent.size(), &xml);
  // --winre still shapes the listing, but never lists a loader that the
  // image's own ReAgent.xml says reagentc /disable removed.
  sim::WinReState state = sim::WinReState::Enabled;
  (void)sim::ParseWinReState(c.options.winre, &state);
  if (parsed && xml.installState == 0) state = sim::WinReState::Disabled;
  c.machine.windowsTools().SetWindowsRe(state);
  if (parsed && check::NamesEntry(xml)) c.machine.windowsTools().SetRecoveryEntryId(xml.bcdId);
  if (state == sim::WinReState::ImageMissing) {
    const sim::BcdMachineFacts facts = c.machine.windowsTools().FactsFromDisks();
    if (facts.recoveryDisk >= 0) {
      c.machine.files().HideOnVolume(facts.recoveryDisk, facts.recoveryOffset,
                                     L"\\Recovery\\WindowsRE\\Winre.wim");
    }
  }
  const std::string folder = c.machine.HostPath(L"C:\\Windows\\System32\\Recovery");
  std::string error;
  std::string image;
  if (!PlantFile(folder + "/ReAgent.xml", reagent, &error) ||
      (ReadFromWindowsVolume(c.machine, L"\\Windows\\System32\\Recovery\\Winre.wim", &image) &&
       !PlantFile(folder + "/Winre.wim", image, &error))) {
    std::fprintf(c.err, "tavu-sim: %s\n", error.c_str());
    return 2;
  }
  return 0;
}

// After the disks: Windows RE's files and ReAgent.xml follow the recovery
// partition, or the notebook's own where its disk holds them.
int SetUpWindowsRe(SimContext& c) {
  std::string own;
  if (c.options.reagent.empty() &&
      ReadFromWindowsVolume(c.machine, L"\\Windows\\System32\\Recovery\\ReAgent.xml", &own)) {
    return SetUpImageWindowsRe(c, own);
  }
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
