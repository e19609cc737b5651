// tavu-sim logon and launcher: the next start of Windows with its tasks and
// the first administrator's logon, and one command-line mode of the installed
// launcher. Both run the launcher's own start-up (LauncherMain) as a new
// process of the machine.
#include <cstdio>
#include <string>
#include <vector>

#include "common/error_mode.h"
#include "common/task_api.h"
#include "launcher/startup/globals.h"
#include "launcher/startup/launcher_main.h"
#include "sim/core/text.h"
#include "tools/tavu-sim/command_runs.h"
#include "tools/tavu-sim/json.h"
#include "tools/tavu-sim/machine_view.h"
#include "tools/tavu-sim/sim_command.h"

namespace tavu::tool {

namespace {

constexpr wchar_t kInstalledLauncher[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe";

// A new process of the launcher: the values Windows gives every process, its
// own file, its command line.
int RunLauncherProcess(sim::SimMachine& m, const std::wstring& modulePath, const std::wstring& commandLine) {
  g_mainWindow = nullptr;
  g_app = nullptr;
  g_comReady = 0;
  g_debugSwitch = 0;
  g_logSwitch = 0;
  g_firmwareDevice = nullptr;
  m.com().NewProcess();
  m.system().SetErrorMode(0);
  m.system().SetModulePath(modulePath);
  const int code = LauncherMain(m.startup(), nullptr, commandLine.c_str(), 1);
  m.startup().EndProcess();
  return code;
}

bool IsLauncherFile(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L'\\');
  return sim::AsciiUpper(slash == std::wstring::npos ? path : path.substr(slash + 1)) == L"TAVU RECOVERY.EXE";
}

// Runs what the task's action names, as Windows' Task Scheduler starts it.
int RunAction(sim::SimMachine& m, const sim::SimTask& task) {
  if (IsLauncherFile(task.actionPath) && m.launcherProgram()) {
    return m.launcherProgram()(task.actionPath, task.actionArguments);
  }
  std::wstring commandLine = L"\"" + task.actionPath + L"\" " + task.actionArguments;
  Handle process = nullptr;
  if (!m.processes().Create(task.actionPath.c_str(), commandLine.data(), nullptr, 0, nullptr, &process)) return -1;
  std::uint32_t code = 0;
  m.processes().Wait(process);
  m.processes().ExitCode(process, &code);
  m.files().Close(process);
  return static_cast<int>(code);
}

bool HasTrigger(const sim::SimTask& task, std::int32_t trigger) {
  return task.triggerType == trigger || task.secondTriggerType == trigger;
}

}  // namespace

// Windows starts: what was to move at the restart moves, then the tasks
// that start with Windows run, then those of the first logon. The list is
// read anew for the logon: a start-up task may have removed itself.
ProgramRuns Logon(sim::SimMachine& m) {
  ProgramRuns runs;
  m.Restart();
  m.windowsTools().programs().CancelRestart();
  for (const auto& [trigger, name] : {std::pair{kTaskTriggerBoot, "start-up"}, std::pair{kTaskTriggerLogon, "logon"}}) {
    for (const sim::SimTask& task : m.tasks().All()) {
      if (m.faults().PowerOff() || !HasTrigger(task, trigger)) continue;
      TaskRun run{task.name, name, task.actionPath, task.actionArguments};
      run.exitCode = RunAction(m, task);
      runs.tasks.push_back(run);
    }
  }
  m.faults().PowerOn();
  m.Settle();
  return runs;
}

ProgramRuns RunLauncher(sim::SimMachine& m, const std::wstring& path, const std::wstring& commandLine) {
  ProgramRuns runs;
  runs.result = RunLauncherProcess(m, path, commandLine);
  m.faults().PowerOn();
  m.Settle();
  return runs;
}

void WriteRunJson(JsonWriter& json, sim::SimMachine& m, const ProgramRuns& runs, bool launcher) {
  json.BeginObject();
  if (launcher) json.Key("result").Int(runs.result);
  json.Key("tasks_run").BeginArray();
  for (const TaskRun& t : runs.tasks) {
    json.BeginObject()
        .Key("task")
        .WString(t.task)
        .Key("trigger")
        .String(t.trigger)
        .Key("path")
        .WString(t.path)
        .Key("arguments")
        .WString(t.arguments)
        .Key("exit_code")
        .Int(t.exitCode)
        .EndObject();
  }
  json.EndArray();
  WriteBoxesJson(json, m.ui().messageBoxes());
  WriteProcessesJson(json, sim::ReportLaunches(m.processes().launches(), m.windowsTools().programs().scriptRuns()));
  WriteTaskJson(json, m);
  json.Key("restart_pending").Bool(m.windowsTools().programs().restart().pending);
  json.Key("firmware_mode").String(m.processes().firmwareMode() ? "on" : "off");
  WriteBootStoreJson(json, m);
  WritePowerJson(json, m);
  json.Key("disks");
  WriteDisksJson(json, m);
  json.EndObject();
}

namespace {

void PrintRuns(SimContext& c, const ProgramRuns& runs, bool launcher) {
  std::FILE* out = c.out;
  sim::SimMachine& m = c.machine;
  if (launcher) std::fprintf(out, "Launcher %s: exit code %d\n", c.options.launcherSwitch.c_str(), runs.result);
  if (!launcher) {
    std::fprintf(out, "Windows started; tasks run:%s\n", runs.tasks.empty() ? " none" : "");
    for (const TaskRun& t : runs.tasks) {
      std::fprintf(out, "  [%s] %s: %s %s, exit code %d\n", t.trigger, sim::Narrow(t.task).c_str(),
                   sim::Narrow(t.path).c_str(), sim::Narrow(t.arguments).c_str(), t.exitCode);
    }
  }
  const auto boxes = m.ui().messageBoxes();
  std::fprintf(out, "Message boxes:%s\n", boxes.empty() ? " none" : "");
  for (const sim::SimMessageBox& box : boxes) {
    std::fprintf(out, "  [%s] %s\n", ToUtf8(box.caption).c_str(), ToUtf8(box.text).c_str());
  }
  const auto launches = sim::ReportLaunches(m.processes().launches(), m.windowsTools().programs().scriptRuns());
  std::fprintf(out, "Programs started:%s\n", launches.empty() ? " none" : "");
  for (const sim::SimLaunchReport& r : launches) {
    std::fprintf(out, "  %s %s\n", ToUtf8(r.launch.file).c_str(), ToUtf8(r.launch.parameters).c_str());
  }
  const auto task = m.tasks().Find(L"TAVU F9 Recovery");
  std::fprintf(out, "Task \"TAVU F9 Recovery\": %s\n", task ? "registered" : "not registered");
  std::fprintf(out, "Firmware mode: %s\n", m.processes().firmwareMode() ? "on" : "off");
  PrintPower(out, m);
  std::fprintf(out, "\nDisks after the run\n");
  PrintDisks(out, m);
}

int Print(SimContext& c, const ProgramRuns& runs, bool launcher) {
  if (c.options.json) {
    JsonWriter json;
    WriteRunJson(json, c.machine, runs, launcher);
    std::fprintf(c.out, "%s\n", json.text().c_str());
  } else {
    PrintRuns(c, runs, launcher);
  }
  return 0;
}

int RunLogon(SimContext& c) { return Print(c, Logon(c.machine), false); }

int RunLauncherCommand(SimContext& c) {
  const std::wstring path = c.options.launcherPath.empty() ? kInstalledLauncher : sim::Widen(c.options.launcherPath);
  return Print(c, RunLauncher(c.machine, path, sim::Widen(c.options.launcherSwitch)), true);
}

}  // namespace

void InstallLauncherProgram(sim::SimMachine& machine) {
  machine.SetLauncherProgram([&machine](const std::wstring& modulePath, const std::wstring& commandLine) {
    return RunLauncherProcess(machine, modulePath, commandLine);
  });
}

const SimCommand kLogon("logon", RunLogon);
const SimCommand kLauncher("launcher", RunLauncherCommand);

}  // namespace tavu::tool
