// The simulated machine's disks as tavu-sim shows them, in JSON (the "disks"
// field of tavu-sim.md) and as a readable table. Shared by every command.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/win_records.h"
#include "sim/core/machine.h"
#include "tools/tavu-sim/json.h"

namespace tavu::tool {

// One partition as the disk's layout presents it now.
struct PartitionView {
  std::uint32_t number;
  std::string type;  // "0x0C" or "{GUID}"
  bool active;
  std::uint64_t attributes;
  wchar_t letter;  // 0: none
  std::int64_t offset;
  std::int64_t length;
};
std::vector<PartitionView> Partitions(sim::SimMachine& machine, int disk, std::uint32_t* style);

// "{DE94BBA4-06D1-4D40-A16A-BFD50179D6AC}"
std::string GuidText(const Guid& guid);
// "MBR", "GPT" or "RAW".
const char* StyleName(std::uint32_t style);

// [{"number": 0, "style": "GPT", "partitions": [{"number": 1, "type": ...,
//   "active": false, "attributes": "0x...", "letter": "E:" | null}]}]
// Absent disks are left out; MBR entries that hold no partition too.
void WriteDisksJson(JsonWriter& json, sim::SimMachine& machine);
void PrintDisks(std::FILE* out, sim::SimMachine& machine);

}  // namespace tavu::tool
