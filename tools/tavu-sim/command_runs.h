// What locate, arm and patch find on a machine, apart from how they print it,
// so that demo can run them in turn and report them together.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/next_start.h"
#include "sim/core/machine.h"
#include "sim/programs/windows_tools.h"
#include "tools/tavu-sim/json.h"

namespace tavu::tool {

struct LocateRun {
  int found = 0;
  std::int32_t disk = 0;
  std::int32_t partition = 0;
  bool styleAsked = false;  // only when a recovery partition was found
  int style = 0;
  int volume = 0;
  std::int32_t volumeDisk = 0;
  std::int32_t volumePartition = 0;
  std::wstring root;
  std::uint32_t noMediumDisks = 0;  // bit n: disk n passed over without a medium
};
LocateRun Locate();
// "  Disk 0 has no medium (an empty card reader): passed over.\n" for each.
void PrintPassedOver(std::FILE* out, std::uint32_t noMediumDisks);
// The object of tavu-sim.md's locate fields, with the machine's disks.
void WriteLocateJson(JsonWriter& json, sim::SimMachine& machine, const LocateRun& run);
const char* LocateMeaning(int result);

struct ArmRun {
  std::uint32_t result = 0;
  const char* route = nullptr;  // "boot-manager", "partition-table" or none
  std::vector<sim::SimMessageBox> boxes;
  std::vector<sim::SimLaunchReport> launches;
  std::vector<std::wstring> tempFilesLeft;
  sim::SimRestart restart;
  bool taskRegistered = false;
  std::uint32_t noMediumDisks = 0;  // as the worker's search saw them
  std::uint64_t programEndMs = 0;   // the machine's clock when the worker ended
  // The group or user the registered task runs for, and what it starts.
  std::wstring taskPrincipal;
  std::wstring taskPath;
  std::wstring taskArguments;
};
// The recovery worker, as the window starts it after Yes.
ArmRun Arm(sim::SimMachine& machine);
void WriteArmJson(JsonWriter& json, sim::SimMachine& machine, const ArmRun& run);
// Pieces of the JSON that arm, logon and launcher share.
void WriteBoxesJson(JsonWriter& json, const std::vector<sim::SimMessageBox>& boxes);
void WriteProcessesJson(JsonWriter& json, const std::vector<sim::SimLaunchReport>& launches);
// "task_registered", "task_principal", "task_action" of the launcher's task.
void WriteTaskJson(JsonWriter& json, sim::SimMachine& machine);
void WriteBootStoreJson(JsonWriter& json, sim::SimMachine& machine);
// What ran at a start of Windows and a logon, or in one launcher mode.
struct TaskRun {
  std::wstring task;
  const char* trigger;  // "start-up" or "logon"
  std::wstring path;
  std::wstring arguments;
  int exitCode = 0;
};
struct ProgramRuns {
  std::vector<TaskRun> tasks;
  int result = 0;  // the launcher mode's exit code
};
// A restart into Windows: the moves pending at restart, the tasks that start
// with Windows, then those of the first administrator's logon.
ProgramRuns Logon(sim::SimMachine& machine);
// The launcher at path, started with commandLine.
ProgramRuns RunLauncher(sim::SimMachine& machine, const std::wstring& path, const std::wstring& commandLine);
void WriteRunJson(JsonWriter& json, sim::SimMachine& machine, const ProgramRuns& runs, bool launcher);
// What the next start of the machine does, with the firmware mode as the
// maker's tool left it.
NextStartReport BootOf(sim::SimMachine& machine, MenuRule rule);
// The launcher's program for the machine: a task's action or "launcher"
// starts it as a new process with its command line.
void InstallLauncherProgram(sim::SimMachine& machine);
// The boot store's value of an element, several values joined by blanks.
std::string BootValue(sim::SimBcdStore& store, const wchar_t* id, const wchar_t* element);

struct PatchRun {
  struct LayoutWrite {
    int disk;
    std::uint32_t index;  // the partition number: its 1-based place in the table
    bool ok;
  };
  std::vector<std::string> log;  // without time stamps and line ends
  std::vector<LayoutWrite> layoutWrites;
  std::vector<sim::SimVolumes::Assignment> lettersAssigned;  // by this pass
  // Volumes that arrived after this pass's own table writes; an earlier
  // program's (the arming's diskpart) are not the patcher's doing.
  std::vector<sim::SimVolumes::Arrival> arrivals;
  std::string launcher;  // "replaced", "kept", "absent" or "at restart"
  std::vector<sim::SimFiles::RestartMove> pendingRenames;
  std::vector<sim::SimMessageBox> boxes;
  std::uint64_t programEndMs = 0;
  bool carried = false;
  std::size_t carriedBytes = 0;
};
// The patcher's whole pass.
PatchRun Patch(sim::SimMachine& machine);
void WritePatchJson(JsonWriter& json, sim::SimMachine& machine, const PatchRun& run, bool writtenToImages);

}  // namespace tavu::tool
