// tavu-sim locate: FindRecoveryPartition, then QueryPartitionStyle on the disk
// found (only when found), then FindRecoveryVolume, as the recovery worker
// calls them.
#include <cstdio>

#include "launcher/arming/partition_locator.h"
#include "tools/tavu-sim/command_runs.h"
#include "tools/tavu-sim/json.h"
#include "tools/tavu-sim/machine_view.h"
#include "tools/tavu-sim/sim_command.h"

namespace tavu::tool {

const char* LocateMeaning(int result) {
  switch (result) {
    case kLocateFound:
      return "found";
    case kLocateBadArgument:
      return "bad argument";
    case kLocateNotFound:
      return "not found";
    case kLocateFailed:
      return "a layout, extents or read query failed";
  }
  return "unexpected result";
}

LocateRun Locate() {
  LocateRun run;
  LocateDetail detail;
  run.found = FindRecoveryPartition(&run.partition, &run.disk, &detail);
  run.noMediumDisks = detail.noMediumDisks;
  run.styleAsked = run.found == kLocateFound;
  run.style = run.styleAsked ? QueryPartitionStyle(run.disk) : 0;
  wchar_t root[260] = L"";
  run.volume = FindRecoveryVolume(&run.volumeDisk, &run.volumePartition, root);
  run.root = root;
  return run;
}

void PrintPassedOver(std::FILE* out, std::uint32_t noMediumDisks) {
  for (int d = 0; d < 32; ++d) {
    if ((noMediumDisks & (1u << static_cast<unsigned>(d))) != 0) {
      std::fprintf(out, "  Disk %d has no medium (an empty card reader): passed over.\n", d);
    }
  }
}

void WriteLocateJson(JsonWriter& json, sim::SimMachine& machine, const LocateRun& run) {
  json.BeginObject();
  json.Key("recovery_partition")
      .BeginObject()
      .Key("result")
      .Int(run.found)
      .Key("disk")
      .Int(run.disk)
      .Key("partition")
      .Int(run.partition)
      .EndObject();
  json.Key("partition_style");
  if (run.styleAsked) {
    json.BeginObject().Key("result").Int(run.style).EndObject();
  } else {
    json.Null();
  }
  json.Key("recovery_volume")
      .BeginObject()
      .Key("result")
      .Int(run.volume)
      .Key("disk")
      .Int(run.volumeDisk)
      .Key("partition")
      .Int(run.volumePartition)
      .Key("root")
      .WString(run.root)
      .EndObject();
  json.Key("disks");
  WriteDisksJson(json, machine);
  json.EndObject();
}

namespace {

int RunLocate(SimContext& context) {
  const LocateRun run = Locate();
  if (context.options.json) {
    JsonWriter json;
    WriteLocateJson(json, context.machine, run);
    std::fprintf(context.out, "%s\n", json.text().c_str());
    return 0;
  }

  std::FILE* out = context.out;
  std::fprintf(out, "Machine\n");
  PrintDisks(out, context.machine);
  std::fprintf(out, "\nFindRecoveryPartition: %d (%s)", run.found, LocateMeaning(run.found));
  if (run.found == kLocateFound) std::fprintf(out, ": disk %d, partition %d", run.disk, run.partition);
  if (run.noMediumDisks != 0) std::fprintf(out, "\n");
  PrintPassedOver(out, run.noMediumDisks);
  std::fprintf(out, "\nQueryPartitionStyle:   ");
  if (!run.styleAsked) {
    std::fprintf(out, "not asked (no recovery partition)\n");
  } else if (run.style == 0 || run.style == 1) {
    std::fprintf(out, "%d (%s): the worker takes the %s route\n", run.style, run.style == 0 ? "MBR" : "GPT",
                 run.style == 0 ? "partition-table" : "boot-manager");
  } else {
    std::fprintf(out, "%d (%s)\n", run.style, LocateMeaning(run.style));
  }
  std::fprintf(out, "FindRecoveryVolume:    %d (%s)", run.volume, LocateMeaning(run.volume));
  if (run.volume == kLocateFound) {
    std::fprintf(out, ": disk %d, partition %d, ", run.volumeDisk, run.volumePartition);
    if (!run.root.empty()) {
      std::fprintf(out, "mounted at %s", ToUtf8(run.root).c_str());
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
