// tavu-sim arm: the recovery worker, as the window starts it after the user
// answered Yes: on a thread of its own, with start-up's COM in place.
#include <cstdio>
#include <string>
#include <vector>

#include "common/error_mode.h"
#include "launcher/arming/partition_locator.h"
#include "launcher/arming/recovery_worker.h"
#include "launcher/startup/globals.h"
#include "sim/core/text.h"
#include "sim/programs/windows_tools.h"
#include "tools/tavu-sim/command_runs.h"
#include "tools/tavu-sim/json.h"
#include "tools/tavu-sim/machine_view.h"
#include "tools/tavu-sim/sim_command.h"

namespace tavu::tool {

namespace {

const wchar_t* const kTemporaryFiles[] = {L"C:\\Windows\\Temp\\RcvBoot.cmd",
                                          L"C:\\Windows\\Temp\\RcvBoot.txt",
                                          L"C:\\Windows\\Temp\\RcvBootDisk.txt"};
const wchar_t kBitLockerMessage[] = L"Please disable BitLocker and try again.";

std::string Joined(const std::vector<std::wstring>& values) {
  std::wstring all;
  for (const std::wstring& v : values) all += (all.empty() ? L"" : L" ") + v;
  return ToUtf8(all);
}

}  // namespace

ArmRun Arm(sim::SimMachine& machine) {
  ArmRun run;
  // The route this machine leads to, asked before the worker changes anything.
  std::int32_t partition = 0;
  std::int32_t disk = 0;
  LocateDetail detail;
  bool found = FindRecoveryPartition(&partition, &disk, &detail) == kLocateFound;
  run.noMediumDisks = detail.noMediumDisks;
  const char* route = found ? (QueryPartitionStyle(disk) == 0 ? "partition-table" : "boot-manager") : nullptr;

  // Start-up's state when the window starts the worker.
  FailCriticalErrorsQuietly();
  machine.com().InitializeMultithreaded();
  machine.com().InitializeSecurity(0, 3);
  g_comReady = 1;
  g_mainWindow = reinterpret_cast<Handle>(static_cast<std::uintptr_t>(0x30142));
  machine.ui().SetSynchronousThreads(false);
  Handle thread = nullptr;
  if (machine.ui().StartThread(&RecoveryWorker, nullptr, &thread)) machine.ui().JoinThreads();
  // What a power cut left is looked at with the power back on.
  machine.faults().PowerOn();
  auto threads = machine.ui().threads();
  run.result = threads.empty() ? 1 : threads.back().exitCode;
  // The machine a moment later: what the owner finds, and the restart finds.
  run.programEndMs = machine.system().elapsedMilliseconds();
  machine.Settle();

  run.boxes = machine.ui().messageBoxes();
  bool stoppedEarly = machine.system().StdOutputInvalid();
  for (const sim::SimMessageBox& box : run.boxes)
    stoppedEarly = stoppedEarly || box.text == kBitLockerMessage;
  run.route = stoppedEarly ? nullptr : route;
  run.launches =
      sim::ReportLaunches(machine.processes().launches(), machine.windowsTools().programs().scriptRuns());
  for (const wchar_t* path : kTemporaryFiles) {
    if (machine.files().Exists(path)) run.tempFilesLeft.push_back(path);
  }
  run.restart = machine.windowsTools().programs().restart();
  if (auto task = machine.tasks().Find(L"TAVU F9 Recovery")) {
    run.taskRegistered = true;
    run.taskPrincipal = task->userId;
    run.taskPath = task->actionPath;
    run.taskArguments = task->actionArguments;
  }
  return run;
}

std::string BootValue(sim::SimBcdStore& store, const wchar_t* id, const wchar_t* element) {
  return Joined(store.Values(id, element));
}

void WriteBoxesJson(JsonWriter& json, const std::vector<sim::SimMessageBox>& boxes) {
  json.Key("message_boxes").BeginArray();
  for (const sim::SimMessageBox& box : boxes) {
    json.BeginObject()
        .Key("title")
        .WString(box.caption)
        .Key("text")
        .WString(box.text)
        .Key("answer")
        .Int(box.answer)
        .EndObject();
  }
  json.EndArray();
}

void WriteProcessesJson(JsonWriter& json, const std::vector<sim::SimLaunchReport>& launches) {
  json.Key("processes").BeginArray();
  for (const sim::SimLaunchReport& r : launches) {
    json.BeginObject()
        .Key("file")
        .WString(r.launch.file)
        .Key("image")
        .WString(r.launch.image)
        .Key("parameters")
        .WString(r.launch.parameters)
        .Key("directory")
        .WString(r.launch.directory)
        .Key("show")
        .Int(r.launch.show)
        .Key("started")
        .Bool(r.launch.started)
        .Key("exit_code")
        .Int(r.launch.started ? r.launch.exitCode : r.launch.error)
        .Key("redirection_off")
        .Bool(r.launch.redirectionOff)
        .Key("script");
    r.hasScript ? json.String(r.script) : json.Null();
    json.EndObject();
  }
  json.EndArray();
}

void WriteTaskJson(JsonWriter& json, sim::SimMachine& machine) {
  const std::optional<sim::SimTask> task = machine.tasks().Find(L"TAVU F9 Recovery");
  json.Key("task_registered").Bool(task.has_value());
  json.Key("task_principal");
  task ? json.WString(task->userId) : json.Null();
  json.Key("task_action");
  if (task) {
    json.BeginObject()
        .Key("path")
        .WString(task->actionPath)
        .Key("arguments")
        .WString(task->actionArguments)
        .EndObject();
  } else {
    json.Null();
  }
}

void WriteBootStoreJson(JsonWriter& json, sim::SimMachine& machine) {
  sim::SimBcdStore& store = machine.windowsTools().store();
  json.Key("boot_store");
  if (!store.HasEntry(L"{bootmgr}")) {
    json.Null();
    return;
  }
  auto text = [&](const wchar_t* id, const wchar_t* element) {
    std::vector<std::wstring> values = store.Values(id, element);
    values.empty() ? json.Null() : json.String(Joined(values));
  };
  json.BeginObject();
  json.Key("customactions");
  text(L"{bootmgr}", L"customactions");
  json.Key("custom:5400000f");
  text(L"{bootmgr}", L"custom:5400000f");
  json.Key("displayorder").BeginArray();
  for (const std::wstring& id : store.Values(L"{bootmgr}", L"displayorder")) json.WString(id);
  json.EndArray();
  json.Key("extendedinput");
  text(L"{bootmgr}", L"extendedinput");
  json.Key("current_isolatedcontext");
  text(L"{current}", L"isolatedcontext");
  json.Key("changes").Int(store.changes());
  json.EndObject();
}

void WriteArmJson(JsonWriter& json, sim::SimMachine& machine, const ArmRun& run) {
  json.BeginObject();
  json.Key("result").Int(run.result);
  json.Key("route");
  run.route != nullptr ? json.String(run.route) : json.Null();
  WriteBoxesJson(json, run.boxes);
  WriteProcessesJson(json, run.launches);
  json.Key("temp_files_left").BeginArray();
  for (const std::wstring& path : run.tempFilesLeft) json.WString(path);
  json.EndArray();
  WriteOfflineVolumesJson(json, machine);
  json.Key("restart_pending").Bool(run.restart.pending);
  json.Key("restart_seconds");
  run.restart.pending ? json.Int(run.restart.seconds) : json.Null();
  WriteTaskJson(json, machine);
  WriteBootStoreJson(json, machine);
  WriteArrivalsJson(json, machine, machine.volumes().arrivals());
  WritePowerJson(json, machine);
  json.Key("firmware_mode").String(machine.processes().firmwareMode() ? "on" : "off");
  json.Key("disks");
  WriteDisksJson(json, machine);
  json.EndObject();
}

namespace {

void PrintScript(std::FILE* out, const std::string& script) {
  for (std::string line : sim::Lines(script, /*keepCr=*/true)) {
    const bool crlf = !line.empty() && line.back() == '\r';
    if (crlf) line.pop_back();
    std::fprintf(out, "       | %s%s\n", line.c_str(), crlf ? "" : "   (no CR LF)");
  }
}

void PrintReport(SimContext& context, const ArmRun& run) {
  std::FILE* out = context.out;
  std::fprintf(out, "Recovery worker: %u (%s)\n", run.result,
               run.result == 0 ? "the restart was started" : "aborted");
  std::fprintf(out, "Route: %s\n",
               run.route != nullptr ? run.route : "none (the worker stopped before choosing)");
  PrintPassedOver(out, run.noMediumDisks);
  std::fprintf(out, "\nMessage boxes:%s\n", run.boxes.empty() ? " none" : "");
  for (const sim::SimMessageBox& box : run.boxes) {
    std::fprintf(out, "  [%s] %s\n", ToUtf8(box.caption).c_str(), ToUtf8(box.text).c_str());
  }
  std::fprintf(out, "\nPrograms started:%s\n", run.launches.empty() ? " none" : "");
  int n = 0;
  for (const sim::SimLaunchReport& r : run.launches) {
    std::fprintf(out, "  %d. %s %s\n     in %s, %s, ", ++n, ToUtf8(r.launch.file).c_str(),
                 ToUtf8(r.launch.parameters).c_str(), ToUtf8(r.launch.directory).c_str(),
                 r.launch.show == 5 ? "shown" : "hidden");
    if (r.launch.started) {
      std::fprintf(out, "exit code %u\n", r.launch.exitCode);
    } else {
      std::fprintf(out, "not started (error %u)\n", r.launch.error);
    }
    // WOW64 redirection sent a 32-bit program's start elsewhere.
    if (!r.launch.image.empty() && r.launch.image != r.launch.file) {
      std::fprintf(out, "     started as %s (WOW64 redirection)\n", ToUtf8(r.launch.image).c_str());
    }
    if (r.launch.redirectionOff)
      std::fprintf(out, "     started with WOW64 redirection off on the worker thread\n");
    if (r.hasScript) PrintScript(out, r.script);
  }
  std::fprintf(out, "\nTemporary files left: %s\n", run.tempFilesLeft.empty() ? "none" : "");
  for (const std::wstring& path : run.tempFilesLeft) std::fprintf(out, "  %s\n", ToUtf8(path).c_str());
  PrintOfflineVolumes(out, context.machine);
  if (run.restart.pending) {
    std::fprintf(out, "Restart pending: yes, %s in %d seconds\n", run.restart.reboot ? "restart" : "shutdown",
                 run.restart.seconds);
  } else {
    std::fprintf(out, "Restart pending: no\n");
  }
  if (run.taskRegistered) {
    std::fprintf(out, "Logon task registered: yes, for %s: %s %s\n", ToUtf8(run.taskPrincipal).c_str(),
                 ToUtf8(run.taskPath).c_str(), ToUtf8(run.taskArguments).c_str());
  } else {
    std::wstring answer;
    for (const std::wstring& call : context.machine.tasks().calls()) {
      if (call.rfind(L"RegisterTask ", 0) == 0) answer = call.substr(call.rfind(L' ') + 1);
    }
    std::fprintf(out, "Logon task registered: no%s%s\n",
                 answer.empty() ? "" : ", the Task Scheduler answered ", ToUtf8(answer).c_str());
  }

  sim::SimBcdStore& store = context.machine.windowsTools().store();
  if (store.HasEntry(L"{bootmgr}")) {
    std::fprintf(out, "\nBoot manager ({bootmgr}), %d element(s) changed:\n", store.changes());
    for (const wchar_t* element : {L"customactions", L"custom:5400000f", L"extendedinput", L"displayorder"}) {
      std::vector<std::wstring> values = store.Values(L"{bootmgr}", element);
      std::fprintf(out, "  %-16s %s\n", ToUtf8(element).c_str(),
                   values.empty() ? "(not set)" : Joined(values).c_str());
    }
    std::vector<std::wstring> isolated = store.Values(L"{current}", L"isolatedcontext");
    std::fprintf(out, "  {current} isolatedcontext %s\n",
                 isolated.empty() ? "(not set)" : Joined(isolated).c_str());
  }
  PrintArrivals(out, context.machine, context.machine.volumes().arrivals(), run.programEndMs);
  PrintPower(out, context.machine);
  std::fprintf(out, "\nDisks after the run\n");
  PrintDisks(out, context.machine);
}

int RunArm(SimContext& context) {
  ArmRun run = Arm(context.machine);
  if (context.options.json) {
    JsonWriter json;
    WriteArmJson(json, context.machine, run);
    std::fprintf(context.out, "%s\n", json.text().c_str());
  } else {
    PrintReport(context, run);
  }
  return 0;
}

}  // namespace

const SimCommand kArm("arm", RunArm);

}  // namespace tavu::tool
