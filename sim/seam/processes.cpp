#include "sim/seam/processes.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "common/win_errors.h"
#include "sim/core/last_error.h"
#include "sim/core/operation.h"
#include "sim/core/text.h"

namespace tavu::sim {

namespace {

struct SimProcess : SimObject {
  std::uint32_t exitCode = 0;
};

std::wstring FileNameOf(const std::wstring& path) {
  auto sep = path.find_last_of(L"\\/");
  return sep == std::wstring::npos ? path : path.substr(sep + 1);
}

// What the new program sees as its parameters: the command line after its
// own name, quoted or not, and the blanks that follow it.
std::wstring ParametersOf(const std::wstring& commandLine) {
  std::size_t at = 0;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    std::size_t close = commandLine.find(L'"', 1);
    at = close == std::wstring::npos ? commandLine.size() : close + 1;
  } else {
    at = std::min(commandLine.find_first_of(L" \t"), commandLine.size());
  }
  while (at < commandLine.size() && (commandLine[at] == L' ' || commandLine[at] == L'\t')) ++at;
  return commandLine.substr(at);
}

}  // namespace

SimProcesses::SimProcesses(SimPaths& paths, SimHandles& handles, SimFaults& faults, SimWow64& wow64)
    : paths_(paths), handles_(handles), faults_(faults), wow64_(wow64) {
  // The maker's tool keeps the mode in the firmware, which the power does not clear.
  RegisterFileProgram(L"FwMode.exe", [this](const SimLaunch& launch) {
    const std::wstring arguments = AsciiLower(launch.parameters);
    const bool on = arguments.find(L"/enable") != std::wstring::npos;
    const bool off = arguments.find(L"/disable") != std::wstring::npos;
    if (on != off) {
      if (!faults_.PersistentWrite(on ? "firmware mode: on" : "firmware mode: off")) return 1u;
      {
        std::lock_guard<std::mutex> hold(lock_);
        firmwareMode_ = on;
      }
      faults_.WriteDone();
    }
    return fwModeExitCode_;
  });
}

void SimProcesses::Register(const std::wstring& fullPath, SimProgram program) {
  std::lock_guard<std::mutex> hold(lock_);
  byPath_[AsciiUpper(paths_.Absolute(fullPath))] = std::move(program);
}

void SimProcesses::RegisterFileProgram(const std::wstring& fileName, SimProgram program) {
  std::lock_guard<std::mutex> hold(lock_);
  byFileName_[AsciiUpper(fileName)] = std::move(program);
}

bool SimProcesses::Create(const wchar_t* image, wchar_t* commandLine, const wchar_t* directory, int show,
                          const wchar_t* environment, Handle* process) {
  if (process != nullptr) *process = nullptr;
  SimLaunch launch;
  launch.file = image != nullptr ? image : L"";
  launch.commandLine = commandLine != nullptr ? commandLine : L"";
  launch.parameters = ParametersOf(launch.commandLine);
  launch.directory = directory != nullptr ? directory : L"";
  launch.show = show;
  launch.environment = environment != nullptr ? ParseEnvironmentBlock(environment) : ownerEnvironment();
  launch.redirectionOff = wow64_.windows64() && !wow64_.RedirectionOn();
  if (!launch.file.empty()) launch.image = wow64_.Redirect(paths_.Absolute(launch.file));
  std::wstring lookup = launch.image;
  return Start(std::move(launch), lookup, process, nullptr);
}

