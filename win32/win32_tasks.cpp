#include "win32/win32_tasks.h"

// <windows.h> first: the other SDK headers build on it.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <taskschd.h>
// clang-format on

#include <memory>
#include <new>
#include <utility>

#include "win32/com_ref.h"
#include "win32/registry_key.h"

namespace tavu::win32 {

namespace {

// {0F87369F-A4E5-4CFC-BD3E-73E6154572DD}, {2FABA4C7-4DA9-4013-9697-20CC3FD40F85},
// {72DADE38-FAE4-4B3E-BAF4-5D009AF02B1C}, {2A9C35DA-D357-41F4-BBC1-207AC1B1F3CB},
// {4C3D624D-FD6B-49A3-B9B7-09CB3CD3F047}.
const CLSID kClsidTaskScheduler = {
    0x0F87369F, 0xA4E5, 0x4CFC, {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};
const IID kIidTaskService = {0x2FABA4C7, 0x4DA9, 0x4013, {0x96, 0x97, 0x20, 0xCC, 0x3F, 0xD4, 0x0F, 0x85}};
const IID kIidLogonTrigger = {0x72DADE38, 0xFAE4, 0x4B3E, {0xBA, 0xF4, 0x5D, 0x00, 0x9A, 0xF0, 0x2B, 0x1C}};
const IID kIidBootTrigger = {0x2A9C35DA, 0xD357, 0x41F4, {0xBB, 0xC1, 0x20, 0x7A, 0xC1, 0xB1, 0xF3, 0xCB}};
const IID kIidExecAction = {0x4C3D624D, 0xFD6B, 0x49A3, {0xB9, 0xB7, 0x09, 0xCB, 0x3C, 0xD3, 0xF0, 0x47}};

static_assert(kTaskLogonGroup == TASK_LOGON_GROUP);
static_assert(kTaskLogonServiceAccount == TASK_LOGON_SERVICE_ACCOUNT);
static_assert(kTaskTriggerBoot == TASK_TRIGGER_BOOT);
static_assert(kTaskRunLevelHighest == TASK_RUNLEVEL_HIGHEST);
static_assert(kTaskTriggerLogon == TASK_TRIGGER_LOGON);
static_assert(kTaskActionExec == TASK_ACTION_EXEC);
static_assert(kTaskCreate == TASK_CREATE && kTaskUpdate == TASK_UPDATE);
static_assert(kTaskCreateOrUpdate == TASK_CREATE_OR_UPDATE);

// What a session handle points at. The members go in reverse order: the folder
// is released before the service it came from.
struct Session {
  ComRef<ITaskService> service;
  ComRef<ITaskFolder> folder;
};

VARIANT_BOOL Vb(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// The parts of a definition, each fetched with its accessor. A part whose
// accessor fails is left as the scheduler made it; so is a value the scheduler
// refuses, and registration decides.
void FillRegistrationInfo(ITaskDefinition* definition, const TaskRegistration& r) {
  ComRef<IRegistrationInfo> info;
  if (FAILED(definition->get_RegistrationInfo(info.put()))) return;
  Bstr author(r.author);
  info->put_Author(author.get());
}

void FillPrincipal(ITaskDefinition* definition, const TaskRegistration& r) {
  ComRef<IPrincipal> principal;
  if (FAILED(definition->get_Principal(principal.put()))) return;
  Bstr id(r.principalId);
  principal->put_Id(id.get());
  principal->put_LogonType(static_cast<TASK_LOGON_TYPE>(r.principalLogonType));
  principal->put_RunLevel(static_cast<TASK_RUNLEVEL_TYPE>(r.runLevel));
}

void FillSettings(ITaskDefinition* definition, const TaskRegistration& r) {
  ComRef<ITaskSettings> settings;
  if (FAILED(definition->get_Settings(settings.put()))) return;
  ComRef<IIdleSettings> idle;
  if (SUCCEEDED(settings->get_IdleSettings(idle.put()))) {
    idle->put_StopOnIdleEnd(Vb(r.stopOnIdleEnd));
    settings->put_IdleSettings(idle.get());
  }
  settings->put_DisallowStartIfOnBatteries(Vb(r.disallowStartIfOnBatteries));
  settings->put_StopIfGoingOnBatteries(Vb(r.stopIfGoingOnBatteries));
  settings->put_AllowDemandStart(Vb(r.allowDemandStart));
  settings->put_StartWhenAvailable(Vb(r.startWhenAvailable));
  settings->put_RestartCount(r.restartCount);
  Bstr interval(r.restartInterval);
  settings->put_RestartInterval(interval.get());
  Bstr limit(r.executionTimeLimit);
  settings->put_ExecutionTimeLimit(limit.get());
  settings->put_AllowHardTerminate(Vb(r.allowHardTerminate));
}

// The interface that a trigger of this type is filled through.
const IID* TriggerInterface(std::int32_t type) {
  switch (type) {
    case kTaskTriggerLogon:
      return &kIidLogonTrigger;
    case kTaskTriggerBoot:
      return &kIidBootTrigger;
    default:
      return nullptr;
  }
}

void FillTrigger(ITriggerCollection* triggers, std::int32_t type, const wchar_t* id) {
  ComRef<ITrigger> trigger;
  if (FAILED(triggers->Create(static_cast<TASK_TRIGGER_TYPE2>(type), trigger.put()))) return;
  // The SDK headers here lack ILogonTrigger and IBootTrigger; both derive from
  // ITrigger, whose put_Id is all that is set, so the answer is used through
  // that interface.
  ComRef<ITrigger> typed;
  const IID* iid = TriggerInterface(type);
  if (iid == nullptr || FAILED(trigger->QueryInterface(*iid, typed.put_void()))) return;
  Bstr text(id);
  typed->put_Id(text.get());
}

void FillTriggers(ITaskDefinition* definition, const TaskRegistration& r) {
  ComRef<ITriggerCollection> triggers;
  if (FAILED(definition->get_Triggers(triggers.put()))) return;
  FillTrigger(triggers.get(), r.triggerType, r.triggerId);
  if (r.secondTriggerType != 0) FillTrigger(triggers.get(), r.secondTriggerType, r.secondTriggerId);
}

void FillAction(ITaskDefinition* definition, const TaskRegistration& r) {
  ComRef<IActionCollection> actions;
  if (FAILED(definition->get_Actions(actions.put()))) return;
  ComRef<IAction> action;
  if (FAILED(actions->Create(static_cast<TASK_ACTION_TYPE>(r.actionType), action.put()))) return;
  ComRef<IExecAction> exec;
  if (FAILED(action->QueryInterface(kIidExecAction, exec.put_void()))) return;
  Bstr path(r.actionPath);
  exec->put_Path(path.get());
  Bstr arguments(r.actionArguments);
  exec->put_Arguments(arguments.get());
}

}  // namespace

HResult Win32Tasks::OpenFolder(const wchar_t* folder, Handle* session) {
  *session = nullptr;
  ComRef<ITaskService> service;
  HRESULT hr = CoCreateInstance(kClsidTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, kIidTaskService,
                                service.put_void());
  if (FAILED(hr)) return hr;
  // Empty VARIANTs: this machine, the calling user.
  Variant server, user, domain, password;
  hr = service->Connect(server.get(), user.get(), domain.get(), password.get());
  if (FAILED(hr)) return hr;
  Bstr path(folder);
  if (Bstr::Lost(folder, path)) return E_OUTOFMEMORY;
  ComRef<ITaskFolder> opened;
  hr = service->GetFolder(path.get(), opened.put());
  if (FAILED(hr)) return hr;
  std::unique_ptr<Session> s(new (std::nothrow) Session{std::move(service), std::move(opened)});
  if (!s) return E_OUTOFMEMORY;
  *session = s.release();
  return S_OK;
}

HResult Win32Tasks::DeleteTask(Handle session, const wchar_t* name) {
  Bstr task(name);
  if (Bstr::Lost(name, task)) return E_OUTOFMEMORY;
  return static_cast<Session*>(session)->folder->DeleteTask(task.get(), 0);
}

HResult Win32Tasks::FindTask(Handle session, const wchar_t* name) {
  Bstr task(name);
  if (Bstr::Lost(name, task)) return E_OUTOFMEMORY;
  ComRef<IRegisteredTask> registered;
  return static_cast<Session*>(session)->folder->GetTask(task.get(), registered.put());
}

HResult Win32Tasks::RegisterTask(Handle session, const wchar_t* name, const TaskRegistration& r) {
  auto* s = static_cast<Session*>(session);
  ComRef<ITaskDefinition> definition;
  HRESULT hr = s->service->NewTask(0, definition.put());
  if (FAILED(hr)) return hr;
  FillRegistrationInfo(definition.get(), r);
  FillPrincipal(definition.get(), r);
  FillSettings(definition.get(), r);
  FillTriggers(definition.get(), r);
  FillAction(definition.get(), r);

  Bstr task(name);
  Variant user, password, sddl;
  if (Bstr::Lost(name, task) || !user.SetText(r.userId)) return E_OUTOFMEMORY;
  if (r.securityDescriptor != nullptr && !sddl.SetText(r.securityDescriptor)) return E_OUTOFMEMORY;
  ComRef<IRegisteredTask> registered;
  return s->folder->RegisterTaskDefinition(task.get(), definition.get(), r.flags, user.get(), password.get(),
                                           static_cast<TASK_LOGON_TYPE>(r.logonType), sddl.get(),
                                           registered.put());
}

void Win32Tasks::CloseFolder(Handle session) {
  // Deleting the session releases the folder, then the service.
  std::unique_ptr<Session> s(static_cast<Session*>(session));
}

// RegFlushKey writes out the whole hive that holds the key, and the
// scheduler's keys lie in SOFTWARE's hive. Where the deeper keys were never
// made (Wine keeps its tasks as files), the nearest one that exists reaches
// the same hive. The 64-bit view: a 32-bit program's own leads to
// WOW6432Node, which the scheduler does not use.
HResult Win32Tasks::FlushStore() {
  static constexpr const wchar_t* kKeys[] = {
      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache",
      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule",
      L"SOFTWARE",
  };
  LSTATUS status = ERROR_FILE_NOT_FOUND;
  for (const wchar_t* path : kKeys) {
    RegistryKey key(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE | KEY_WOW64_64KEY);
    status = key.status();
    if (status == ERROR_SUCCESS) status = RegFlushKey(key.get());
    if (status != ERROR_FILE_NOT_FOUND) break;
  }
  return HRESULT_FROM_WIN32(status);
}

}  // namespace tavu::win32
