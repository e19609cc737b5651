#include "sim/programs/windows_tools.h"

#include <cstring>

#include "sim/core/text.h"

namespace tavu::sim {

namespace {

const std::uint8_t kEfiSystemGuidBytes[16] = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                                              0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};

bool TypeIs(const PARTITION_INFORMATION_EX& e, const std::uint8_t (&bytes)[16]) {
  return std::memcmp(&e.Gpt.PartitionType, bytes, 16) == 0;
}

std::wstring UpperFileName(const std::wstring& path) {
  std::size_t sep = path.find_last_of(L"\\/");
  return AsciiUpper(sep == std::wstring::npos ? path : path.substr(sep + 1));
}

constexpr wchar_t kNativeFolder[] = L"C:\\Windows\\System32";
constexpr wchar_t kWow64Folder[] = L"C:\\Windows\\SysWOW64";

}  // namespace

std::vector<SimLaunchReport> ReportLaunches(const std::vector<SimLaunch>& launches,
                                            const std::vector<SimScriptRun>& scriptRuns) {
  std::vector<SimLaunchReport> out;
  std::size_t next = 0;
  for (const SimLaunch& launch : launches) {
    SimLaunchReport r;
    r.launch = launch;
    std::wstring name = UpperFileName(launch.file);
    bool scripted = launch.started && (name == L"CMD.EXE" || name == L"DISKPART.EXE");
    if (scripted && next < scriptRuns.size()) {
      const SimScriptRun& run = scriptRuns[next++];
      r.hasScript = run.scriptRead;
      r.script = run.script;
    }
    out.push_back(std::move(r));
  }
  return out;
}

SimWindowsTools::SimWindowsTools(SimPaths& paths, SimDisks& disks, SimVolumes& volumes,
                                 SimProcesses& processes)
    : disks_(disks), volumes_(volumes), diskpart_(disks, volumes), programs_(paths, store_, diskpart_) {
  // The native tools in System32 and the 32-bit copies Windows keeps in
  // SysWOW64; bcdedit has no 32-bit copy, so a 32-bit command processor finds
  // none. A 32-bit program with redirection on that starts "System32\X" gets
  // SysWOW64's X, or ERROR_FILE_NOT_FOUND where there is none.
  programs_.SetProcesses(&processes);
  programs_.SetFaults(&disks.faults());
  for (const wchar_t* folder : {kNativeFolder, kWow64Folder}) {
    bool native = folder == kNativeFolder;
    std::wstring base = std::wstring(folder) + L"\\";
    processes.Register(base + L"cmd.exe", [this, native](const SimLaunch& launch) {
      store();
      return programs_.Cmd(launch.parameters, launch.directory, native, &launch.environment);
    });
    processes.Register(base + L"diskpart.exe", [this](const SimLaunch& launch) {
      return programs_.Diskpart(launch.parameters, launch.directory);
    });
    processes.Register(base + L"shutdown.exe",
                       [this](const SimLaunch& launch) { return programs_.Shutdown(launch.parameters); });
  }
}

void SimWindowsTools::SetLanguage(const SimLanguage& language) {
  language_ = &language;
  programs_.SetOemCodePage(language.oemCodePage);
}

void SimWindowsTools::LoadListing(const std::wstring& listing) {
  store_.Load(listing);
  loaded_ = true;
}

SimBcdStore& SimWindowsTools::store() {
  if (!loaded_) LoadListing(DefaultBcdListing(FactsFromDisks()));
  return store_;
}

BcdMachineFacts SimWindowsTools::FactsFromDisks() const {
  BcdMachineFacts facts;
  facts.language = language_;
  facts.winre = winre_;
  facts.recoveryEntryId = recoveryEntryId_;
  facts.uefi = false;
  facts.bootVolume = 1;
  facts.recoveryVolume = 0;
  std::vector<SimVolumes::Info> volumes = volumes_.Volumes();
  auto volumeNumber = [&](int disk, std::int64_t offset) {
    for (const SimVolumes::Info& v : volumes) {
      if (v.disk == disk && v.offset == offset) return v.device;
    }
    return 0;
  };
  bool seeded = false;
  for (int d = 0; d < disks_.Count(); ++d) {
    if (disks_.Kind(d) == DiskKind::Absent || disks_.Image(d) == nullptr) continue;
    SimLayout layout = disks_.Layout(d);
    if (!seeded) {
      // The identifiers follow the system disk, so one image always lists the same.
      facts.seed = layout.style == PARTITION_STYLE_GPT ? layout.gpt.DiskId.Data1 : layout.mbr.Signature;
      facts.uefi = layout.style == PARTITION_STYLE_GPT;
      seeded = true;
    }
    for (const PARTITION_INFORMATION_EX& e : layout.entries) {
      if (layout.style == PARTITION_STYLE_GPT && TypeIs(e, kEfiSystemGuidBytes) && d == 0) {
        facts.bootVolume = volumeNumber(d, e.StartingOffset);
      }
      if (layout.style == PARTITION_STYLE_MBR && e.Mbr.BootIndicator != 0 && d == 0) {
        facts.bootVolume = volumeNumber(d, e.StartingOffset);
      }
      if (layout.style == PARTITION_STYLE_GPT && TypeIs(e, kRecoveryGuidBytes) && facts.recoveryVolume == 0) {
        facts.recoveryVolume = volumeNumber(d, e.StartingOffset);
        if (facts.recoveryVolume != 0) {
          facts.recoveryDisk = d;
          facts.recoveryOffset = e.StartingOffset;
        }
      }
    }
  }
  if (facts.bootVolume == 0) facts.bootVolume = 1;
  return facts;
}

}  // namespace tavu::sim
