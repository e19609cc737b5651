#include "sim/seam/tasks.h"

#include <cwchar>
#include <memory>

#include "sim/core/text.h"

namespace tavu::sim {

namespace {

struct SimTaskSession : SimObject {
  std::wstring folder;
};

std::wstring Key(const std::wstring& folder, const std::wstring& name) { return AsciiUpper(folder + L"|" + name); }

std::wstring Own(const wchar_t* text) { return text != nullptr ? text : L""; }

}  // namespace

void SimTasks::Record(const std::wstring& call, HResult hr) {
  wchar_t code[16];
  (void)std::swprintf(code, 16, L"0x%08X", static_cast<unsigned>(hr));
  calls_.push_back(call + L" = " + code);
}

HResult SimTasks::OpenFolder(const wchar_t* folder, Handle* session) {
  *session = nullptr;
  HResult hr = kSOk;
  if (faults_.Fail(SimOp::TaskCall)) {
    hr = kEFail;
  } else if (!com_.Usable()) {
    hr = kCoENotInitialized;
  } else if (!wow64_.InProcessServerLoads()) {
    hr = kHResultBadExeFormat;
  }
  std::lock_guard<std::mutex> hold(lock_);
  if (hr == kSOk && openResult_ != 0) hr = openResult_;
  // Only the root folder exists on this machine.
  if (hr == kSOk && Own(folder) != L"\\") hr = kHResultFileNotFound;
  Record(L"OpenFolder " + Own(folder), hr);
  if (Failed(hr)) return hr;
  // The scheduler service is another process: reaching it fixes the process's security.
  com_.TouchSecurity();
  auto s = std::make_unique<SimTaskSession>();
  s->folder = Own(folder);
  *session = handles_.Add(std::move(s), HandleKind::ComObject);
  return kSOk;
}

// DeleteTask and FindTask: the call counted, the session looked up, the task
// of that name found (it is end() when absent) and handed to act under the lock.
template <class Act>
HResult SimTasks::OnTask(const wchar_t* call, Handle session, const wchar_t* name, Act act) {
  bool fail = faults_.Fail(SimOp::TaskCall);
  SimTaskSession* s = handles_.Get<SimTaskSession>(session);
  std::lock_guard<std::mutex> hold(lock_);
  HResult hr = kSOk;
  if (fail) {
    hr = kEFail;
  } else if (s == nullptr) {
    hr = kEInvalidArg;
  } else {
    auto it = tasks_.find(Key(s->folder, Own(name)));
    if (it == tasks_.end()) {
      hr = kHResultFileNotFound;
    } else {
      act(it);
    }
  }
  Record(std::wstring(call) + L" " + Own(name), hr);
  return hr;
}

HResult SimTasks::DeleteTask(Handle session, const wchar_t* name) {
  // A deletion is a change of the store that survives the power, found or not.
  if (!faults_.PersistentWrite("task: delete")) return kEFail;
  const HResult hr = OnTask(L"DeleteTask", session, name, [this](auto it) { tasks_.erase(it); });
  faults_.WriteDone();
  return hr;
}

HResult SimTasks::FlushStore() { return faults_.Fail(SimOp::TaskCall) ? kEFail : kSOk; }

HResult SimTasks::FindTask(Handle session, const wchar_t* name) {
  return OnTask(L"FindTask", session, name, [](auto) {});
}

HResult SimTasks::RegisterTask(Handle session, const wchar_t* name, const TaskRegistration& r) {
  if (!faults_.PersistentWrite("task: register")) return kEFail;
  const HResult hr = Register(session, name, r);
  faults_.WriteDone();
  return hr;
}

HResult SimTasks::Register(Handle session, const wchar_t* name, const TaskRegistration& r) {
  bool fail = faults_.Fail(SimOp::TaskCall);
  SimTaskSession* s = handles_.Get<SimTaskSession>(session);
  std::lock_guard<std::mutex> hold(lock_);
  HResult hr = kSOk;
  std::wstring key = s != nullptr ? Key(s->folder, Own(name)) : L"";
  bool exists = s != nullptr && tasks_.count(key) != 0;
  // A group task needs the group it runs for; a registration must create,
  // update, or both.
  bool invalid = s == nullptr || Own(name).empty() ||
                 (r.logonType == kTaskLogonGroup && Own(r.userId).empty()) ||
                 (r.flags & kTaskCreateOrUpdate) == 0;
  if (fail) {
    hr = kEFail;
  } else if (registerResult_ != 0) {
    hr = registerResult_;
  } else if (invalid) {
    hr = kEInvalidArg;
  } else if (!Own(r.userId).empty() && !NamesAdministrators(*language_, Own(r.userId)) &&
             !NamesSystem(*language_, Own(r.userId))) {
    // The scheduler turns the user id into a SID; a name this Windows does
    // not know maps to none.
    hr = kHResultNoneMapped;
  } else if (r.flags == kTaskCreate && exists) {
    hr = kHResultAlreadyExists;
  } else if (r.flags == kTaskUpdate && !exists) {
    hr = kHResultFileNotFound;
  }
  Record(L"RegisterTask " + Own(name), hr);
  if (Failed(hr)) return hr;

  SimTask t;
  t.folder = s->folder;
  t.name = Own(name);
  t.author = Own(r.author);
  t.principalId = Own(r.principalId);
  t.principalLogonType = r.principalLogonType;
  t.runLevel = r.runLevel;
  t.stopOnIdleEnd = r.stopOnIdleEnd;
  t.disallowStartIfOnBatteries = r.disallowStartIfOnBatteries;
  t.stopIfGoingOnBatteries = r.stopIfGoingOnBatteries;
  t.allowDemandStart = r.allowDemandStart;
  t.startWhenAvailable = r.startWhenAvailable;
  t.restartCount = r.restartCount;
  t.restartInterval = Own(r.restartInterval);
  t.executionTimeLimit = Own(r.executionTimeLimit);
  t.allowHardTerminate = r.allowHardTerminate;
  t.triggerType = r.triggerType;
  t.triggerId = Own(r.triggerId);
  t.secondTriggerType = r.secondTriggerType;
  t.secondTriggerId = Own(r.secondTriggerId);
  t.actionType = r.actionType;
  t.actionPath = Own(r.actionPath);
  t.actionArguments = Own(r.actionArguments);
  t.flags = r.flags;
  t.userId = Own(r.userId);
  t.logonType = r.logonType;
  t.securityDescriptor = Own(r.securityDescriptor);
  t.hasSecurityDescriptor = r.securityDescriptor != nullptr;
  tasks_[key] = t;
  return kSOk;
}

void SimTasks::CloseFolder(Handle session) {
  faults_.Fail(SimOp::ComRelease);  // counted only: Release cannot fail
  handles_.Close(session, HandleKind::ComObject);
}

std::optional<SimTask> SimTasks::Find(const std::wstring& name) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = tasks_.find(Key(L"\\", name));
  if (it == tasks_.end()) return std::nullopt;
  return it->second;
}

std::size_t SimTasks::Count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return tasks_.size();
}

std::vector<SimTask> SimTasks::All() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<SimTask> all;
  for (const auto& [key, task] : tasks_) all.push_back(task);
  return all;
}

void SimTasks::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  tasks_.clear();
}

void SimTasks::Put(const SimTask& task) {
  std::lock_guard<std::mutex> hold(lock_);
  SimTask t = task;
  if (t.folder.empty()) t.folder = L"\\";
  tasks_[Key(t.folder, t.name)] = t;
}

void SimTasks::SetOpenResult(HResult hr) {
  std::lock_guard<std::mutex> hold(lock_);
  openResult_ = hr;
}

void SimTasks::SetLanguage(const SimLanguage& language) {
  std::lock_guard<std::mutex> hold(lock_);
  language_ = &language;
}

void SimTasks::SetRegisterResult(HResult hr) {
  std::lock_guard<std::mutex> hold(lock_);
  registerResult_ = hr;
}

std::vector<std::wstring> SimTasks::calls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return calls_;
}

}  // namespace tavu::sim
