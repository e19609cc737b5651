// The Windows tools that arm the recovery, as the simulated machine runs them:
// a boot store changed by bcdedit, cmd.exe, diskpart.exe and shutdown.exe,
// registered with the machine's programs at their System32 paths.
#pragma once

#include <string>
#include <vector>

#include "sim/core/paths.h"
#include "sim/programs/bcd_store.h"
#include "sim/programs/diskpart_on_machine.h"
#include "sim/programs/tool_runs.h"
#include "sim/seam/disks.h"
#include "sim/seam/processes.h"
#include "sim/seam/volumes.h"

namespace tavu::sim {

// A launch as tavu-sim reports it: cmd.exe and diskpart.exe runs carry the
// bytes of the script they were started on.
struct SimLaunchReport {
  SimLaunch launch;
  bool hasScript = false;
  std::string script;
};
// Pairs the machine's launches with the script runs, in order.
std::vector<SimLaunchReport> ReportLaunches(const std::vector<SimLaunch>& launches,
                                            const std::vector<SimScriptRun>& scriptRuns);

class SimWindowsTools {
 public:
  SimWindowsTools(SimPaths& paths, SimDisks& disks, SimVolumes& volumes, SimProcesses& processes);

  // The store starts from this listing instead of the one made from the disks.
  void LoadListing(const std::wstring& listing);
  // The store, made from the disks present now unless a listing was loaded.
  SimBcdStore& store();
  SimPrograms& programs() { return programs_; }
  SimMachineDiskpart& diskpart() { return diskpart_; }

  // The display language of the listing made from the disks, and the code
  // page a new console starts in.
  void SetLanguage(const SimLanguage& language);

  // The state of Windows RE that the listing made from the disks shows.
  void SetWindowsRe(WinReState state) { winre_ = state; }
  // The live recovery loader's identifier in the listing made from the disks.
  void SetRecoveryEntryId(std::wstring id) { recoveryEntryId_ = std::move(id); }

  // What DefaultBcdListing is given for the disks present now.
  BcdMachineFacts FactsFromDisks() const;

 private:
  SimDisks& disks_;
  SimVolumes& volumes_;
  SimBcdStore store_;
  bool loaded_ = false;
  WinReState winre_ = WinReState::Enabled;
  std::wstring recoveryEntryId_;
  const SimLanguage* language_ = &DefaultSimLanguage();
  SimMachineDiskpart diskpart_;
  SimPrograms programs_;
};

}  // namespace tavu::sim
