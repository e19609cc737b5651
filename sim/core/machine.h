// A simulated Windows machine that the logic runs on in native tests and in
// tavu-sim: a folder for C:, and (as they are added) disks, volumes, processes,
// WMI, tasks, a firmware device and the user's message boxes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/platform.h"
#include "sim/core/faults.h"
#include "sim/core/handles.h"
#include "sim/core/paths.h"
#include "sim/programs/windows_tools.h"
#include "sim/seam/com.h"
#include "sim/seam/disks.h"
#include "sim/seam/files.h"
#include "sim/seam/firmware.h"
#include "sim/seam/processes.h"
#include "sim/seam/record.h"
#include "sim/seam/resources.h"
#include "sim/seam/startup.h"
#include "sim/seam/system.h"
#include "sim/seam/tasks.h"
#include "sim/seam/ui.h"
#include "sim/seam/volumes.h"
#include "sim/seam/wmi.h"

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
  // (the reason) when the image cannot be opened. sectorSize: the disk's
  // logical sector size (512 or 4096), by default found from the image.
  bool AddDisk(const std::string& imagePath, DiskKind kind, std::string* error = nullptr);
  bool AddDisk(const std::string& imagePath, DiskKind kind, std::uint32_t sectorSize, std::string* error);
  void AddDiskBytes(std::vector<std::uint8_t> bytes, DiskKind kind = DiskKind::Fixed,
                    std::uint32_t sectorSize = kSectorSizeFromImage);
  // A disk over bytes that other machines' disks may share (a test's many runs).
  void AddSharedDisk(std::shared_ptr<const std::vector<std::uint8_t>> bytes, DiskKind kind = DiskKind::Fixed,
                     std::uint32_t sectorSize = kSectorSizeFromImage);
  void AddAbsent();
  // An empty card-reader slot as the next disk, with its drive letter.
  void AddCardReader();
  SimCom& com() { return com_; }
  SimProcesses& processes() { return processes_; }
  SimUi& ui() { return ui_; }
  SimWmi& wmi() { return wmi_; }
  SimTasks& tasks() { return tasks_; }
  SimFirmware& firmware() { return firmware_; }
  SimStartup& startup() { return startup_; }
  SimResources& resources() { return resources_; }
  SimRecord& record() { return record_; }
  SimWindowsTools& windowsTools() { return windowsTools_; }

  // Windows' display language: account names, bcdedit's listing, code pages.
  void SetLanguage(const SimLanguage& language);
  const SimLanguage& language() const { return *language_; }

  // Time passes after the programs ended, until every volume still to arrive
  // has arrived: the machine as its owner finds it a moment later.
  void Settle();
  // The machine restarts: the moves asked for at restart are carried out and
  // no program runs any more.
  void Restart() { files_.Restart(); }

  // Whether a restart that shutdown.exe was asked for takes place, or is
  // called off (shutdown /a, or a program holding it and the owner choosing
  // Cancel): then Windows tells the programs that the session is not ending.
  void SetRestartCancelled(bool cancelled) { restartCancelled_ = cancelled; }

  // Programs the machine can run that live outside it (the launcher's own
  // modes, handed over by whoever builds the machine): a task's action or a
  // start by name runs them with their command line.
  using ProgramMain = std::function<int(const std::wstring& modulePath, const std::wstring& commandLine)>;
  void SetLauncherProgram(ProgramMain program) { launcherProgram_ = std::move(program); }
  const ProgramMain& launcherProgram() const { return launcherProgram_; }

  // The host path of a Windows path on C:.
  std::string HostPath(const std::wstring& windowsPath) const;

 protected:
  Platform platform_;

 private:
  SimFaults faults_;
  SimHandles handles_;
  SimPaths paths_;
  SimSystem system_;
  SimFiles files_;
  SimDisks disks_;
  SimVolumes volumes_;
  SimCom com_{faults_};
  SimProcesses processes_{paths_, handles_, faults_, system_.wow64()};
  SimUi ui_{faults_};
  SimWmi wmi_{handles_, faults_, com_, system_.wow64()};
  SimTasks tasks_{handles_, faults_, com_, system_.wow64()};
  SimFirmware firmware_{handles_, faults_};
  SimStartup startup_{handles_, faults_};
  SimResources resources_{paths_, faults_};
  SimRecord record_;
  SimWindowsTools windowsTools_{paths_, disks_, volumes_, processes_};
  const SimLanguage* language_ = &DefaultSimLanguage();
  bool restartCancelled_ = false;
  ProgramMain launcherProgram_;
};

}  // namespace tavu::sim
