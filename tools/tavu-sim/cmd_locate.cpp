// tavu-sim locate: FindRecoveryPartition, then QueryPartitionStyle on the disk
// found (only when found), then FindRecoveryVolume, as the recovery worker
// calls them.
#include <cstdio>

#include "launcher/arming/partition_locator.h"
#include "tools/tavu-sim/json.h"
#include "tools/tavu-sim/machine_view.h"
#include "tools/tavu-sim/sim_command.h"

namespace tavu::tool {

namespace {

const char* Meaning(int result) {
  switch (result) {
    case kLocateFound: return "found";
    case kLocateBadArgument: return "bad argument";
    case kLocateNotFound: return "not found";
    case kLocateFailed: return "a layout, extents or read query failed";
  }
  return "unexpected result";
}

int RunLocate(SimContext& context) {
  std::int32_t partition = 0;
  std::int32_t disk = 0;
  const int found = FindRecoveryPartition(&partition, &disk);
  const bool styleAsked = found == kLocateFound;
  const int style = styleAsked ? QueryPartitionStyle(disk) : 0;
  std::int32_t volumeDisk = 0;
  std::int32_t volumePartition = 0;
  wchar_t root[260] = L"";
  const int volume = FindRecoveryVolume(&volumeDisk, &volumePartition, root);

  if (context.options.json) {
    JsonWriter json;
    json.BeginObject();
    json.Key("recovery_partition").BeginObject().Key("result").Int(found).Key("disk").Int(disk)
        .Key("partition").Int(partition).EndObject();
    json.Key("partition_style");
    if (styleAsked) {
      json.BeginObject().Key("result").Int(style).EndObject();
    } else {
      json.Null();
    }
    json.Key("recovery_volume").BeginObject().Key("result").Int(volume).Key("disk").Int(volumeDisk)
        .Key("partition").Int(volumePartition).Key("root").WString(root).EndObject();
    json.Key("disks");
    WriteDisksJson(json, context.machine);
    json.EndObject();
    std::fprintf(context.out, "%s\n", json.text().c_str());
    return 0;
  }

  std::FILE* out = context.out;
  std::fprintf(out, "Machine\n");
  PrintDisks(out, context.machine);
  std::fprintf(out, "\nFindRecoveryPartition: %d (%s)", found, Meaning(found));
  if (found == kLocateFound) std::fprintf(out, ": disk %d, partition %d", disk, partition);
  std::fprintf(out, "\nQueryPartitionStyle:   ");
  if (!styleAsked) {
    std::fprintf(out, "not asked (no recovery partition)\n");
  } else if (style == 0 || style == 1) {
    std::fprintf(out, "%d (%s): the worker takes the %s route\n", style, style == 0 ? "MBR" : "GPT",
                 style == 0 ? "partition-table" : "boot-manager");
  } else {
    std::fprintf(out, "%d (%s)\n", style, Meaning(style));
  }
  std::fprintf(out, "FindRecoveryVolume:    %d (%s)", volume, Meaning(volume));
  if (volume == kLocateFound) {
    std::fprintf(out, ": disk %d, partition %d, ", volumeDisk, volumePartition);
    if (root[0] != L'\0') {
      std::fprintf(out, "mounted at %s", ToUtf8(root).c_str());
    } else {
      std::fprintf(out, "no drive root shows it");
    }
  }
  std::fprintf(out, "\n");
  return 0;
}

}  // namespace

const SimCommand kLocate("locate", RunLocate);

}  // namespace tavu::tool
