// The Task Scheduler of the simulated machine: a store of registered tasks that
// keeps every value of each registration.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/task_api.h"
#include "sim/core/faults.h"
#include "sim/core/handles.h"
#include "sim/core/language.h"
#include "sim/core/wow64.h"
#include "sim/seam/com.h"

namespace tavu::sim {

// A registered task, with owned copies of every value it was registered with.
struct SimTask {
  // The texts first, then the numbers, then the flags: no room lost between.
  std::wstring folder;
  std::wstring name;
  std::wstring author;
  std::wstring principalId;
  std::wstring restartInterval;
  std::wstring executionTimeLimit;
  std::wstring triggerId;
  std::wstring secondTriggerId;
  std::wstring actionPath;
  std::wstring actionArguments;
  std::wstring userId;
  std::wstring securityDescriptor;
  std::int32_t principalLogonType = 0;
  std::int32_t runLevel = 0;
  std::int32_t restartCount = 0;
  std::int32_t triggerType = 0;
  std::int32_t secondTriggerType = 0;
  std::int32_t actionType = 0;
  std::int32_t flags = 0;
  std::int32_t logonType = 0;
  bool stopOnIdleEnd = false;
  bool disallowStartIfOnBatteries = false;
  bool stopIfGoingOnBatteries = false;
  bool allowDemandStart = false;
  bool startWhenAvailable = false;
  bool allowHardTerminate = false;
  bool hasSecurityDescriptor = false;
};

class SimTasks : public TaskApi {
 public:
  // wow64: the Task Scheduler and the WMI locator are in-process servers
  // under System32, which a thread with redirection off cannot load.
  SimTasks(SimHandles& handles, SimFaults& faults, SimCom& com, SimWow64& wow64)
      : handles_(handles), faults_(faults), com_(com), wow64_(wow64) {}

  HResult OpenFolder(const wchar_t* folder, Handle* session) override;
  HResult DeleteTask(Handle session, const wchar_t* name) override;
  HResult FindTask(Handle session, const wchar_t* name) override;
  HResult RegisterTask(Handle session, const wchar_t* name, const TaskRegistration& r) override;
  void CloseFolder(Handle session) override;
  HResult FlushStore() override;

  // The task of this name in the root folder, matched without regard to case.
  std::optional<SimTask> Find(const std::wstring& name) const;
  std::size_t Count() const;
  // Every registered task, in name order.
  std::vector<SimTask> All() const;
  // Empties the store (a state read back from a file replaces it).
  void Clear();
  // A task that exists before the logic runs.
  void Put(const SimTask& task);
  // Forces the result of the following calls of a kind (0: behave normally).
  void SetOpenResult(HResult hr);
  void SetRegisterResult(HResult hr);
  // The language whose account names the registration's user id is looked up in.
  void SetLanguage(const SimLanguage& language);
  // Every call in order: "OpenFolder \", "DeleteTask TAVU F9 Recovery = 0x80070002", ...
  std::vector<std::wstring> calls() const;

 private:
  void Record(const std::wstring& call, HResult hr);
  HResult Register(Handle session, const wchar_t* name, const TaskRegistration& r);
  template <class Act>
  HResult OnTask(const wchar_t* call, Handle session, const wchar_t* name, Act act);

  SimHandles& handles_;
  SimFaults& faults_;
  SimCom& com_;
  SimWow64& wow64_;
  mutable std::mutex lock_;
  std::map<std::wstring, SimTask> tasks_;  // upper-cased "folder|name"
  HResult openResult_ = 0;
  HResult registerResult_ = 0;
  const SimLanguage* language_ = &DefaultSimLanguage();
  std::vector<std::wstring> calls_;
};

}  // namespace tavu::sim
