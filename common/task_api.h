// Task Scheduler 2.0 as the launcher uses it: open a folder, delete a task,
// register a task whose every value the caller decides. The binding only carries
// the values into ITaskDefinition and its parts.
#pragma once

#include <cstdint>

#include "common/com_api.h"
#include "common/platform.h"

namespace tavu {

inline constexpr std::int32_t kTaskLogonGroup = 4;       // TASK_LOGON_GROUP
inline constexpr std::int32_t kTaskLogonServiceAccount = 5;  // TASK_LOGON_SERVICE_ACCOUNT
inline constexpr std::int32_t kTaskTriggerBoot = 8;          // TASK_TRIGGER_BOOT
inline constexpr std::int32_t kTaskRunLevelHighest = 1;  // TASK_RUNLEVEL_HIGHEST
inline constexpr std::int32_t kTaskTriggerLogon = 9;     // TASK_TRIGGER_LOGON
inline constexpr std::int32_t kTaskActionExec = 0;       // TASK_ACTION_EXEC
inline constexpr std::int32_t kTaskCreate = 2;           // TASK_CREATE
inline constexpr std::int32_t kTaskUpdate = 4;           // TASK_UPDATE
inline constexpr std::int32_t kTaskCreateOrUpdate = 6;   // TASK_CREATE_OR_UPDATE

// Every value of one registration, in the order the binding sets them.
struct TaskRegistration {
  // IRegistrationInfo
  const wchar_t* author = nullptr;
  // IPrincipal
  const wchar_t* principalId = nullptr;
  std::int32_t principalLogonType = 0;
  std::int32_t runLevel = 0;
  // ITaskSettings (stopOnIdleEnd through IIdleSettings, put back with put_IdleSettings)
  bool stopOnIdleEnd = true;
  bool disallowStartIfOnBatteries = true;
  bool stopIfGoingOnBatteries = true;
  bool allowDemandStart = false;
  bool startWhenAvailable = false;
  std::int32_t restartCount = 0;
  const wchar_t* restartInterval = nullptr;
  const wchar_t* executionTimeLimit = nullptr;
  bool allowHardTerminate = true;
  // ITriggerCollection::Create(triggerType), then ILogonTrigger; a second
  // trigger the same way when secondTriggerType is not 0.
  std::int32_t triggerType = 0;
  const wchar_t* triggerId = nullptr;
  std::int32_t secondTriggerType = 0;
  const wchar_t* secondTriggerId = nullptr;
  // IActionCollection::Create(actionType), then IExecAction
  std::int32_t actionType = 0;
  const wchar_t* actionPath = nullptr;
  const wchar_t* actionArguments = nullptr;
  // ITaskFolder::RegisterTaskDefinition: user id as a VARIANT text, password as
  // an empty VARIANT, security descriptor as a VARIANT text.
  std::int32_t flags = 0;
  const wchar_t* userId = nullptr;
  std::int32_t logonType = 0;
  const wchar_t* securityDescriptor = nullptr;
};

class TaskApi {
 public:
  virtual ~TaskApi() = default;

  // CoCreateInstance(CLSID_TaskScheduler, NULL, CLSCTX_INPROC_SERVER,
  // IID_ITaskService), ITaskService::Connect with four empty VARIANTs (this
  // machine, this user), ITaskService::GetFolder(folder). On success *session
  // holds the service and the folder; on failure nothing is held.
  virtual HResult OpenFolder(const wchar_t* folder, Handle* session) = 0;
  // ITaskFolder::DeleteTask(name, 0).
  virtual HResult DeleteTask(Handle session, const wchar_t* name) = 0;
  // ITaskFolder::GetTask(name), the registered task released at once: S_OK when
  // it exists, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when it does not.
  virtual HResult FindTask(Handle session, const wchar_t* name) = 0;
  // ITaskService::NewTask(0); each part of the definition fetched with its
  // accessor and filled from r (a part whose accessor fails is skipped and the
  // next one filled); ITaskFolder::RegisterTaskDefinition(name, ...). The
  // definition and the registered task are released before it returns.
  virtual HResult RegisterTask(Handle session, const wchar_t* name, const TaskRegistration& r) = 0;
  // Releases the folder and the service.
  virtual void CloseFolder(Handle session) = 0;
  // RegFlushKey on the scheduler's TaskCache key: a registration or deletion
  // made before it is on the disk, whatever happens to the power next.
  // (A default: small test fakes.)
  virtual HResult FlushStore() { return kSOk; }
};

}  // namespace tavu