bool SimProcesses::FindProgram(const std::wstring& image, SimProgram* program) const {
  std::wstring key = AsciiUpper(image);
  auto byPath = byPath_.find(key);
  if (byPath != byPath_.end()) {
    *program = byPath->second;
    return true;
  }
  std::string host;
  struct stat st {};
  if (!paths_.ToHost(image, &host) || ::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  auto byName = byFileName_.find(AsciiUpper(FileNameOf(key)));
  if (byName != byFileName_.end()) *program = byName->second;
  return true;
}

bool SimProcesses::ProgramExists(const std::wstring& image) const {
  std::lock_guard<std::mutex> hold(lock_);
  SimProgram program;
  return FindProgram(paths_.Absolute(image), &program);
}

bool SimProcesses::Start(SimLaunch launch, const std::wstring& lookup, Handle* process,
                         std::uint32_t* exitCodeOut) {
  launch.currentDirectory = paths_.current();
  SimProgram program;
  bool found = false;
  bool failed = faults_.Fail(SimOp::ProcessStart);
  // A machine without power starts nothing, and nothing is seen to start.
  if (faults_.PowerOff()) {
    SetLastError(kErrorNotReady);
    return false;
  }
  if (failed) {
    launch.error = kErrorAccessDenied;
  } else if (!lookup.empty()) {
    std::lock_guard<std::mutex> hold(lock_);
    found = FindProgram(lookup, &program);
  }
  if (!failed && !found) launch.error = kErrorFileNotFound;

  std::size_t slot = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    launch.started = launch.error == 0;
    slot = launches_.size();
    launches_.push_back(launch);
  }
  if (launch.error != 0) {
    SetLastError(launch.error);
    return false;
  }
  // Recorded before it runs, so that what it starts in turn comes after it;
  // runs outside the lock, since it may start others.
  std::uint32_t exitCode = program ? program(launch) : 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    launches_[slot].exitCode = exitCode;
  }
  if (exitCodeOut != nullptr) *exitCodeOut = exitCode;
  if (process != nullptr) {
    auto p = std::make_unique<SimProcess>();
    p->exitCode = exitCode;
    *process = handles_.Add(std::move(p));
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool SimProcesses::StartChild(const std::wstring& image, const std::wstring& parameters,
                              const std::wstring& directory, const SimEnvironment& environment,
                              std::uint32_t* exitCode, std::uint32_t* error) {
  SimLaunch launch;
  launch.file = image;
  launch.image = paths_.Absolute(image);
  launch.parameters = parameters;
  launch.commandLine = L"\"" + image + L"\"" + (parameters.empty() ? L"" : L" " + parameters);
  launch.directory = directory;
  launch.environment = environment;
  std::wstring lookup = launch.image;
  if (!Start(std::move(launch), lookup, nullptr, exitCode)) {
    *error = GetLastErrorValue();
    return false;
  }
  return true;
}

void SimProcesses::SetOwnerVariable(const std::wstring& name, const std::wstring& value) {
  std::lock_guard<std::mutex> hold(lock_);
  SetEnvironmentValue(owner_, name, value);
}

SimEnvironment SimProcesses::ownerEnvironment() const {
  std::lock_guard<std::mutex> hold(lock_);
  return owner_;
}

bool SimProcesses::Wait(Handle process) {
  if (Enter<SimProcess>(handles_, faults_, process, SimOp::ProcessWait) == nullptr) return false;
  // The program ran to its end when it was launched.
  return true;
}

bool SimProcesses::ExitCode(Handle process, std::uint32_t* code) {
  SimProcess* p = Enter<SimProcess>(handles_, faults_, process, SimOp::ExitCode);
  if (p == nullptr) return false;
  *code = p->exitCode;
  return true;
}

std::vector<SimLaunch> SimProcesses::launches() const {
  std::lock_guard<std::mutex> hold(lock_);
  return launches_;
}

std::vector<SimLaunch> SimProcesses::LaunchesOf(const std::wstring& name) const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<SimLaunch> out;
  for (const SimLaunch& l : launches_) {
    if (AsciiUpper(FileNameOf(l.file)) == AsciiUpper(name)) out.push_back(l);
  }
  return out;
}

void SimProcesses::ClearLaunches() {
  std::lock_guard<std::mutex> hold(lock_);
  launches_.clear();
}

}  // namespace tavu::sim
