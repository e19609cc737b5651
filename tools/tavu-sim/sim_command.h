// What a tavu-sim command gets: the machine built from the command line, the
// options as given, and where to print. Commands live in their own files
// (cmd_locate.cpp, cmd_arm.cpp, ...) and register themselves there:
//
//     int RunArm(tavu::tool::SimContext& context);
//     const tavu::tool::SimCommand kArm("arm", RunArm);
//
// Components of the simulated machine that take machine options (the WMI
// manufacturer, BitLocker states, the boot listing, ...) register a setup step
// the same way; steps run after the disks are added and before the command.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/core/machine.h"

namespace tavu::tool {

struct DiskOption {
  std::string image;  // empty for --absent and --card-reader
  sim::DiskKind kind = sim::DiskKind::Fixed;
  std::uint32_t sectorSize = sim::kSectorSizeFromImage;  // --sector-size before it
};

// A file named on the command line that the machine reads ("image",
// "listing", ...): checked before anything is made or opened.
struct InputFile {
  const char* what;
  std::string path;
  bool disk = false;  // a disk image: not empty, not given twice, written with --write
};

// The command line, as given (defaults as tavu-sim.md states them).
struct SimOptions {
  std::vector<DiskOption> disks;
  // --sector-size given, for the disk that comes next (0: none pending).
  std::uint32_t pendingSectorSize = 0;
  std::string root;  // empty: a fresh temporary folder
  std::string manufacturer = "TAVU";
  // What the check's "about" says; empty: the machine's made-up values.
  std::string computer;
  std::string model;
  std::string windowsBuild;  // "10.0.22631"
  bool bitlockerGiven = false;
  std::vector<std::string> bitlocker;  // each "0", "1", "2" or "fail"
  std::string bcdListing;              // empty: a listing made from the disks
  std::string carriedLauncher;         // empty: the built launcher
  bool fwmodePresent = true;
  // Windows as shipped notebooks run it.
  std::string language = "en-US";
  std::uint32_t arrivalMs = 300;
  bool automount = true;
  std::uint32_t scannerHoldMs = 0;
  bool launcherRunning = false;
  // The owner who prepared the machine: variables of the environment an
  // elevated program inherits, and the command processor's AutoRun value.
  std::vector<std::pair<std::string, std::string>> userEnv;
  std::string cmdAutoRun;  // empty: none
  // Where the running launcher lies, and the folders standard users may write.
  std::string launcherPath;               // empty: the installed launcher's path
  std::vector<std::string> userWritable;  // Windows paths
  // Windows RE: "enabled", "disabled", "image-missing" or "orphan"; the text
  // of ReAgent.xml from a file instead of the one the machine makes.
  std::string winre = "enabled";
  std::string reagent;  // empty: the machine's own
  // Security descriptors of files and folders: Windows path, then SDDL.
  std::vector<std::pair<std::string, std::string>> acls;
  bool ownerDefaultCreator = false;  // --owner-default creator
  // Mutexes a standard user's process made in the session's namespace.
  std::vector<std::string> userMutexes;
  std::vector<InputFile> inputFiles;      // in the order given
  // What the machine keeps outside its images, read at start and written
  // back with --write; where the power is cut; whether the restart happens;
  // what the boot manager starts when its menu does not hold the default.
  std::string state;
  std::optional<std::uint64_t> stopAfter;
  bool restartCancelled = false;
  std::string menuRule = "first";
  std::string command;
  std::string launcherSwitch;  // launcher: the command line it is given
  bool json = false;
  bool write = false;
  // check only: the one-line summary; what /record would write.
  bool summary = false;
  bool record = false;
  // demo only: the MBR machine instead of the GPT one; a folder that keeps
  // the images it makes.
  bool mbr = false;
  std::string images;
};

struct SimContext {
  sim::SimMachine& machine;
  const SimOptions& options;
  std::FILE* out;
  std::FILE* err;
};

// A command's result is the process exit status: 0 when it ran, 2 for a usage
// error or an input it cannot read (after one line on err naming it).
using SimCommandFn = int (*)(SimContext&);
using MachineSetupFn = int (*)(SimContext&);

struct SimCommand {
  SimCommand(const char* name, SimCommandFn run);
};
struct MachineSetup {
  explicit MachineSetup(MachineSetupFn setup);
};

SimCommandFn FindSimCommand(const std::string& name);
const std::vector<MachineSetupFn>& MachineSetups();

// One command-line option: its name, its value's name (nullptr when it takes
// none), one line for --help, and what it sets (false, with a one-line reason
// in *error, for a value it refuses).
struct SimOptionRule {
  const char* name;
  const char* value;
  const char* help;
  bool (*apply)(const std::string& value, SimOptions* options, std::string* error);
};

// What the tool itself puts under --root to stand up the machine (the folders
// every Windows has, the firmware-mode tool), as against what the simulated
// programs write there: removed when the run ends, a folder only when it is
// empty by then, so that a caller's root is left as it was. One at a time;
// setup steps reach it through Current().
class PlantedFiles {
 public:
  PlantedFiles();
  ~PlantedFiles();
  PlantedFiles(const PlantedFiles&) = delete;
  PlantedFiles& operator=(const PlantedFiles&) = delete;
  // create_directories, noting each level it made.
  void MakeFolders(const std::string& path);
  void Note(const std::string& path);
  // Not to be removed after all.
  void Keep(const std::string& path);
  static PlantedFiles* Current();

 private:
  std::vector<std::string> paths_;  // in the order made
};

// "10.0.22631": three decimal numbers separated by dots.
bool ParseWindowsBuild(const std::string& text, unsigned (&parts)[3]);

// 0 with *options filled, or 2 with a one-line reason in *error.
int ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* error);
// Every option in a line, as --help shows them.
void PrintOptionHelp(std::FILE* out);

}  // namespace tavu::tool
