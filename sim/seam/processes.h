// Programs on the simulated machine: every launch is recorded, and what a
// launched program does is a callable registered by its full path (Windows'
// own tools, no file needed) or by its file name (a program that runs where a
// file of that name lies on the simulated C:, such as the maker's FwMode.exe).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/process_api.h"
#include "sim/core/environment.h"
#include "sim/core/faults.h"
#include "sim/core/handles.h"
#include "sim/core/paths.h"
#include "sim/core/wow64.h"

namespace tavu::sim {

struct SimLaunch {
  std::wstring file;              // as passed
  std::wstring image;             // the file Windows looked for, after WOW64 redirection
  std::wstring parameters;        // the command line after the program's own name
  std::wstring commandLine;       // the whole command line as passed
  std::wstring directory;         // as passed ("" for null)
  int show = 0;                   // SW_ value as passed
  std::wstring currentDirectory;  // the process's current directory at the launch
  SimEnvironment environment;     // what the new process received
  bool redirectionOff = false;    // WOW64 redirection was off on the starting thread
  bool started = false;
  std::uint32_t error = 0;     // the launch's last error when not started
  std::uint32_t exitCode = 0;  // when started
};

// What a simulated program does; runs when it is launched, on the launching
// thread, and returns its exit code.
using SimProgram = std::function<std::uint32_t(const SimLaunch& launch)>;

class SimProcesses : public ProcessApi {
 public:
  // Program files are looked up as the calling thread of a 32-bit program
  // sees them: with its WOW64 redirection.
  SimProcesses(SimPaths& paths, SimHandles& handles, SimFaults& faults, SimWow64& wow64);

  // The program's file is looked up at image alone, as CreateProcessW does
  // when it is given the application name; a block of null inherits the
  // owner's environment.
  bool Create(const wchar_t* image, wchar_t* commandLine, const wchar_t* directory, int show,
              const wchar_t* environment, Handle* process) override;
  bool Wait(Handle process) override;
  bool ExitCode(Handle process, std::uint32_t* code) override;

  // A program at this full path (matched without regard to case, after
  // redirection); replaces an earlier one. Such a program needs no file on the
  // simulated C:.
  void Register(const std::wstring& fullPath, SimProgram program);
  // A program that runs wherever a file of this name exists on the simulated
  // C:. FwMode.exe is registered from the start: it records nothing beyond its
  // launch and ends with fwModeExitCode. A file that exists but has no program
  // registered runs as a program that does nothing and ends with 0.
  void RegisterFileProgram(const std::wstring& fileName, SimProgram program);
  void SetFwModeExitCode(std::uint32_t code) { fwModeExitCode_ = code; }
  // The firmware mode as FwMode.exe last left it ("/enable" or "/disable").
  bool firmwareMode() const {
    std::lock_guard<std::mutex> hold(lock_);
    return firmwareMode_;
  }
  void SetFirmwareMode(bool on) {
    std::lock_guard<std::mutex> hold(lock_);
    firmwareMode_ = on;
  }

  // The environment of the owner, who started the elevated program: what a
  // program started without an environment of its own inherits.
  void SetOwnerVariable(const std::wstring& name, const std::wstring& value);
  SimEnvironment ownerEnvironment() const;

  // Whether a program is there at this full path, as a process that has no
  // redirection sees it: a registered program or a file on the simulated C:.
  bool ProgramExists(const std::wstring& image) const;
  // A program that a simulated program starts: recorded as a launch of its
  // own, found at image without redirection (the parent looked it up in its
  // own view). False with *error when there is nothing to start.
  bool StartChild(const std::wstring& image, const std::wstring& parameters, const std::wstring& directory,
                  const SimEnvironment& environment, std::uint32_t* exitCode, std::uint32_t* error);

  std::vector<SimLaunch> launches() const;
  // The launches whose file name (the part after the last '\') is name.
  std::vector<SimLaunch> LaunchesOf(const std::wstring& name) const;
  void ClearLaunches();

 private:
  SimPaths& paths_;
  SimHandles& handles_;
  SimFaults& faults_;
  SimWow64& wow64_;
  // Records the launch, runs its program and gives the new process.
  bool Start(SimLaunch launch, const std::wstring& lookup, Handle* process, std::uint32_t* exitCode);
  bool FindProgram(const std::wstring& image, SimProgram* program) const;

  mutable std::mutex lock_;
  SimEnvironment owner_ = OwnerEnvironment();
  std::map<std::wstring, SimProgram> byPath_;      // upper-cased absolute path
  std::map<std::wstring, SimProgram> byFileName_;  // upper-cased file name
  std::vector<SimLaunch> launches_;
  std::uint32_t fwModeExitCode_ = 0;
  bool firmwareMode_ = false;
};

}  // namespace tavu::sim
