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
  std::string type;      // "0x0C" or "{GUID}"
  const char* typeName;  // as sgdisk (GPT) or fdisk (MBR) names it
  bool active;
  std::uint64_t attributes;
  wchar_t letter;  // 0: none
  std::int64_t offset;
  std::int64_t length;
};
std::vector<PartitionView> Partitions(sim::SimMachine& machine, int disk, std::uint32_t* style);

// The rules of the disk's GPT that its image breaks (VerifyGpt), when its MBR
// announces one; empty otherwise.
std::vector<std::string> TableProblems(sim::SimMachine& machine, int disk);

// "{DE94BBA4-06D1-4D40-A16A-BFD50179D6AC}"
std::string GuidText(const Guid& guid);
// The name sgdisk gives a GPT type ("{GUID}" text as GuidText writes it) and
// fdisk an MBR type byte; "unknown" for others.
const char* GptTypeName(const std::string& guidText);
const char* MbrTypeName(std::uint8_t type);
// "MBR", "GPT" or "RAW".
const char* StyleName(std::uint32_t style);

// [{"number": 0, "style": "GPT", "partitions": [{"number": 1, "type": ...,
//   "type_name": ..., "active": false, "attributes": "0x...", "letter": "E:" | null}]}]
// Absent disks are left out; MBR entries that hold no partition too.
void WriteDisksJson(JsonWriter& json, sim::SimMachine& machine);

// "1.0.0.6" from a VS_FIXEDFILEINFO.
std::string VersionText(const std::uint8_t* fixed);
// The version Windows reports for a file on the machine, or "".
std::string FileVersion(sim::SimMachine& machine, const wchar_t* path);
// The version of a program file, read from its bytes; "unknown" when it has none.
std::string CarriedVersion(const std::vector<std::uint8_t>& file);
// Volumes that arrived after a table write: "volume_arrivals", and the
// readable lines (arrivals later than programEnd came after the program ended).
void WriteArrivalsJson(JsonWriter& json, sim::SimMachine& machine,
                       const std::vector<sim::SimVolumes::Arrival>& arrivals);
void PrintArrivals(std::FILE* out, sim::SimMachine& machine,
                   const std::vector<sim::SimVolumes::Arrival>& arrivals, std::uint64_t programEnd);
// Volumes of the disks that were taken offline: "volumes_offline", and the
// readable lines.
void WriteOfflineVolumesJson(JsonWriter& json, sim::SimMachine& machine);
void PrintOfflineVolumes(std::FILE* out, sim::SimMachine& machine);
void PrintDisks(std::FILE* out, sim::SimMachine& machine);
// "persistent_writes" (every write of the run that survives the power) and
// "power_cut_after" (--stop-after's N, or null); and the readable lines.
void WritePowerJson(JsonWriter& json, sim::SimMachine& machine);
void PrintPower(std::FILE* out, sim::SimMachine& machine);

}  // namespace tavu::tool
