// A simulated Windows machine that the logic runs on in native tests and in
// tavu-sim: a folder for C:, and (as they are added) disks, volumes, processes,
// WMI, tasks, a firmware device and the user's message boxes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/platform.h"
#include "sim/sim_disks.h"
#include "sim/sim_faults.h"
#include "sim/sim_files.h"
#include "sim/sim_handles.h"
#include "sim/sim_paths.h"
#include "sim/sim_system.h"
#include "sim/sim_volumes.h"

namespace tavu::sim {

class SimMachine {
 public:
  // root: the host folder that stands for C:. It must exist.
  explicit SimMachine(const std::string& root);
  ~SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  // Makes this machine the platform the logic runs on.
  void Install();
  Platform platform() const { return platform_; }

  SimFaults& faults() { return faults_; }
  SimHandles& handles() { return handles_; }
  SimPaths& paths() { return paths_; }
  SimFiles& files() { return files_; }
  SimSystem& system() { return system_; }
  SimDisks& disks() { return disks_; }
  SimVolumes& volumes() { return volumes_; }

  // The next physical disk (numbers follow the order of the calls); its
  // volumes are presented and lettered as at machine start. False with *error
  // (the reason) when the image cannot be opened.
  bool AddDisk(const std::string& imagePath, DiskKind kind, std::string* error = nullptr);
  void AddDiskBytes(std::vector<std::uint8_t> bytes, DiskKind kind = DiskKind::Fixed);
  void AddAbsent();

  // The host path of a Windows path on C:.
  std::string HostPath(const std::wstring& windowsPath) const;

 protected:
  Platform platform_;

 private:
  SimFaults faults_;
  SimHandles handles_;
  SimPaths paths_;
  SimFiles files_;
  SimSystem system_;
  SimDisks disks_;
  SimVolumes volumes_;
};

}  // namespace tavu::sim
