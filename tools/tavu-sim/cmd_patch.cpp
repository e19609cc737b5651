// tavu-sim patch: the patcher's whole pass on the simulated machine.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/disk_api.h"
#include "common/win_records.h"
#include "patcher/fix_downgrade.h"
#include "sim/core/paths.h"
#include "sim/core/text.h"
#include "sim/seam/resources.h"
#include "tools/tavu-sim/command_runs.h"
#include "tools/tavu-sim/json.h"
#include "tools/tavu-sim/machine_view.h"
#include "tools/tavu-sim/sim_command.h"

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
    std::uint32_t index;  // the partition number: its 1-based place in the table
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
  bool GetGeometry(Handle disk, DISK_GEOMETRY* geometry) override {
    return inner_.GetGeometry(disk, geometry);
  }
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
  bool ReadAt(Handle disk, std::uint64_t offset, void* buffer, std::uint32_t size,
              std::uint32_t* read) override {
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
    std::uint32_t fits =
        static_cast<std::uint32_t>((size - kDriveLayoutHeaderSize) / sizeof(PARTITION_INFORMATION_EX));
    std::uint32_t count = layout->PartitionCount < fits ? layout->PartitionCount : fits;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (std::memcmp(&layout->PartitionEntry[i].Gpt.PartitionType, kBasicDataGuidBytes, 16) == 0 &&
          --n == 0) {
        return i + 1;
      }
    }
    return 0;
  }
  DiskApi& inner_;
  std::vector<OpenDiskInfo> open_;
};

std::string Narrow(const std::wstring& w) { return ToUtf8(w); }

