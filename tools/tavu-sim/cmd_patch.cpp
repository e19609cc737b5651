// tavu-sim patch: the patcher's whole pass on the simulated machine.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/disk_api.h"
#include "common/win_records.h"
#include "patcher/fix_downgrade.h"
#include "sim/sim_paths.h"
#include "sim/sim_resources.h"
#include "tools/tavu-sim/json_writer.h"
#include "tools/tavu-sim/sim_session.h"

namespace tavu::tool {

namespace {

// Watches the layout writes on the way to the simulated disks. The pass writes
// once per basic-data entry in table order, so the k-th write on a disk
// belongs to the k-th basic-data entry of the layout it writes.
class LayoutWriteRecorder : public DiskApi {
 public:
  explicit LayoutWriteRecorder(DiskApi& inner) : inner_(inner) {}

  struct Write {
    int disk;
    std::uint32_t index;  // 1-based table position
    bool ok;
  };
  std::vector<Write> writes;

  Handle OpenDisk(const wchar_t* deviceName, bool write) override {
    Handle h = inner_.OpenDisk(deviceName, write);
    if (IsValidHandle(h)) {
      std::size_t len = std::wcslen(deviceName);
      open_.push_back({h, len > 0 ? static_cast<int>(deviceName[len - 1] - L'0') : -1, 0});
    }
    return h;
  }
  bool GetGeometry(Handle disk, DISK_GEOMETRY* geometry) override { return inner_.GetGeometry(disk, geometry); }
  bool GetLayout(Handle disk, void* buffer, std::uint32_t size) override {
    return inner_.GetLayout(disk, buffer, size);
  }
  bool SetLayout(Handle disk, const void* buffer, std::uint32_t size) override {
    bool ok = inner_.SetLayout(disk, buffer, size);
    for (OpenDiskInfo& d : open_) {
      if (d.handle != disk) continue;
      writes.push_back({d.number, NthBasicData(buffer, size, ++d.writes), ok});
    }
    return ok;
  }
  bool QueryProperty(Handle disk, const STORAGE_PROPERTY_QUERY* query, void* answer,
                     std::uint32_t answerSize) override {
    return inner_.QueryProperty(disk, query, answer, answerSize);
  }
  bool ReadAt(Handle disk, std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t* read) override {
    return inner_.ReadAt(disk, offset, buffer, size, read);
  }

 private:
  struct OpenDiskInfo {
    Handle handle;
    int number;
    std::uint32_t writes;
  };
  static std::uint32_t NthBasicData(const void* buffer, std::uint32_t size, std::uint32_t n) {
    if (size < kDriveLayoutHeaderSize) return 0;
    const auto* layout = static_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer);
    std::uint32_t fits = static_cast<std::uint32_t>((size - kDriveLayoutHeaderSize) / sizeof(PARTITION_INFORMATION_EX));
    std::uint32_t count = layout->PartitionCount < fits ? layout->PartitionCount : fits;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (std::memcmp(&layout->PartitionEntry[i].Gpt.PartitionType, kBasicDataGuidBytes, 16) == 0 && --n == 0) {
        return i + 1;
      }
    }
    return 0;
  }
  DiskApi& inner_;
  std::vector<OpenDiskInfo> open_;
};

std::string Narrow(const std::wstring& w) { return sim::Narrow(w); }

std::string GuidText(const Guid& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

// The log lines of this run: the file's text after what it held before,
// without time stamps and line ends.
std::vector<std::string> NewLogLines(const std::string& before, const std::string& after) {
  std::vector<std::string> lines;
  std::size_t start = after.compare(0, before.size(), before) == 0 ? before.size() : 0;
  if (start == 0 && after.size() >= 2) start = 2;  // byte-order mark of a new file
  std::string text;
  for (std::size_t i = start; i + 1 < after.size(); i += 2) {
    std::uint32_t unit = static_cast<unsigned char>(after[i]) | (static_cast<unsigned char>(after[i + 1]) << 8);
    std::wstring one(1, static_cast<wchar_t>(unit));
    text += unit < 0x80 ? std::string(1, static_cast<char>(unit)) : Narrow(one);
  }
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    // "[yyyy/mm/dd hh:mm:ss]\t" is 22 characters.
    if (line.size() >= 22 && line[0] == '[' && line[20] == ']' && line[21] == '\t') line.erase(0, 22);
    lines.push_back(line);
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return lines;
}

std::string ReadAll(const std::string& hostPath) {
  std::vector<std::uint8_t> bytes;
  if (hostPath.empty() || !sim::ReadHostBytes(hostPath, &bytes)) return std::string();
  return std::string(bytes.begin(), bytes.end());
}

bool Exists(const std::string& hostPath) {
  std::vector<std::uint8_t> bytes;
  return !hostPath.empty() && sim::ReadHostBytes(hostPath, &bytes);
}

std::string DisksJson(sim::SimMachine& m) {
  std::string out = "[";
  bool first = true;
  for (int n = 0; n < m.disks().Count(); ++n) {
    if (m.disks().Kind(n) == sim::DiskKind::Absent) continue;
    sim::SimLayout layout = m.disks().Layout(n);
    const char* style = layout.style == PARTITION_STYLE_GPT   ? "GPT"
                        : layout.style == PARTITION_STYLE_MBR ? "MBR"
                                                              : "RAW";
    out += first ? "" : ", ";
    first = false;
    out += "{\"number\": " + std::to_string(n) + ", \"style\": \"" + style + "\", \"partitions\": [";
    bool firstPart = true;
    for (const PARTITION_INFORMATION_EX& e : layout.entries) {
      if (layout.style == PARTITION_STYLE_MBR && e.Mbr.PartitionType == 0) continue;
      out += firstPart ? "" : ", ";
      firstPart = false;
      char attributes[32];
      std::snprintf(attributes, sizeof attributes, "0x%016llX",
                    static_cast<unsigned long long>(layout.style == PARTITION_STYLE_GPT ? e.Gpt.Attributes : 0));
      char mbrType[8];
      std::snprintf(mbrType, sizeof mbrType, "0x%02X", e.Mbr.PartitionType);
      std::string type = layout.style == PARTITION_STYLE_GPT ? GuidText(e.Gpt.PartitionType) : mbrType;
      bool active = layout.style == PARTITION_STYLE_MBR && e.Mbr.BootIndicator != 0;
      wchar_t letter = m.volumes().VolumeOf(n, e.StartingOffset).letter;
      out += "{\"number\": " + std::to_string(e.PartitionNumber) + ", \"type\": " + JsonString(type) +
             ", \"active\": " + (active ? "true" : "false") + ", \"attributes\": \"" + attributes +
             "\", \"letter\": " + (letter != 0 ? JsonString(std::string(1, static_cast<char>(letter)) + ":") : "null") +
             "}";
    }
    out += "]}";
  }
  return out + "]";
}

}  // namespace

