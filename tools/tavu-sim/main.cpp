// tavu-sim: the launcher's and the patcher's logic on a simulated Windows
// machine built from disk images. This file is the table of commands and the
// machine the options describe; each command lives in its own cmd_*.cpp.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/formats/whole_disk.h"
#include "tools/tavu-sim/command_runs.h"
#include "tools/tavu-sim/input_files.h"
#include "tools/tavu-sim/json_errors.h"
#include "tools/tavu-sim/machine_state.h"
#include "tools/tavu-sim/machine_view.h"
#include "tools/tavu-sim/sim_command.h"

namespace {

struct KnownCommand {
  const char* name;
  const char* runs;
};

constexpr KnownCommand kCommands[] = {
    {"locate", "FindRecoveryPartition, QueryPartitionStyle and FindRecoveryVolume"},
    {"arm", "the recovery worker, as after Yes in the window"},
    {"patch", "the patcher's whole pass"},
    {"check", "the support check of every decision the launcher would take; changes nothing"},
    {"demo", "locate, arm and patch on the embedded default machine"},
    {"boot", "what the next start of the machine does; changes nothing"},
    {"logon", "a restart into Windows, its start-up tasks, then the first administrator's logon"},
    {"launcher", "SWITCH: the installed launcher run with /CHECK, /DISABLE, /ENABLE or /AUTO"},
};

// The usage: on err after a usage error (status 2), in full on standard output
// when asked for, and in full on err when no argument was given at all.
int Usage(const std::string& reason, std::FILE* out = stderr, bool full = false) {
  if (!reason.empty()) std::fprintf(stderr, "tavu-sim: %s\n", reason.c_str());
  std::fprintf(out,
               "usage: tavu-sim [MACHINE OPTIONS] COMMAND [--json] [--write]\n"
               "       tavu-sim demo [--mbr] [--images DIR] [--json] [--write]\n"
               "       tavu-sim --help | --version\n"
               "commands:\n");
  for (const KnownCommand& c : kCommands) std::fprintf(out, "  %-7s %s\n", c.name, c.runs);
  if (!full) {
    std::fprintf(out, "every option: tavu-sim --help\n");
    return 2;
  }
  std::fprintf(
      out, "options (--opt VALUE and --opt=VALUE alike; disks are numbered from 0 in the order given):\n");
  tavu::tool::PrintOptionHelp(out);
  std::fprintf(out, "  %-26s %s\n  %-26s %s\n", "-h, --help", "this text", "--version",
               "the tool's version and the carried launcher's FileVersion");
  std::fprintf(
      out,
      "Without --write the images are never changed. --root is left as it was but for what the\n"
      "simulated programs write there (the patcher's files, the logs).\n"
      "exit status: 0 ran, 1 check: not ready (abort, armed or half-armed), 2 usage error or unusable\n"
      "input, 3 check: could not finish\n");
  return out == stderr ? 2 : 0;
}

int Version(int argc, char** argv) {
  std::string carried = TAVU_DEFAULT_CARRIED_LAUNCHER;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--carried-launcher") carried = argv[i + 1];
  }
  std::ifstream in(carried, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::printf("tavu-sim %s\n", TAVU_TOOL_VERSION);
  if (!in && bytes.empty()) {
    std::printf("carried launcher: %s (not there)\n", carried.c_str());
  } else {
    std::printf("carried launcher: %s, FileVersion %s\n", carried.c_str(),
                tavu::tool::CarriedVersion(bytes).c_str());
  }
  return 0;
}

// The folder for C: when --root is not given; removed when the run ends.
class TemporaryRoot {
 public:
  TemporaryRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavu-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TemporaryRoot() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

static int RunTool(int argc, char** argv) {
  using namespace tavu;
  tool::SimOptions options;
  std::string error;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return Usage("", stdout, true);
    if (arg == "--version") return Version(argc, argv);
  }
  if (argc < 2) return Usage("no command given", stderr, true);
  if (tool::ParseSimOptions(argc, argv, &options, &error) != 0) return Usage(error);
  bool known = false;
  for (const KnownCommand& c : kCommands) known = known || options.command == c.name;
  if (!known) return Usage("unknown command '" + options.command + "'");
  tool::SimCommandFn run = tool::FindSimCommand(options.command);
  if (run == nullptr) {
    std::fprintf(stderr, "tavu-sim: command '%s' is not built yet\n", options.command.c_str());
    return 2;
  }

