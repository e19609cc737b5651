#include "sim/programs/windows_re.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/file_api.h"
#include "sim/core/machine.h"
#include "sim/images/recovery_volume.h"

namespace tavu::sim {

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kRecoveryFolder[] = L"C:\\Windows\\System32\\Recovery";
constexpr char kZeroGuid[] = "{00000000-0000-0000-0000-000000000000}";

std::string GuidText(const Guid& g) {
  char text[48];
  (void)std::snprintf(text, sizeof(text), "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.Data1,
                      g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                      g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool WriteHostFile(const std::string& host, const std::string& bytes, std::string* error) {
  std::error_code ec;
  fs::create_directories(fs::path(host).parent_path(), ec);
  std::ofstream out(host, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    if (error != nullptr) *error = "cannot write '" + host + "'";
    return false;
  }
  return true;
}

// The image as the recovery partition holds it; reagentc moves exactly that file.
std::string ImageOnPartition(SimMachine& machine, int device) {
  const std::wstring path = L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume" + std::to_wstring(device) +
                            L"\\Recovery\\WindowsRE\\Winre.wim";
  FileApi& files = machine.files();
  Handle h = files.OpenFile(path.c_str(), FileAccess::Read, FileCreate::OpenExisting);
  std::string bytes;
  if (h == kInvalidHandle) return bytes;
  char chunk[65536];
  std::uint32_t read = 0;
  while (files.Read(h, chunk, sizeof(chunk), &read) && read != 0) bytes.append(chunk, read);
  files.Close(h);
  return bytes;
}

}  // namespace

bool ParseWinReState(const std::string& text, WinReState* state) {
  static const struct {
    const char* name;
    WinReState state;
  } kStates[] = {{"enabled", WinReState::Enabled},
                 {"disabled", WinReState::Disabled},
                 {"image-missing", WinReState::ImageMissing},
                 {"orphan", WinReState::Orphan}};
  for (const auto& s : kStates) {
    if (text == s.name) {
      *state = s.state;
      return true;
    }
  }
  return false;
}

std::string ReAgentXml(const BcdMachineFacts& facts, const std::wstring& diskGuid,
                       std::uint32_t mbrSignature) {
  const bool enabled = facts.winre != WinReState::Disabled;
  std::string loader = kZeroGuid;
  std::string location = "path=\"\" id=\"0\" offset=\"0\" guid=\"" + std::string(kZeroGuid) + "\"";
  if (enabled) {
    loader = Narrow(DefaultRecoveryEntryId(facts));
    const std::string id = diskGuid.empty() ? std::to_string(mbrSignature) : "0";
    const std::string guid = diskGuid.empty() ? kZeroGuid : Narrow(diskGuid);
    location = "path=\"\\Recovery\\WindowsRE\" id=\"" + id + "\" offset=\"" +
               std::to_string(facts.recoveryOffset) + "\" guid=\"" + guid + "\"";
  }
  const std::string zeroLocation = "path=\"\" id=\"0\" offset=\"0\" guid=\"" + std::string(kZeroGuid) + "\"";
  std::string xml = "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8' standalone='yes'?>\r\n";
  xml += "<WindowsRE version=\"2.0\">\r\n";
  xml += "  <WinreBCD id=\"" + loader + "\"/>\r\n";
  xml += "  <WinreLocation " + location + "/>\r\n";
  xml += "  <ImageLocation " + zeroLocation + "/>\r\n";
  xml += "  <PBRImageLocation " + zeroLocation + " index=\"0\"/>\r\n";
  xml += "  <PBRCustomImageLocation " + zeroLocation + " index=\"0\"/>\r\n";
  xml += "  <DownlevelWinreLocation " + zeroLocation + "/>\r\n";
  xml += std::string("  <InstallState state=\"") + (enabled ? "1" : "0") + "\"/>\r\n";
  xml += "  <OsInstallAvailable state=\"0\"/>\r\n";
  xml += "  <CustomImageAvailable state=\"0\"/>\r\n";
  xml += "  <IsAutoRepairOn state=\"1\"/>\r\n";
  xml += "  <WinREStaged state=\"0\"/>\r\n";
  xml += "  <OperationParam path=\"\"/>\r\n";
  xml += "  <OsBuildVersion path=\"22621.1.amd64fre.ni_release.220506-1250\"/>\r\n";
  xml += "  <OemTool state=\"0\"/>\r\n";
  xml += "  <IsServer state=\"0\"/>\r\n";
  xml += "  <IsWimBoot state=\"0\"/>\r\n";
  xml += "  <ScheduledOperation state=\"4\"/>\r\n";
  xml += "</WindowsRE>\r\n";
  return xml;
}

bool ApplyWindowsRe(SimMachine& machine, WinReState state, const std::string* reagentText,
                    std::string* error) {
  machine.windowsTools().SetWindowsRe(state);
  const BcdMachineFacts facts = machine.windowsTools().FactsFromDisks();
  const bool gpt = facts.recoveryDisk >= 0 && facts.uefi;
  const std::string folder = machine.HostPath(kRecoveryFolder);
  const std::string reagent = folder + "/ReAgent.xml";
  std::error_code ec;
  // What lies under the machine's folder already is that machine's own.
  const bool present = fs::exists(reagent, ec);
  if (!present && reagentText != nullptr && !WriteHostFile(reagent, *reagentText, error)) return false;
  if (!present && reagentText == nullptr && gpt) {
    const SimLayout layout = machine.disks().Layout(facts.recoveryDisk);
    const std::string xml = ReAgentXml(facts, Widen(GuidText(layout.gpt.DiskId)), 0);
    if (!WriteHostFile(reagent, xml, error)) return false;
  }
  if (facts.recoveryDisk < 0) return true;
  if (state == WinReState::ImageMissing) {
    machine.files().HideOnVolume(facts.recoveryDisk, facts.recoveryOffset,
                                 L"\\Recovery\\WindowsRE\\Winre.wim");
  }
  if (state == WinReState::Disabled) {
    const std::string moved = folder + "/Winre.wim";
    if (!fs::exists(moved, ec)) {
      std::string image = ImageOnPartition(machine, facts.recoveryVolume);
      if (image.empty()) image.assign(images::SmallWinreWim().begin(), images::SmallWinreWim().end());
      if (!WriteHostFile(moved, image, error)) return false;
    }
    machine.files().HideOnVolume(facts.recoveryDisk, facts.recoveryOffset, L"\\Recovery\\WindowsRE");
  }
  return true;
}

}  // namespace tavu::sim
