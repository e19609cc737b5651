#include "sim/sim_machine.h"

namespace tavu::sim {

SimMachine::SimMachine(const std::string& root)
    : paths_(root), files_(paths_, handles_, faults_) {
  platform_.files = &files_;
  platform_.system = &system_;
  platform_.resources = &resources_;
}

SimMachine::~SimMachine() = default;

void SimMachine::Install() { SetPlatform(platform_); }

std::string SimMachine::HostPath(const std::wstring& windowsPath) const {
  std::string host;
  paths_.ToHost(windowsPath, &host);
  return host;
}

}  // namespace tavu::sim