  if (tool::CheckInputFiles(options, stderr) != 0) return 2;

  TemporaryRoot temporary;
  const std::string root = options.root.empty() ? temporary.path() : options.root;
  std::error_code ec;
  // A root asked for that does not exist yet is made, as an empty drive C:,
  // and removed again when the machine cannot be set up.
  tool::PlantedFiles planted;
  if (!root.empty() && !std::filesystem::exists(root, ec)) planted.MakeFolders(root);
  if (root.empty() || !std::filesystem::is_directory(root, ec)) {
    std::fprintf(stderr, "tavu-sim: cannot use root folder '%s': not a folder\n", root.c_str());
    return 2;
  }
  sim::SimMachine machine(root);
  machine.disks().SetWriteThrough(options.write);
  for (const tool::DiskOption& disk : options.disks) {
    if (disk.kind == sim::DiskKind::Absent) {
      machine.AddAbsent();
    } else if (disk.kind == sim::DiskKind::CardReader) {
      machine.AddCardReader();
    } else if (!machine.AddDisk(disk.image, disk.kind, disk.sectorSize, &error)) {
      std::fprintf(stderr, "tavu-sim: cannot read image '%s': %s\n", disk.image.c_str(), error.c_str());
      return 2;
    } else {
      // What the machine cannot present truthfully is refused rather than
      // shown as a disk without a recovery partition.
      const sim::DiskImage& image = *machine.disks().Image(machine.disks().Count() - 1);
      const std::string problem = sim::WholeDiskProblem(image, disk.kind != sim::DiskKind::Fixed);
      if (!problem.empty()) {
        std::fprintf(stderr, "tavu-sim: cannot read image '%s': %s\n", disk.image.c_str(), problem.c_str());
        return 2;
      }
    }
  }
  machine.Install();
  tool::SimContext context{machine, options, stdout, stderr};
  for (tool::MachineSetupFn setup : tool::MachineSetups()) {
    if (int status = setup(context); status != 0) return status;
  }
  // What Windows kept from an earlier run replaces what the options made.
  if (!options.state.empty() && !tool::LoadMachineState(machine, options.state, &error)) {
    std::fprintf(stderr, "tavu-sim: cannot read state '%s': %s\n", options.state.c_str(), error.c_str());
    return 2;
  }
  machine.SetRestartCancelled(options.restartCancelled);
  // Writes are counted, and the power cut, from here on: what the tool did to
  // stand up the machine is no write of the programs.
  machine.faults().CutPowerAfter(options.stopAfter);
  tool::InstallLauncherProgram(machine);
  // The root the caller asked for stays; what the tool made in it to stand up
  // the machine goes when the run ends.
  planted.Keep(root);
  int status = run(context);
  const bool readOnly = options.command == "check" || options.command == "boot";
  if (status != 2 && options.write && !options.state.empty() && !readOnly &&
      !tool::SaveMachineState(machine, options.state, &error)) {
    std::fprintf(stderr, "tavu-sim: cannot write state '%s': %s\n", options.state.c_str(), error.c_str());
    status = 2;
  }
  std::fflush(stdout);
  SetPlatform(Platform{});
  return status;
}

// check's caller that reads JSON hears of a usage error in JSON too.
int main(int argc, char** argv) {
  if (tavu::tool::CheckAnswersInJson(argc, argv)) return tavu::tool::RunWithJsonErrors(argc, argv, RunTool);
  return RunTool(argc, argv);
}
