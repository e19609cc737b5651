#include "tools/tavu-sim/machine_view.h"

#include <algorithm>
#include <cinttypes>

#include "sim/formats/pe_version.h"
#include "sim/formats/volume_files.h"

namespace tavu::tool {

std::vector<PartitionView> Partitions(sim::SimMachine& machine, int disk, std::uint32_t* style) {
  std::vector<PartitionView> out;
  sim::SimLayout layout = machine.disks().Layout(disk);
  *style = layout.style;
  for (const PARTITION_INFORMATION_EX& e : layout.entries) {
    if (e.PartitionNumber == 0) continue;  // empty slots and extended containers
    PartitionView v{};
    v.number = e.PartitionNumber;
    v.offset = e.StartingOffset;
    v.length = e.PartitionLength;
    if (layout.style == PARTITION_STYLE_GPT) {
      v.type = GuidText(e.Gpt.PartitionType);
      v.typeName = GptTypeName(v.type);
      v.attributes = e.Gpt.Attributes;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "0x%02X", e.Mbr.PartitionType);
      v.type = hex;
      v.typeName = MbrTypeName(e.Mbr.PartitionType);
      v.active = e.Mbr.BootIndicator != 0;
    }
    v.letter = machine.volumes().VolumeOf(disk, e.StartingOffset).letter;
    out.push_back(v);
  }
  return out;
}

namespace {

std::string Hex64(std::uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%016" PRIX64, v);
  return text;
}

}  // namespace

std::vector<std::string> TableProblems(sim::SimMachine& machine, int disk) {
  const sim::DiskImage* image = machine.disks().Image(disk);
  if (image == nullptr) return {};
  std::uint8_t mbr[512] = {};
  if (!image->Read(0, mbr, sizeof mbr)) return {"The first sector cannot be read"};
  // A protective MBR entry announces a GPT, sound or not.
  bool protective = false;
  for (int i = 0; i < 4; ++i) protective = protective || mbr[446 + 16 * i + 4] == 0xEE;
  return protective ? sim::VerifyGpt(*image) : std::vector<std::string>{};
}

std::string GuidText(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return text;
}

const char* GptTypeName(const std::string& guidText) {
  static const struct {
    const char* guid;
    const char* name;
  } kNames[] = {
      {"{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}", "EFI system partition"},
      {"{E3C9E316-0B5C-4DB8-817D-F92DF00215AE}", "Microsoft reserved"},
      {"{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}", "Microsoft basic data"},
      {"{DE94BBA4-06D1-4D40-A16A-BFD50179D6AC}", "Windows RE"},
      {"{5808C8AA-7E8F-42E0-85D2-E1E90434CFB3}", "Windows LDM metadata"},
      {"{AF9B60A0-1431-4F62-BC68-3311714A69AD}", "Windows LDM data"},
      {"{E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D}", "Windows Storage Spaces"},
      {"{21686148-6449-6E6F-744E-656564454649}", "BIOS boot partition"},
      {"{0FC63DAF-8483-4772-8E79-3D69D8477DE4}", "Linux filesystem"},
      {"{0657FD6D-A4AB-43C4-84E5-0933C84B4F4F}", "Linux swap"},
  };
  for (const auto& n : kNames) {
    if (guidText == n.guid) return n.name;
  }
  return "unknown";
}

const char* MbrTypeName(std::uint8_t type) {
  switch (type) {
    case 0x01:
      return "FAT12";
    case 0x04:
      return "FAT16 <32M";
    case 0x05:
      return "Extended";
    case 0x06:
      return "FAT16";
    case 0x07:
      return "HPFS/NTFS/exFAT";
    case 0x0B:
      return "W95 FAT32";
    case 0x0C:
      return "W95 FAT32 (LBA)";
    case 0x0E:
      return "W95 FAT16 (LBA)";
    case 0x0F:
      return "W95 Ext'd (LBA)";
    case 0x11:
      return "Hidden FAT12";
    case 0x12:
      return "Compaq diagnostics";
    case 0x16:
      return "Hidden FAT16";
    case 0x17:
      return "Hidden HPFS/NTFS";
    case 0x1B:
      return "Hidden W95 FAT32";
    case 0x1C:
      return "Hidden W95 FAT32 (LBA)";
    case 0x1E:
      return "Hidden W95 FAT16 (LBA)";
    case 0x27:
      return "Hidden NTFS WinRE";
    case 0x82:
      return "Linux swap / Solaris";
    case 0x83:
      return "Linux";
    case 0x85:
      return "Linux extended";
    case 0x8E:
      return "Linux LVM";
    case 0xEE:
      return "GPT";
    case 0xEF:
      return "EFI (FAT-12/16/32)";
    default:
      return "unknown";
  }
}

const char* StyleName(std::uint32_t style) {
  if (style == PARTITION_STYLE_MBR) return "MBR";
  if (style == PARTITION_STYLE_GPT) return "GPT";
  return "RAW";
}