int CmdPatch(SimSession& session) {
  sim::SimMachine& m = *session.machine;
  const std::string logHost = m.HostPath(L"C:\\WIndows\\Temp\\TvPatchDowngrade.log");
  const std::string launcherHost = m.HostPath(L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe");
  const std::string logBefore = ReadAll(logHost);
  const bool launcherBefore = Exists(launcherHost);

  LayoutWriteRecorder recorder(*m.platform().disks);
  Platform p = m.platform();
  p.disks = &recorder;
  SetPlatform(p);
  patcher::FixDowngarde();
  m.Install();

  std::vector<std::string> log = NewLogLines(logBefore, ReadAll(m.HostPath(L"C:\\WIndows\\Temp\\TvPatchDowngrade.log")));
  bool copyDecided = false;
  for (const std::string& line : log) copyDecided |= line == "[FixDowngarde]\tFile version is older, copy file";
  const auto& carried = m.resources().carriedLauncher();
  std::string launcher = "absent";
  if (launcherBefore) {
    std::string now = ReadAll(launcherHost);
    bool isCarried = carried && now == std::string(carried->begin(), carried->end());
    launcher = copyDecided && isCarried ? "replaced" : "kept";
  }

  if (session.json) {
    std::string out = "{\"log\": [";
    for (std::size_t i = 0; i < log.size(); ++i) out += (i ? ", " : "") + JsonString(log[i]);
    out += "], \"layout_writes\": [";
    for (std::size_t i = 0; i < recorder.writes.size(); ++i) {
      const auto& w = recorder.writes[i];
      out += (i ? ", " : "") + std::string("{\"disk\": ") + std::to_string(w.disk) +
             ", \"index\": " + std::to_string(w.index) + ", \"ok\": " + (w.ok ? "true" : "false") + "}";
    }
    out += "], \"letters_assigned\": [";
    const auto& assigned = m.volumes().assignments();
    for (std::size_t i = 0; i < assigned.size(); ++i) {
      out += (i ? ", " : "") + std::string("{\"volume\": ") + JsonString(Narrow(assigned[i].volume)) +
             ", \"root\": " + JsonString(Narrow(assigned[i].root)) + "}";
    }
    out += "], \"launcher\": \"" + launcher + "\", \"carried_launcher\": ";
    out += carried ? std::to_string(carried->size()) : std::string("null");
    out += ", \"written_to_images\": " + std::string(session.write ? "true" : "false");
    out += ", \"disks\": " + DisksJson(m) + "}\n";
    std::fputs(out.c_str(), stdout);
    return 0;
  }

  std::printf("Patcher log (%zu lines):\n", log.size());
  for (const std::string& line : log) std::printf("  %s\n", line.c_str());
  std::printf("Layout writes:%s\n", recorder.writes.empty() ? " none" : "");
  for (const auto& w : recorder.writes) {
    std::printf("  disk %d, table position %u: %s\n", w.disk, w.index, w.ok ? "written" : "refused");
  }
  std::printf("Letters assigned:%s\n", m.volumes().assignments().empty() ? " none" : "");
  for (const auto& a : m.volumes().assignments()) {
    std::printf("  %s -> %s\n", Narrow(a.volume).c_str(), Narrow(a.root).c_str());
  }
  std::printf("Installed launcher: %s%s\n", launcher.c_str(),
              carried ? "" : " (no carried launcher: the patcher has nothing to write)");
  std::printf("Images %s.\n", session.write ? "written" : "unchanged (use --write to write the changes into them)");
  return 0;
}

}  // namespace tavu::tool
