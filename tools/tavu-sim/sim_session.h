// One run of tavu-sim: the machine options read from the command line and the
// simulated machine built from them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/sim_machine.h"

namespace tavu::tool {

struct DiskOption {
  sim::DiskKind kind;
  std::string image;  // empty for an absent disk
};

struct SimSession {
  std::vector<DiskOption> disks;
  std::string root;  // empty: a fresh temporary folder
  std::string carriedLauncher;
  bool carriedLauncherGiven = false;
  bool json = false;
  bool write = false;
  std::string command;

  std::unique_ptr<sim::SimMachine> machine;
  std::string tempRoot;  // removed at exit when the session made it
};

}  // namespace tavu::tool