// The log lines of this run: the file's text after what it held before,
// without time stamps and line ends.
std::vector<std::string> NewLogLines(const std::string& before, const std::string& after) {
  std::vector<std::string> lines;
  std::size_t start = after.compare(0, before.size(), before) == 0 ? before.size() : 0;
  if (start == 0 && after.size() >= 2) start = 2;  // byte-order mark of a new file
  std::string text;
  for (std::size_t i = start; i + 1 < after.size(); i += 2) {
    std::uint32_t unit =
        static_cast<unsigned char>(after[i]) | (static_cast<unsigned char>(after[i + 1]) << 8);
    std::wstring one(1, static_cast<wchar_t>(unit));
    text += unit < 0x80 ? std::string(1, static_cast<char>(unit)) : Narrow(one);
  }
  for (std::string line : sim::CrLfLines(text)) {
    // "[yyyy/mm/dd hh:mm:ss]\t" is 22 characters.
    if (line.size() >= 22 && line[0] == '[' && line[20] == ']' && line[21] == '\t') line.erase(0, 22);
    lines.push_back(line);
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

// The carried launcher: the file given with --carried-launcher, else the
// launcher of this build; without either the patcher carries nothing.
int LoadCarriedLauncher(SimContext& context) {
  sim::SimResources& resources = context.machine.resources();
  if (context.options.carriedLauncher.empty()) {
    resources.SetCarriedLauncherFile(TAVU_DEFAULT_CARRIED_LAUNCHER);
    return 0;
  }
  if (!resources.SetCarriedLauncherFile(context.options.carriedLauncher)) {
    std::fprintf(context.err, "tavu-sim: cannot read carried launcher '%s'\n",
                 context.options.carriedLauncher.c_str());
    return 2;
  }
  return 0;
}

}  // namespace

PatchRun Patch(sim::SimMachine& m) {
  const std::string logHost = m.HostPath(L"C:\\WIndows\\Temp\\TvPatchDowngrade.log");
  const std::string launcherHost =
      m.HostPath(L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe");
  const std::string logBefore = ReadAll(logHost);
  const bool launcherBefore = Exists(launcherHost);

  const std::uint64_t start = m.system().elapsedMilliseconds();
  const std::size_t assignmentsBefore = m.volumes().assignments().size();
  LayoutWriteRecorder recorder(*m.platform().disks);
  Platform p = m.platform();
  p.disks = &recorder;
  SetPlatform(p);
  patcher::FixDowngarde();
  m.Install();
  // What a power cut left is looked at with the power back on.
  m.faults().PowerOn();
  const std::uint64_t programEnd = m.system().elapsedMilliseconds();
  m.Settle();

  PatchRun run;
  run.programEndMs = programEnd;
  run.log = NewLogLines(logBefore, ReadAll(logHost));
  bool copyDecided = false;
  for (const std::string& line : run.log)
    copyDecided |= line == "[FixDowngarde]\tFile version is older, copy file";
  const auto& carried = m.resources().carriedLauncher();
  run.carried = carried.has_value();
  run.carriedBytes = carried ? carried->size() : 0;
  run.launcher = "absent";
  if (launcherBefore) {
    std::string now = ReadAll(launcherHost);
    bool isCarried = carried && now == std::string(carried->begin(), carried->end());
    run.launcher = copyDecided && isCarried ? "replaced" : "kept";
    // The complete new file waits beside the running one for the restart.
    const wchar_t* installed = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe";
    const wchar_t* beside = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe.new";
    const std::string besideNow = ReadAll(m.HostPath(beside));
    if (!isCarried && carried && m.files().MovePendingAtRestart(beside, installed) &&
        besideNow == std::string(carried->begin(), carried->end())) {
      run.launcher = "at restart";
    }
  }
  run.pendingRenames = m.files().restartMoves();
  run.boxes = m.ui().messageBoxes();
  for (const auto& w : recorder.writes) run.layoutWrites.push_back({w.disk, w.index, w.ok});
  const auto& assignments = m.volumes().assignments();
  run.lettersAssigned.assign(
      assignments.begin() + static_cast<std::ptrdiff_t>(std::min(assignmentsBefore, assignments.size())),
      assignments.end());
  for (const sim::SimVolumes::Arrival& a : m.volumes().arrivals()) {
    if (a.at - a.afterMilliseconds >= start) run.arrivals.push_back(a);
  }
  return run;
}

void WritePatchJson(JsonWriter& json, sim::SimMachine& m, const PatchRun& run, bool writtenToImages) {
  json.BeginObject();
  json.Key("log").BeginArray();
  for (const std::string& line : run.log) json.String(line);
  json.EndArray();
  json.Key("layout_writes").BeginArray();
  for (const auto& w : run.layoutWrites) {
    json.BeginObject().Key("disk").Int(w.disk).Key("index").Int(w.index).Key("ok").Bool(w.ok).EndObject();
  }
  json.EndArray();
  json.Key("letters_assigned").BeginArray();
  for (const auto& a : run.lettersAssigned) {
    json.BeginObject().Key("volume").WString(a.volume).Key("root").WString(a.root).EndObject();
  }
  json.EndArray();
  json.Key("launcher").String(run.launcher);
  json.Key("pending_renames").BeginArray();
  for (const auto& move : run.pendingRenames) {
    json.BeginObject().Key("from").WString(move.from).Key("to");
    if (move.to.empty()) {
      json.Null();
    } else {
      json.WString(move.to);
    }
    json.EndObject();
  }
  json.EndArray();
  json.Key("message_boxes").BeginArray();
  for (const sim::SimMessageBox& box : run.boxes) {
    json.BeginObject().Key("title").WString(box.caption).Key("text").WString(box.text).EndObject();
  }
  json.EndArray();
  json.Key("carried_launcher_bytes");
  if (run.carried) {
    json.Int(static_cast<std::int64_t>(run.carriedBytes));
  } else {
    json.Null();
  }
  json.Key("written_to_images").Bool(writtenToImages);
  WriteArrivalsJson(json, m, run.arrivals);
  WritePowerJson(json, m);
  json.Key("disks");
  WriteDisksJson(json, m);
  json.EndObject();
}

namespace {

int RunPatch(SimContext& context) {
  sim::SimMachine& m = context.machine;
  const PatchRun run = Patch(m);
  if (context.options.json) {
    JsonWriter json;
    WritePatchJson(json, m, run, context.options.write);
    std::fprintf(context.out, "%s\n", json.text().c_str());
    return 0;
  }

  std::FILE* out = context.out;
  std::fprintf(out, "Patcher log (%zu lines):\n", run.log.size());
  for (const std::string& line : run.log) std::fprintf(out, "  %s\n", line.c_str());
  std::fprintf(out, "Layout writes:%s\n", run.layoutWrites.empty() ? " none" : "");
  for (const auto& w : run.layoutWrites) {
    std::fprintf(out, "  disk %d, partition %u: %s\n", w.disk, w.index, w.ok ? "written" : "refused");
  }
  std::fprintf(out, "Letters assigned:%s\n", run.lettersAssigned.empty() ? " none" : "");
  for (const auto& a : run.lettersAssigned) {
    std::fprintf(out, "  %s -> %s\n", Narrow(a.volume).c_str(), Narrow(a.root).c_str());
  }
  std::fprintf(out, "Installed launcher: %s%s\n", run.launcher.c_str(),
               run.carried ? "" : " (no carried launcher: the patcher has nothing to write)");
  if (!run.pendingRenames.empty()) {
    std::fprintf(out, "Left for the next restart (the file is in use), Windows will move:\n");
    for (const auto& move : run.pendingRenames) {
      if (move.to.empty()) {
        std::fprintf(out, "  %s -> (deleted)\n", Narrow(move.from).c_str());
      } else {
        std::fprintf(out, "  %s -> %s\n", Narrow(move.from).c_str(), Narrow(move.to).c_str());
      }
    }
  }
  PrintArrivals(out, m, run.arrivals, run.programEndMs);
  PrintPower(out, m);
  std::fprintf(out, "Images %s.\n",
               context.options.write ? "written" : "unchanged (use --write to write the changes into them)");
  PrintDisks(out, m);
  return 0;
}

}  // namespace

const MachineSetup kCarriedLauncher(LoadCarriedLauncher);
const SimCommand kPatch("patch", RunPatch);

}  // namespace tavu::tool
