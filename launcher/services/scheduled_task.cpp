#include "launcher/services/scheduled_task.h"

#include "common/com_apartment.h"
#include "common/com_api.h"
#include "common/log_writer.h"
#include "common/task_api.h"
#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "launcher/startup/launcher_log.h"

namespace tavu {

namespace {

constexpr wchar_t kRootFolder[] = L"\\";
constexpr wchar_t kTaskArguments[] = L"/CHECK";

void Log(const wchar_t* tag) { WriteLog(g_log, g_logFileName, tag, g_logMessage); }

// The scheduler's root folder, reached from a single-threaded apartment of
// this call's own with security set (or already set by start-up). Whatever was
// entered is left again when the object goes, in the order the scheduler asks
// for: the folder and its service first, then CoUninitialize.
class RootFolder {
 public:
  // False when a step failed, with *failure (when given) its HRESULT; nothing
  // is held beyond what the owners release.
  [[nodiscard]] bool Open(HResult* failure = nullptr) {
    HResult hr = kSOk;
    apartment_ = UniqueCoUninitializeCall::EnterApartment(&hr);
    if (apartment_) {
      hr = Sys().com->InitializeSecurity(kAuthnLevelPktPrivacy, kImpLevelImpersonate);
      if (hr == kRpcETooLate) hr = kSOk;
    }
    Handle session = nullptr;
    if (Succeeded(hr)) hr = Sys().tasks->OpenFolder(kRootFolder, &session);
    if (failure != nullptr) *failure = Failed(hr) ? hr : kSOk;
    if (Failed(hr)) return false;
    session_.reset(session);
    return true;
  }
  Handle session() const { return session_.get(); }

 private:
  // Declared first, so destroyed last.
  UniqueCoUninitializeCall apartment_;
  UniqueTaskSession session_;
};

TaskRegistration LogonTask(const wchar_t* exePath) {
  TaskRegistration r;
  r.author = L"Kelvora Computer INC.";
  r.principalId = L"Principal1";
  r.principalLogonType = kTaskLogonServiceAccount;
  r.runLevel = kTaskRunLevelHighest;
  r.stopOnIdleEnd = false;
  r.disallowStartIfOnBatteries = false;
  r.stopIfGoingOnBatteries = false;
  r.allowDemandStart = true;
  r.startWhenAvailable = true;
  r.restartCount = 5;
  r.restartInterval = L"PT1M";
  r.executionTimeLimit = L"PT0S";
  r.allowHardTerminate = false;
  // At every logon, and at every start of Windows: a notebook whose owner
  // works as a standard user has no administrator's logon to wait for, and
  // an arming left in place would take a later restart into the recovery.
  r.triggerType = kTaskTriggerLogon;
  r.triggerId = L"Trigger1";
  r.secondTriggerType = kTaskTriggerBoot;
  r.secondTriggerId = L"Trigger2";
  r.actionType = kTaskActionExec;
  r.actionPath = exePath;
  r.actionArguments = kTaskArguments;
  r.flags = kTaskCreateOrUpdate;
  // SYSTEM, so that it runs whoever logs on, and at start-up, when no one
  // has. By its well-known SID: names are translated with Windows' display
  // language, and a name that does not map fails the registration (0x80070534).
  r.userId = L"S-1-5-18";
  r.logonType = kTaskLogonServiceAccount;
  r.securityDescriptor = L"";
  return r;
}

// Any earlier registration removed, then the logon task registered.
int ReplaceTask(const wchar_t* exePath) {
  RootFolder root;
  if (!root.Open()) return kTaskFailed;
  // Replaces an earlier registration; there may be none.
  Sys().tasks->DeleteTask(root.session(), kTaskName);
  // The arming relies on the task being there after a power cut: it is on the
  // disk before anything else is changed.
  return Succeeded(Sys().tasks->RegisterTask(root.session(), kTaskName, LogonTask(exePath))) &&
                 Succeeded(Sys().tasks->FlushStore())
             ? kTaskDone
             : kTaskFailed;
}

int RemoveTask() {
  RootFolder root;
  if (!root.Open()) return kTaskFailed;
  const bool deleted = Succeeded(Sys().tasks->DeleteTask(root.session(), kTaskName));
  static_cast<void>(Sys().tasks->FlushStore());
  return deleted ? kTaskDone : kTaskFailed;
}

}  // namespace

int AddTask(const wchar_t* exePath) {
  constexpr wchar_t kTag[] = L"AddTask";
  if (exePath == nullptr) exePath = L"";
  FormatBounded(g_logMessage, kPathChars, L"Task Name: %ls", kTaskName);
  Log(kTag);
  FormatBounded(g_logMessage, kPathChars, L"Task Path: %ls, Task Arg: %ls", exePath, kTaskArguments);
  Log(kTag);

  const int result = ReplaceTask(exePath);
  WriteLogValue(g_log, g_logFileName, kTag, result);
  return result;
}

int DeleteTask() {
  constexpr wchar_t kTag[] = L"DeleteTask";
  FormatBounded(g_logMessage, kPathChars, L"Task Name: %ls", kTaskName);
  Log(kTag);

  const int result = RemoveTask();
  WriteLogValue(g_log, g_logFileName, kTag, result);
  return result;
}

int IsTaskRegistered(std::int32_t* failure) {
  HResult hr = kSOk;
  int result = 0;
  RootFolder folder;
  if (folder.Open(&hr)) {
    hr = Sys().tasks->FindTask(folder.session(), kTaskName);
    if (Succeeded(hr)) result = 1;
    // Absent is an answer, not a failure.
    if (hr == kHResultFileNotFound) hr = kSOk;
  }
  if (failure != nullptr) *failure = hr;
  return result;
}

}  // namespace tavu
