// The Windows tools the launcher starts, as the simulated machine runs them:
// cmd.exe running a batch file (ECHO, CHCP, REM, EXIT and bcdedit with output
// redirection), diskpart.exe /s with a script, shutdown.exe. Each run of a
// script records the script's bytes as they stood when the program started.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/core/environment.h"
#include "sim/core/faults.h"
#include "sim/core/paths.h"
#include "sim/programs/bcd_store.h"
#include "sim/programs/diskpart.h"

namespace tavu::sim {

struct SimScriptRun {
  std::wstring program;     // "cmd.exe" or "diskpart.exe"
  std::wstring parameters;  // as the program received them
  std::wstring scriptPath;  // the script file named in the parameters
  bool scriptRead = false;  // false when the file could not be read
  std::string script;       // its bytes at the start
  std::wstring output;      // what the program printed (standard output and error)
  std::uint32_t exitCode = 0;
  std::size_t offlineVolumes = 0;  // diskpart: volumes offline when it started
};

struct SimRestart {
  bool pending = false;
  bool reboot = false;  // -r; otherwise a shutdown (-s)
  int seconds = 30;     // shutdown.exe's default delay
};

class SimProcesses;

class SimPrograms {
 public:
  SimPrograms(SimPaths& paths, SimBcdStore& store, SimDiskpartTarget& disks)
      : paths_(paths), store_(store), disks_(disks) {}

  // cmd.exe with its parameter text, working directory and environment (null:
  // the system's). native: the 64-bit command processor; the 32-bit one of
  // SysWOW64 sees SysWOW64 where it looks in System32, and bcdedit exists
  // only in the native System32. Unless its switches hold /d it first runs
  // the owner's AutoRun command. A command without a folder is looked for as
  // cmd.exe looks: the current folder, then each folder of PATH, each name
  // tried with every extension of PATHEXT in order unless it has one.
  std::uint32_t Cmd(const std::wstring& parameters, const std::wstring& directory, bool native,
                    const SimEnvironment* environment = nullptr);
  // diskpart.exe with "/s FILE".
  std::uint32_t Diskpart(const std::wstring& parameters, const std::wstring& directory);
  // shutdown.exe: -r, -s, -a, -t N (also with '/').
  std::uint32_t Shutdown(const std::wstring& parameters);

  // Called with the host path of each file a program read or wrote, once it
  // is done with it: what an anti-malware scanner opens next.
  void SetFileUsed(std::function<void(const std::string& hostPath)> used) { used_ = std::move(used); }

  // The console code page a new command processor starts in.
  void SetOemCodePage(int codePage) { oemCodePage_ = codePage; }
  // HKCU\Software\Microsoft\Command Processor\AutoRun of the owner.
  void SetAutoRun(const std::wstring& commandLine) { autoRun_ = commandLine; }
  // Where a program that cmd.exe finds is started, as a process of its own.
  // Without them it is looked for among the files of the simulated C: and
  // counts as having run with exit code 0.
  void SetProcesses(SimProcesses* processes) { processes_ = processes; }
  // Where each change of the boot store asks whether the power still holds.
  void SetFaults(SimFaults* faults) { faults_ = faults; }

  const std::vector<SimScriptRun>& scriptRuns() const { return runs_; }
  const SimRestart& restart() const { return restart_; }
  // The pending restart is called off (shutdown /a, or a program that held it).
  void CancelRestart() { restart_ = SimRestart{}; }

 private:
  std::string Host(const std::wstring& path, const std::wstring& directory) const;
  bool ReadScript(const std::wstring& path, const std::wstring& directory, SimScriptRun* run) const;
  struct CmdState;
  std::uint32_t RunBatchLine(const std::wstring& line, CmdState& cmd, bool* exitNow);
  std::uint32_t RunCommandLine(const std::wstring& line, CmdState& cmd, bool* exitNow);
  // The file a command names, in the real file system ("" when none).
  std::wstring FindCommand(const std::wstring& name, const CmdState& cmd) const;
  bool Exists(const std::wstring& path) const;

  SimPaths& paths_;
  SimBcdStore& store_;
  SimDiskpartTarget& disks_;
  int oemCodePage_ = 437;
  std::wstring autoRun_;
  SimProcesses* processes_ = nullptr;
  SimFaults* faults_ = nullptr;
  std::function<void(const std::string&)> used_;
  std::vector<SimScriptRun> runs_;
  SimRestart restart_;
};

}  // namespace tavu::sim