void WriteDisksJson(JsonWriter& json, sim::SimMachine& machine) {
  json.BeginArray();
  for (int d = 0; d < machine.disks().Count(); ++d) {
    if (machine.disks().Kind(d) == sim::DiskKind::CardReader) {
      json.BeginObject().Key("number").Int(d).Key("style").String("RAW").Key("no_medium").Bool(true);
      json.Key("problems").BeginArray().EndArray().Key("partitions").BeginArray().EndArray().EndObject();
      continue;
    }
    if (machine.disks().Image(d) == nullptr) continue;
    std::uint32_t style = 0;
    std::vector<PartitionView> parts = Partitions(machine, d, &style);
    json.BeginObject()
        .Key("number")
        .Int(d)
        .Key("style")
        .String(StyleName(style))
        .Key("problems")
        .BeginArray();
    for (const std::string& problem : TableProblems(machine, d)) json.String(problem);
    json.EndArray().Key("partitions").BeginArray();
    for (const PartitionView& p : parts) {
      json.BeginObject()
          .Key("number")
          .Int(p.number)
          .Key("type")
          .String(p.type)
          .Key("type_name")
          .String(p.typeName)
          .Key("active")
          .Bool(p.active)
          .Key("attributes")
          .String(Hex64(p.attributes))
          .Key("letter");
      if (p.letter != 0) {
        json.String(std::string(1, static_cast<char>(p.letter)) + ":");
      } else {
        json.Null();
      }
      // The file system as the library the field reads images with sees it,
      // whether or not Windows presents the partition.
      const sim::VolumeFacts fs =
          p.offset >= 0 && p.length > 0
              ? sim::ReadVolumeFacts(*machine.disks().Image(d), static_cast<std::uint64_t>(p.offset),
                                     static_cast<std::uint64_t>(p.length))
              : sim::VolumeFacts{};
      json.Key("offset").Int(p.offset).Key("size").Int(p.length).Key("label");
      fs.recognized ? json.WString(std::wstring(fs.label.begin(), fs.label.end())) : json.Null();
      json.Key("file_system");
      fs.recognized ? json.String(fs.fileSystem) : json.Null();
      json.EndObject();
    }
    json.EndArray().EndObject();
  }
  json.EndArray();
}

namespace {

std::uint32_t PartitionNumberAt(sim::SimMachine& machine, int disk, std::int64_t offset) {
  for (const PARTITION_INFORMATION_EX& e : machine.disks().Layout(disk).entries) {
    if (e.StartingOffset == offset) return e.PartitionNumber;
  }
  return 0;
}

}  // namespace

void WriteArrivalsJson(JsonWriter& json, sim::SimMachine& machine,
                       const std::vector<sim::SimVolumes::Arrival>& arrivals) {
  json.Key("volume_arrivals").BeginArray();
  for (const sim::SimVolumes::Arrival& a : arrivals) {
    json.BeginObject()
        .Key("volume")
        .WString(a.volume)
        .Key("disk")
        .Int(a.disk)
        .Key("partition")
        .Int(PartitionNumberAt(machine, a.disk, a.offset))
        .Key("after_ms")
        .Int(static_cast<std::int64_t>(a.afterMilliseconds))
        .Key("letter");
    a.letter != 0 ? json.String(std::string(1, static_cast<char>(a.letter)) + ":") : json.Null();
    json.EndObject();
  }
  json.EndArray();
}

void PrintArrivals(std::FILE* out, sim::SimMachine& machine,
                   const std::vector<sim::SimVolumes::Arrival>& arrivals, std::uint64_t programEnd) {
  if (arrivals.empty()) return;
  std::fprintf(out, "\nVolumes that arrived after a table write:\n");
  for (const sim::SimVolumes::Arrival& a : arrivals) {
    std::fprintf(out, "  disk %d, partition %u: %s, %" PRIu64 " ms after the write, %s", a.disk,
                 PartitionNumberAt(machine, a.disk, a.offset), ToUtf8(a.volume).c_str(), a.afterMilliseconds,
                 a.at <= programEnd ? "while the program waited" : "after the program had ended");
    if (a.letter != 0) {
      std::fprintf(out, "; automatic mounting gave it %lc:\n", static_cast<wint_t>(a.letter));
    } else {
      std::fprintf(out, "; no letter from Windows\n");
    }
  }
}

void WriteOfflineVolumesJson(JsonWriter& json, sim::SimMachine& machine) {
  json.Key("volumes_offline").BeginArray();
  for (const sim::SimVolumes::Info& v : machine.volumes().Volumes()) {
    if (!v.offline || v.disk < 0) continue;
    json.BeginObject()
        .Key("disk")
        .Int(v.disk)
        .Key("partition")
        .Int(PartitionNumberAt(machine, v.disk, v.offset))
        .EndObject();
  }
  json.EndArray();
}

void PrintOfflineVolumes(std::FILE* out, sim::SimMachine& machine) {
  bool any = false;
  for (const sim::SimVolumes::Info& v : machine.volumes().Volumes()) {
    if (!v.offline || v.disk < 0) continue;
    if (!any) std::fprintf(out, "Volumes taken offline until the restart:\n");
    any = true;
    std::fprintf(out, "  disk %d, partition %u: %s\n", v.disk, PartitionNumberAt(machine, v.disk, v.offset),
                 ToUtf8(v.name).c_str());
  }
  if (!any) std::fprintf(out, "Volumes taken offline: none\n");
}

