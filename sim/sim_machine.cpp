#include "sim/sim_machine.h"

namespace tavu::sim {

SimMachine::SimMachine(const std::string& root)
    : paths_(root), files_(paths_, handles_, faults_) {
  platform_.files = &files_;
  platform_.system = &system_;
  platform_.com = &com_;
  platform_.processes = &processes_;
  platform_.ui = &ui_;
  platform_.wmi = &wmi_;
  platform_.tasks = &tasks_;
  platform_.firmware = &firmware_;
}

// A worker thread still running would use components that are about to go.
SimMachine::~SimMachine() { ui_.JoinThreads(); }

void SimMachine::Install() { SetPlatform(platform_); }

std::string SimMachine::HostPath(const std::wstring& windowsPath) const {
  std::string host;
  paths_.ToHost(windowsPath, &host);
  return host;
}

}  // namespace tavu::sim
