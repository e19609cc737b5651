// tavu-sim: the launcher's and the patcher's logic on a simulated Windows
// machine built from disk images. This file is the table of commands and the
// machine the options describe; each command lives in its own cmd_*.cpp.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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
    {"demo", "locate, arm and patch on the embedded default machine"},
};

int Usage(const std::string& reason) {
  if (!reason.empty()) std::fprintf(stderr, "tavu-sim: %s\n", reason.c_str());
  std::fprintf(stderr,
               "usage: tavu-sim [--disk IMG] [--usb-disk IMG] [--removable IMG] [--absent]\n"
               "                [--root DIR] [--manufacturer TEXT] [--bitlocker LIST]\n"
               "                [--bcd-listing FILE] [--carried-launcher FILE] [--fwmode present|absent]\n"
               "                COMMAND [--json] [--write]\n"
               "       tavu-sim demo [--mbr] [--images DIR] [--json] [--write]\n"
               "commands:\n");
  for (const KnownCommand& c : kCommands) std::fprintf(stderr, "  %-7s %s\n", c.name, c.runs);
  return 2;
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

int main(int argc, char** argv) {
  using namespace tavu;
  tool::SimOptions options;
  std::string error;
  if (tool::ParseSimOptions(argc, argv, &options, &error) != 0) return Usage(error);
  bool known = false;
  for (const KnownCommand& c : kCommands) known = known || options.command == c.name;
  if (!known) return Usage("unknown command '" + options.command + "'");
  tool::SimCommandFn run = tool::FindSimCommand(options.command);
  if (run == nullptr) {
    std::fprintf(stderr, "tavu-sim: command '%s' is not built yet\n", options.command.c_str());
    return 2;
  }

  TemporaryRoot temporary;
  const std::string root = options.root.empty() ? temporary.path() : options.root;
  std::error_code ec;
  if (root.empty() || !std::filesystem::is_directory(root, ec)) {
    std::fprintf(stderr, "tavu-sim: cannot use root folder '%s': not a folder\n", root.c_str());
    return 2;
  }
  sim::SimMachine machine(root);
  machine.disks().SetWriteThrough(options.write);
  for (const tool::DiskOption& disk : options.disks) {
    if (disk.kind == sim::DiskKind::Absent) {
      machine.AddAbsent();
    } else if (!machine.AddDisk(disk.image, disk.kind, &error)) {
      std::fprintf(stderr, "tavu-sim: cannot read image '%s': %s\n", disk.image.c_str(), error.c_str());
      return 2;
    }
  }
  machine.Install();
  tool::SimContext context{machine, options, stdout, stderr};
  for (tool::MachineSetupFn setup : tool::MachineSetups()) {
    if (int status = setup(context); status != 0) return status;
  }
  int status = run(context);
  std::fflush(stdout);
  SetPlatform(Platform{});
  return status;
}