void PrintDisks(std::FILE* out, sim::SimMachine& machine) {
  for (int d = 0; d < machine.disks().Count(); ++d) {
    const sim::DiskImage* image = machine.disks().Image(d);
    if (machine.disks().Kind(d) == sim::DiskKind::CardReader) {
      std::fprintf(
          out,
          "Disk %d: empty card-reader slot (SD bus), no medium: every read answers ERROR_NOT_READY (21)\n",
          d);
      continue;
    }
    if (image == nullptr) {
      std::fprintf(out, "Disk %d: absent (cannot be opened)\n", d);
      continue;
    }
    const char* kind = "fixed";
    if (machine.disks().Kind(d) == sim::DiskKind::Usb) kind = "USB";
    if (machine.disks().Kind(d) == sim::DiskKind::Removable) kind = "removable media";
    std::uint32_t style = 0;
    std::vector<PartitionView> parts = Partitions(machine, d, &style);
    std::fprintf(out, "Disk %d: %s, %s, %" PRIu64 " MiB, %s\n", d, StyleName(style), kind,
                 image->size() >> 20, image->path().c_str());
    for (const std::string& problem : TableProblems(machine, d))
      std::fprintf(out, "  problem: %s\n", problem.c_str());
    for (const PartitionView& p : parts) {
      std::fprintf(out, "  partition %2u  %-38s  %-22s  at %10" PRId64 " KiB, %8" PRId64 " KiB", p.number,
                   p.type.c_str(), p.typeName, p.offset >> 10, p.length >> 10);
      if (style == PARTITION_STYLE_GPT && p.attributes != 0)
        std::fprintf(out, "  attributes %s", Hex64(p.attributes).c_str());
      if (p.active) std::fprintf(out, "  active");
      if (p.letter != 0) std::fprintf(out, "  %lc:", static_cast<wint_t>(p.letter));
      std::fprintf(out, "\n");
    }
  }
}

std::string VersionText(const std::uint8_t* fixed) {
  auto u32 = [&](int at) {
    return static_cast<std::uint32_t>(fixed[at] | (fixed[at + 1] << 8) | (fixed[at + 2] << 16) |
                                      (static_cast<std::uint32_t>(fixed[at + 3]) << 24));
  };
  const std::uint32_t ms = u32(8);
  const std::uint32_t ls = u32(12);
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
         std::to_string(ls & 0xFFFF);
}

// The version Windows reports for a file on the machine ("1.0.0.6"), or "".
std::string FileVersion(sim::SimMachine& machine, const wchar_t* path) {
  sim::SimResources& r = machine.resources();
  const std::uint32_t size = r.VersionInfoSize(path);
  if (size == 0) return "";
  std::vector<std::uint8_t> block(size);
  const std::uint8_t* value = nullptr;
  std::uint32_t length = 0;
  if (!r.VersionInfo(path, size, block.data()) || !r.QueryValue(block.data(), L"\\", &value, &length) ||
      length < 16) {
    return "";
  }
  return VersionText(value);
}

// The version of the program the patcher carries, read from its bytes.
std::string CarriedVersion(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> block;
  const sim::ReadAtFn read = [&](std::uint64_t offset, void* out, std::size_t size) {
    if (offset > file.size() || size > file.size() - offset) return false;
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), size, static_cast<std::uint8_t*>(out));
    return true;
  };
  std::size_t at = 0;
  std::uint32_t length = 0;
  if (!sim::ReadVersionResource(read, file.size(), &block) ||
      !sim::QueryVersionValue(block.data(), block.size(), L"\\", &at, &length) || length < 16) {
    return "unknown";
  }
  return VersionText(block.data() + at);
}

void WritePowerJson(JsonWriter& json, sim::SimMachine& machine) {
  json.Key("persistent_writes").BeginArray();
  for (const std::string& write : machine.faults().persistentWrites()) json.String(write);
  json.EndArray();
  json.Key("power_cut_after");
  const std::optional<std::uint64_t> cut = machine.faults().powerCutAfter();
  cut.has_value() ? json.Int(static_cast<std::int64_t>(*cut)) : json.Null();
}

void PrintPower(std::FILE* out, sim::SimMachine& machine) {
  const std::vector<std::string> writes = machine.faults().persistentWrites();
  std::fprintf(out, "\nPersistent writes:%s\n", writes.empty() ? " none" : "");
  int n = 0;
  for (const std::string& write : writes) std::fprintf(out, "  %d. %s\n", ++n, write.c_str());
  if (const std::optional<std::uint64_t> cut = machine.faults().powerCutAfter()) {
    std::fprintf(out, "Power cut after write %llu: nothing after it happened.\n",
                 static_cast<unsigned long long>(*cut));
  }
}

}  // namespace tavu::tool
