#include "tools/tavu-sim/machine_view.h"

#include <cinttypes>

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
      v.attributes = e.Gpt.Attributes;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "0x%02X", e.Mbr.PartitionType);
      v.type = hex;
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

std::string GuidText(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return text;
}

const char* StyleName(std::uint32_t style) {
  if (style == PARTITION_STYLE_MBR) return "MBR";
  if (style == PARTITION_STYLE_GPT) return "GPT";
  return "RAW";
}

void WriteDisksJson(JsonWriter& json, sim::SimMachine& machine) {
  json.BeginArray();
  for (int d = 0; d < machine.disks().Count(); ++d) {
    if (machine.disks().Image(d) == nullptr) continue;
    std::uint32_t style = 0;
    std::vector<PartitionView> parts = Partitions(machine, d, &style);
    json.BeginObject().Key("number").Int(d).Key("style").String(StyleName(style)).Key("partitions").BeginArray();
    for (const PartitionView& p : parts) {
      json.BeginObject()
          .Key("number").Int(p.number)
          .Key("type").String(p.type)
          .Key("active").Bool(p.active)
          .Key("attributes").String(Hex64(p.attributes))
          .Key("letter");
      if (p.letter != 0) {
        json.String(std::string(1, static_cast<char>(p.letter)) + ":");
      } else {
        json.Null();
      }
      json.EndObject();
    }
    json.EndArray().EndObject();
  }
  json.EndArray();
}

void PrintDisks(std::FILE* out, sim::SimMachine& machine) {
  for (int d = 0; d < machine.disks().Count(); ++d) {
    const sim::DiskImage* image = machine.disks().Image(d);
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
    for (const PartitionView& p : parts) {
      std::fprintf(out, "  partition %2u  %-38s  at %10" PRId64 " KiB, %8" PRId64 " KiB", p.number,
                   p.type.c_str(), p.offset >> 10, p.length >> 10);
      if (style == PARTITION_STYLE_GPT && p.attributes != 0) std::fprintf(out, "  attributes %s", Hex64(p.attributes).c_str());
      if (p.active) std::fprintf(out, "  active");
      if (p.letter != 0) std::fprintf(out, "  %lc:", static_cast<wint_t>(p.letter));
      std::fprintf(out, "\n");
    }
  }
}

}  // namespace tavu::tool
