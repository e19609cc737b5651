// tavu-sim demo: a notebook made on the spot (disk images built in code in a
// temporary folder, an older launcher installed), then locate, arm and patch
// on it in turn, as a report a support engineer reads in one screen.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "launcher/arming/partition_locator.h"
#include "sim/core/text.h"
#include "sim/formats/pe_version.h"
#include "sim/images/disk_builders.h"
#include "sim/images/pe_builder.h"
#include "sim/images/recovery_volume.h"
#include "sim/images/version_block.h"
#include "sim/programs/windows_re.h"
#include "tools/tavu-sim/command_runs.h"
#include "tools/tavu-sim/json.h"
#include "tools/tavu-sim/machine_view.h"
#include "tools/tavu-sim/sim_command.h"

namespace tavu::tool {

namespace {

using images::Bytes;
using images::kSector;

const wchar_t kInstalledLauncher[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe";

// One partition of a demo disk, as built.
struct DemoPartition {
  int disk;
  std::uint32_t number;  // table position, from 1
  const char* role;
  const char* fileSystem;  // "" for none
  const char* label;
  std::uint64_t firstLba;
  std::uint64_t sectors;
  std::uint64_t attributes;  // GPT only
  std::uint8_t mbrType;      // MBR only
};

// Both machines: disk 0 is the notebook's own disk, disk 1 a USB stick that
// the patcher must leave alone.
const DemoPartition kGptMachine[] = {
    {0, 1, "EFI system", "FAT32", "SYSTEM", 2048, 16384, 0, 0},
    {0, 2, "Microsoft reserved", "", "", 18432, 8192, 0, 0},
    {0, 3, "basic data (Windows)", "NTFS", "Windows", 26624, 49152, 0, 0},
    // A downgrade leaves the data partition hidden and without a letter.
    {0, 4, "basic data (data)", "NTFS", "Data", 75776, 32768, 0xC000000000000000ull, 0},
    {0, 5, "Windows recovery", "NTFS", "Recovery", 108544, 16384, 0x8000000000000001ull, 0},
    {1, 1, "USB stick", "FAT32", "STICK", 2048, 30720, 0, 0x0C},
};
const DemoPartition kMbrMachine[] = {
    {0, 1, "Windows", "NTFS", "Windows", 2048, 81920, 0, 0x07},
    {0, 2, "recovery (hidden FAT32)", "FAT32", "RECOVERY", 83968, 40960, 0, 0x1C},
    {1, 1, "USB stick", "FAT32", "STICK", 2048, 30720, 0, 0x0C},
};
constexpr std::uint64_t kNotebookSectors = 131072;  // 64 MiB
constexpr std::uint64_t kStickSectors = 32768;      // 16 MiB

Bytes FileSystem(const DemoPartition& p) {
  const std::string label = p.label;
  if (std::string(p.fileSystem) == "NTFS") {
    // Windows RE's partition holds its image and boot.sdi, as on a notebook.
    if (std::string(p.role) == "Windows recovery") {
      Bytes volume = images::RecoveryNtfs(std::u16string(label.begin(), label.end()), p.firstLba, p.sectors);
      if (!volume.empty()) return volume;
    }
    images::NtfsParams params;
    params.label = std::u16string(label.begin(), label.end());
    return images::BuildNtfs(params).bytes;
  }
  if (std::string(p.fileSystem) == "FAT32") {
    images::Fat32Params params;
    std::string name11 = label;
    name11.resize(11, ' ');
    params.rootEntries = {{images::DirEntry{name11, 0x08}}};
    return images::BuildFat32(params).bytes;
  }
  return Bytes();
}

Bytes BuildDisk(const std::vector<DemoPartition>& parts, int disk, bool gpt) {
  const std::uint64_t sectors = disk == 0 ? kNotebookSectors : kStickSectors;
  Bytes bytes;
  if (gpt && disk == 0) {
    images::GptBuilder table(sectors);
    for (const DemoPartition& p : parts) {
      if (p.disk != disk) continue;
      const std::string role = p.role;
      const images::Guid16& type = role == "EFI system"           ? images::kEfiSystemType
                                   : role == "Microsoft reserved" ? images::kMsReservedType
                                   : role == "Windows recovery"   ? images::kRecoveryType
                                                                  : images::kBasicDataType;
      std::string label = p.label;
      table.Add(type, p.firstLba, p.sectors, p.attributes, std::u16string(label.begin(), label.end()));
    }
    bytes = table.Build();
  } else {
    images::MbrBuilder table(sectors);
    int slot = 0;
    for (const DemoPartition& p : parts) {
      if (p.disk != disk) continue;
      table.Primary(slot++, p.mbrType, static_cast<std::uint32_t>(p.firstLba),
                    static_cast<std::uint32_t>(p.sectors), disk == 0 && p.number == 1);
    }
    bytes = table.Build();
  }
  for (const DemoPartition& p : parts) {
    if (p.disk == disk) images::Place(bytes, p.firstLba * kSector, FileSystem(p));
  }
  return bytes;
}

bool WriteBytes(const std::string& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  return WriteBytes(path, bytes.data(), bytes.size());
}

std::string LauncherPe(std::uint16_t build) {
  images::VersionContent version;
  version.fileVersion[3] = build;
  const std::string text = "1.0.0." + std::to_string(build);
  version.tables = {{"040904b0", {{"FileVersion", text}, {"ProductName", "TAVU Recovery"}}}};
  return images::BuildPe(images::BuildVersionBlock(version)).bytes;
}

// The folder of the images: the one asked for with --images (kept), or a
// temporary one removed when the demo ends.
class ImageFolder {
 public:
  explicit ImageFolder(const std::string& asked) {
    std::error_code ec;
    if (!asked.empty()) {
      std::filesystem::create_directories(asked, ec);
      if (std::filesystem::is_directory(asked, ec)) path_ = asked;
      return;
    }
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "tavu-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
      temporary_ = true;
    }
  }
  ~ImageFolder() {
    std::error_code ec;
    if (temporary_) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  bool temporary() const { return temporary_; }

 private:
  std::string path_;
  bool temporary_ = false;
};

struct CarriedInfo {
  std::string source;  // "given", "built" or "stand-in"
  std::string path;
};

// The launcher the patcher carries: the given or built one when it could be
// read, otherwise a stand-in of the carried version made here.
CarriedInfo CarriedLauncher(SimContext& context) {
  sim::SimResources& r = context.machine.resources();
  if (!context.options.carriedLauncher.empty()) return {"given", context.options.carriedLauncher};
  if (r.carriedLauncher()) return {"built", TAVU_DEFAULT_CARRIED_LAUNCHER};
  const std::string pe = LauncherPe(7);
  r.SetCarriedLauncher(std::vector<std::uint8_t>(pe.begin(), pe.end()));
  return {"stand-in", TAVU_DEFAULT_CARRIED_LAUNCHER};
}

std::string Letter(sim::SimMachine& machine, const DemoPartition& p) {
  const wchar_t letter =
      machine.volumes().VolumeOf(p.disk, static_cast<std::int64_t>(p.firstLba * kSector)).letter;
  return letter == 0 ? std::string() : std::string(1, static_cast<char>(letter)) + ":";
}

const DemoPartition* PartitionAt(const std::vector<DemoPartition>& parts, int disk, std::uint32_t number) {
  for (const DemoPartition& p : parts) {
    if (p.disk == disk && p.number == number) return &p;
  }
  return nullptr;
}

std::string Describe(const std::vector<DemoPartition>& parts, int disk, std::uint32_t number) {
  const DemoPartition* p = PartitionAt(parts, disk, number);
  std::string text = "disk " + std::to_string(disk) + ", partition " + std::to_string(number);
  if (p != nullptr && p->label[0] != '\0') text += std::string(" (\"") + p->label + "\")";
  return text;
}

// The volume a letter went to, by its place on the disks.
const DemoPartition* PartitionOfVolume(sim::SimMachine& machine, const std::vector<DemoPartition>& parts,
                                       const std::wstring& volume) {
  for (const DemoPartition& p : parts) {
    if (machine.volumes().VolumeOf(p.disk, static_cast<std::int64_t>(p.firstLba * kSector)).name == volume)
      return &p;
  }
  return nullptr;
}

void PrintScriptLines(std::FILE* out, const std::string& script) {
  for (const std::string& line : sim::Lines(script)) std::fprintf(out, "       | %s\n", line.c_str());
}

std::string FileName(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L'\\');
  return ToUtf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

int RunDemo(SimContext& context) {
  const SimOptions& options = context.options;
  sim::SimMachine& machine = context.machine;
  if (!options.disks.empty()) {
    std::fprintf(context.err,
                 "tavu-sim: demo builds its own disks; --disk, --usb-disk, --removable and --absent "
                 "are not for it\n");
    return 2;
  }
  const bool gpt = !options.mbr;
  const std::vector<DemoPartition> parts =
      gpt ? std::vector<DemoPartition>(std::begin(kGptMachine), std::end(kGptMachine))
          : std::vector<DemoPartition>(std::begin(kMbrMachine), std::end(kMbrMachine));

  ImageFolder folder(options.images);
  if (folder.path().empty()) {
    std::fprintf(context.err, "tavu-sim: cannot make the folder for the demo's images '%s'\n",
                 options.images.c_str());
    return 2;
  }
  const std::string installedHost = machine.HostPath(kInstalledLauncher);
  std::error_code ec;
  if (std::filesystem::exists(installedHost, ec)) {
    // The folder is the user's: what lies there is not ours to overwrite.
    std::fprintf(context.err, "tavu-sim: demo installs its own launcher, but '%s' exists\n",
                 installedHost.c_str());
    return 2;
  }
  const char* const names[] = {gpt ? "notebook-gpt.img" : "notebook-mbr.img", "usb-stick.img"};
  for (const char* name : names) {
    const std::string path = folder.path() + "/" + name;
    if (!folder.temporary() && std::filesystem::exists(path, ec)) {
      std::fprintf(context.err, "tavu-sim: cannot make image '%s': it exists\n", path.c_str());
      return 2;
    }
  }
  for (int d = 0; d < 2; ++d) {
    const std::string path = folder.path() + "/" + names[d];
    const Bytes bytes = BuildDisk(parts, d, gpt);
    std::string error;
    if (!WriteBytes(path, bytes.data(), bytes.size()) ||
        !machine.AddDisk(path, d == 0 ? sim::DiskKind::Fixed : sim::DiskKind::Usb, &error)) {
      std::fprintf(context.err, "tavu-sim: cannot make image '%s': %s\n", path.c_str(),
                   error.empty() ? "write failed" : error.c_str());
      return 2;
    }
  }
  {
    sim::WinReState state = sim::WinReState::Enabled;
    (void)sim::ParseWinReState(options.winre, &state);
    std::string error;
    if (!sim::ApplyWindowsRe(machine, state, nullptr, &error)) {
      std::fprintf(context.err, "tavu-sim: %s\n", error.c_str());
      return 2;
    }
  }
  std::filesystem::create_directories(std::filesystem::path(installedHost).parent_path(), ec);
  if (!WriteBytes(installedHost, LauncherPe(6))) {
    std::fprintf(context.err, "tavu-sim: cannot install the older launcher at '%s'\n", installedHost.c_str());
    return 2;
  }
  const CarriedInfo carried = CarriedLauncher(context);
  const std::string versionBefore = FileVersion(machine, kInstalledLauncher);
  const std::string carriedVersion = CarriedVersion(*machine.resources().carriedLauncher());
  machine.Install();

  std::FILE* out = context.out;
  JsonWriter json;
  if (options.json) {
    json.BeginObject();
    json.Key("machine").String(gpt ? "gpt" : "mbr");
    json.Key("images")
        .BeginObject()
        .Key("folder")
        .String(folder.path())
        .Key("kept")
        .Bool(!folder.temporary())
        .Key("written")
        .Bool(options.write)
        .EndObject();
    json.Key("partitions").BeginArray();
    for (const DemoPartition& p : parts) {
      json.BeginObject()
          .Key("disk")
          .Int(p.disk)
          .Key("number")
          .Int(p.number)
          .Key("role")
          .String(p.role)
          .Key("file_system")
          .String(p.fileSystem)
          .Key("label")
          .String(p.label)
          .EndObject();
    }
    json.EndArray();
    json.Key("disks_before");
    WriteDisksJson(json, machine);
    json.Key("installed_launcher")
        .BeginObject()
        .Key("path")
        .WString(kInstalledLauncher)
        .Key("version_before")
        .String(versionBefore)
        .EndObject();
    json.Key("carried_launcher")
        .BeginObject()
        .Key("source")
        .String(carried.source)
        .Key("path")
        .String(carried.path)
        .Key("bytes")
        .Int(static_cast<std::int64_t>(machine.resources().carriedLauncher()->size()))
        .Key("version")
        .String(carriedVersion)
        .EndObject();
  } else {
    std::fprintf(out, "TAVU Recovery demo: the embedded %s notebook\n",
                 gpt ? "GPT (UEFI)" : "MBR (hidden FAT32 recovery partition)");
    std::fprintf(out, "Images made in code in %s (%s)\n\n", folder.path().c_str(),
                 folder.temporary() ? "removed at the end" : "kept");
    for (const DemoPartition& p : parts) {
      char kind[16] = "";
      if (!gpt || p.disk != 0) std::snprintf(kind, sizeof(kind), "type 0x%02X, ", p.mbrType);
      std::string attributes;
      if (gpt && p.disk == 0 && p.attributes != 0) {
        char hex[40];
        std::snprintf(hex, sizeof(hex), "attributes 0x%016" PRIX64 ", ", p.attributes);
        attributes = hex;
      }
      const std::string letter = Letter(machine, p);
      std::fprintf(out, "  disk %d %s %u  %-24s %-5s %-10s %s%s%s\n", p.disk,
                   p.disk == 0 ? (gpt ? "GPT" : "MBR") : "USB", p.number, p.role, p.fileSystem,
                   p.label[0] ? (std::string("\"") + p.label + "\"").c_str() : "", kind, attributes.c_str(),
                   letter.empty() ? "no letter" : letter.c_str());
    }
    std::fprintf(out, "  installed launcher %s, version %s\n", ToUtf8(kInstalledLauncher).c_str(),
                 versionBefore.c_str());
    if (carried.source == "stand-in") {
      std::fprintf(out,
                   "  carried launcher: %s is absent (build it with cmake --preset win32);\n"
                   "    the patcher carries a stand-in of version 1.0.0.7 made here\n",
                   carried.path.c_str());
    } else {
      std::fprintf(out, "  carried launcher %s, version %s\n", carried.path.c_str(), carriedVersion.c_str());
    }
  }

  // 1. Where the recovery partition is.
  const LocateRun located = Locate();
  if (options.json) {
    json.Key("locate");
    WriteLocateJson(json, machine, located);
  } else {
    std::fprintf(out, "\n1. The launcher's locator\n");
    if (located.found == kLocateFound) {
      std::fprintf(out, "   recovery partition: %s, %s disk\n",
                   Describe(parts, located.disk, static_cast<std::uint32_t>(located.partition)).c_str(),
                   located.style == 1 ? "GPT" : "MBR");
    } else {
      std::fprintf(out, "   recovery partition: %d (%s)\n", located.found, LocateMeaning(located.found));
    }
  }

  // 2. What the recovery worker runs after Yes.
  const ArmRun armed = Arm(machine);
  if (options.json) {
    json.Key("arm");
    WriteArmJson(json, machine, armed);
  } else {
    std::fprintf(out, "\n2. The recovery worker, after Yes: route %s, result %u\n",
                 armed.route != nullptr ? armed.route : "none", armed.result);
    for (const sim::SimMessageBox& box : armed.boxes) {
      std::fprintf(out, "   box [%s] %s\n", ToUtf8(box.caption).c_str(), ToUtf8(box.text).c_str());
    }
    for (const sim::SimLaunchReport& r : armed.launches) {
      std::fprintf(out, "   runs %s %s\n", FileName(r.launch.file).c_str(),
                   ToUtf8(r.launch.parameters).c_str());
      if (r.hasScript) PrintScriptLines(out, r.script);
    }
    if (armed.route != nullptr && std::string(armed.route) == "boot-manager") {
      sim::SimBcdStore& store = machine.windowsTools().store();
      std::fprintf(out, "   boot manager afterwards:\n");
      for (const wchar_t* element :
           {L"customactions", L"custom:5400000f", L"extendedinput", L"displayorder"}) {
        std::fprintf(out, "     {bootmgr} %-16s %s\n", ToUtf8(element).c_str(),
                     BootValue(store, L"{bootmgr}", element).c_str());
      }
      std::fprintf(out, "     {current} %-16s %s\n", "isolatedcontext",
                   BootValue(store, L"{current}", L"isolatedcontext").c_str());
    } else if (armed.route != nullptr) {
      std::uint32_t style = 0;
      for (const PartitionView& p : Partitions(machine, 0, &style)) {
        std::fprintf(
            out, "   disk 0 partition %u afterwards: type %s%s, %s\n", p.number, p.type.c_str(),
            p.active ? ", active" : "",
            p.letter != 0 ? (std::string(1, static_cast<char>(p.letter)) + ":").c_str() : "no letter");
      }
    }
    std::fprintf(out, "   temporary files left: %s; logon task %s; restart %s\n",
                 armed.tempFilesLeft.empty() ? "none" : ToUtf8(armed.tempFilesLeft[0]).c_str(),
                 armed.taskRegistered ? "registered" : "not registered",
                 armed.restart.pending ? ("in " + std::to_string(armed.restart.seconds) + " s").c_str()
                                       : "not pending");
  }

  // 3. The owner changes their mind before the restart: /DISABLE puts the
  // machine back from the journal the worker wrote before its first change.
  machine.faults().CutPowerAfter(std::nullopt);
  const ProgramRuns disabled = RunLauncher(machine, kInstalledLauncher, L"/DISABLE");
  if (options.json) {
    json.Key("disable");
    WriteRunJson(json, machine, disabled, true);
  } else {
    std::fprintf(out, "\n3. Undone: \"%s\" /DISABLE, exit code %d\n", ToUtf8(kInstalledLauncher).c_str(),
                 disabled.result);
    // One line: the writes in order, each tool's commands counted.
    std::string writes;
    std::string tool;
    int count = 0;
    auto flush = [&] {
      if (count > 0) writes += (writes.empty() ? "" : ", ") + tool + " x" + std::to_string(count);
      count = 0;
    };
    for (const std::string& write : machine.faults().persistentWrites()) {
      const std::string head = write.substr(0, write.find(' '));
      if (head == "bcdedit" || head == "diskpart") {
        if (head != tool) flush();
        tool = head;
        ++count;
        continue;
      }
      flush();
      writes += (writes.empty() ? "" : ", ") + write;
    }
    flush();
    std::fprintf(out, "   %s; logon task %s, firmware mode %s\n", writes.c_str(),
                 machine.tasks().Find(L"TAVU F9 Recovery") ? "registered" : "removed",
                 machine.processes().firmwareMode() ? "on" : "off");
  }

  // 4. The patcher's pass.
  machine.faults().CutPowerAfter(std::nullopt);
  const PatchRun patched = Patch(machine);
  const std::string versionAfter = FileVersion(machine, kInstalledLauncher);
  if (options.json) {
    json.Key("patch");
    WritePatchJson(json, machine, patched, options.write);
    json.Key("installed_launcher_after").BeginObject().Key("version").String(versionAfter).EndObject();
    json.EndObject();
    std::fprintf(out, "%s\n", json.text().c_str());
    return 0;
  }
  std::fprintf(out, "\n4. The patcher (TvPatchDowngrade)\n");
  for (const std::string& line : patched.log) std::fprintf(out, "   log  %s\n", line.c_str());
  std::fprintf(out, "   table entries rewritten:%s", patched.layoutWrites.empty() ? " none" : "");
  for (const PatchRun::LayoutWrite& w : patched.layoutWrites) {
    std::fprintf(out, "%s %s%s", &w == &patched.layoutWrites.front() ? "" : ",",
                 Describe(parts, w.disk, w.index).c_str(), w.ok ? "" : " (refused)");
  }
  std::fprintf(out, "%s\n", patched.layoutWrites.empty() ? "" : ": attributes now 0");
  for (const sim::SimVolumes::Assignment& a : patched.lettersAssigned) {
    const DemoPartition* p = PartitionOfVolume(machine, parts, a.volume);
    std::fprintf(out, "   letter %s given to %s\n", ToUtf8(a.root).c_str(),
                 p != nullptr ? Describe(parts, p->disk, p->number).c_str() : ToUtf8(a.volume).c_str());
  }
  bool lettered = !patched.lettersAssigned.empty();
  for (const sim::SimVolumes::Arrival& a : patched.arrivals) {
    if (a.letter == 0) continue;
    const DemoPartition* p = PartitionOfVolume(machine, parts, a.volume);
    std::fprintf(out,
                 "   letter %lc:\\ given to %s by Windows, as its volume arrived %llu ms after the write\n",
                 static_cast<wint_t>(a.letter),
                 p != nullptr ? Describe(parts, p->disk, p->number).c_str() : ToUtf8(a.volume).c_str(),
                 static_cast<unsigned long long>(a.afterMilliseconds));
    lettered = true;
  }
  if (!lettered) std::fprintf(out, "   letters given: none\n");
  if (patched.launcher == "at restart") {
    // The file in place is still the running one; the carried one replaces it
    // when Windows restarts.
    std::fprintf(out, "   installed launcher at restart: version %s -> carried %s\n", versionBefore.c_str(),
                 carriedVersion.c_str());
  } else {
    std::fprintf(out, "   installed launcher %s: version %s -> %s\n", patched.launcher.c_str(),
                 versionBefore.c_str(), versionAfter.c_str());
  }
  return 0;
}

}  // namespace

const SimCommand kDemo("demo", RunDemo);

}  // namespace tavu::tool
