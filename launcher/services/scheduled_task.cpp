#include "launcher/services/scheduled_task.h"

#include "common/com_api.h"
#include "common/log_writer.h"
#include "common/task_api.h"
#include "common/wide_text.h"
#include "launcher/startup/launcher_log.h"

namespace tavu {

namespace {

constexpr wchar_t kRootFolder[] = L"\\";
constexpr wchar_t kTaskArguments[] = L"/CHECK";

void Log(const wchar_t* tag) { WriteLog(g_log, g_logFileName, tag, g_logMessage); }

// COM in a single-threaded apartment of this call's own, security set (or
// already set by start-up), and the root folder. On success the caller owns one
// CoInitialize and the session; on failure nothing is held.
bool OpenRootFolder(Handle* session, HResult* failure = nullptr) {
  ComApi& com = *Sys().com;
  HResult hr = com.InitializeApartment();
  if (Failed(hr)) {
    if (failure != nullptr) *failure = hr;
    return false;
  }
  hr = com.InitializeSecurity(kAuthnLevelPktPrivacy, kImpLevelImpersonate);
  if (Failed(hr) && hr != kRpcETooLate) {
    if (failure != nullptr) *failure = hr;
    com.Uninitialize();
    return false;
  }
  hr = Sys().tasks->OpenFolder(kRootFolder, session);
  if (Failed(hr)) {
    if (failure != nullptr) *failure = hr;
    com.Uninitialize();
    return false;
  }
  return true;
}

void CloseRootFolder(Handle session) {
  Sys().tasks->CloseFolder(session);
  Sys().com->Uninitialize();
}

TaskRegistration LogonTask(const wchar_t* exePath) {
  TaskRegistration r;
  r.author = L"Kelvora Computer INC.";
  r.principalId = L"Principal1";
  r.principalLogonType = kTaskLogonGroup;
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
  r.triggerType = kTaskTriggerLogon;
  r.triggerId = L"Trigger1";
  r.actionType = kTaskActionExec;
  r.actionPath = exePath;
  r.actionArguments = kTaskArguments;
  r.flags = kTaskCreateOrUpdate;
  r.userId = L"Builtin\\Administrators";
  r.logonType = kTaskLogonGroup;
  r.securityDescriptor = L"";
  return r;
}

}  // namespace

int AddTask(const wchar_t* exePath) {
  constexpr wchar_t kTag[] = L"AddTask";
  if (exePath == nullptr) exePath = L"";
  FormatBounded(g_logMessage, kPathChars, L"Task Name: %ls", kTaskName);
  Log(kTag);
  FormatBounded(g_logMessage, kPathChars, L"Task Path: %ls, Task Arg: %ls", exePath, kTaskArguments);
  Log(kTag);

  int result = 1;
  Handle session = nullptr;
  if (OpenRootFolder(&session)) {
    // Replaces an earlier registration; there may be none.
    Sys().tasks->DeleteTask(session, kTaskName);
    if (Succeeded(Sys().tasks->RegisterTask(session, kTaskName, LogonTask(exePath)))) result = 0;
    CloseRootFolder(session);
  }
  WriteLogValue(g_log, g_logFileName, kTag, result);
  return result;
}

int DeleteTask() {
  constexpr wchar_t kTag[] = L"DeleteTask";
  FormatBounded(g_logMessage, kPathChars, L"Task Name: %ls", kTaskName);
  Log(kTag);

  int result = 1;
  Handle session = nullptr;
  if (OpenRootFolder(&session)) {
    if (Succeeded(Sys().tasks->DeleteTask(session, kTaskName))) result = 0;
    CloseRootFolder(session);
  }
  WriteLogValue(g_log, g_logFileName, kTag, result);
  return result;
}

int IsTaskRegistered(std::int32_t* failure) {
  HResult hr = kSOk;
  int result = 0;
  Handle session = nullptr;
  if (OpenRootFolder(&session, &hr)) {
    hr = Sys().tasks->FindTask(session, kTaskName);
    if (Succeeded(hr)) result = 1;
    // Absent is an answer, not a failure.
    if (hr == kHResultFileNotFound) hr = kSOk;
    CloseRootFolder(session);
  }
  if (failure != nullptr) *failure = hr;
  return result;
}

}  // namespace tavu
