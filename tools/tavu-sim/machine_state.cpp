#include "tools/tavu-sim/machine_state.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/core/paths.h"
#include "tools/tavu-sim/json.h"
#include "tools/tavu-sim/json_read.h"

namespace tavu::tool {

namespace {

constexpr int kStateVersion = 1;

// Every value of a registration, by the names the JSON keeps them under.
struct TextField {
  const char* key;
  std::wstring sim::SimTask::*field;
};
struct NumberField {
  const char* key;
  std::int32_t sim::SimTask::*field;
};
struct FlagField {
  const char* key;
  bool sim::SimTask::*field;
};
const TextField kTextFields[] = {
    {"folder", &sim::SimTask::folder},
    {"name", &sim::SimTask::name},
    {"author", &sim::SimTask::author},
    {"principal_id", &sim::SimTask::principalId},
    {"restart_interval", &sim::SimTask::restartInterval},
    {"execution_time_limit", &sim::SimTask::executionTimeLimit},
    {"trigger_id", &sim::SimTask::triggerId},
    {"second_trigger_id", &sim::SimTask::secondTriggerId},
    {"action_path", &sim::SimTask::actionPath},
    {"action_arguments", &sim::SimTask::actionArguments},
    {"user_id", &sim::SimTask::userId},
    {"security_descriptor", &sim::SimTask::securityDescriptor},
};
const NumberField kNumberFields[] = {
    {"principal_logon_type", &sim::SimTask::principalLogonType},
    {"run_level", &sim::SimTask::runLevel},
    {"restart_count", &sim::SimTask::restartCount},
    {"trigger_type", &sim::SimTask::triggerType},
    {"second_trigger_type", &sim::SimTask::secondTriggerType},
    {"action_type", &sim::SimTask::actionType},
    {"flags", &sim::SimTask::flags},
    {"logon_type", &sim::SimTask::logonType},
};
const FlagField kFlagFields[] = {
    {"stop_on_idle_end", &sim::SimTask::stopOnIdleEnd},
    {"disallow_start_if_on_batteries", &sim::SimTask::disallowStartIfOnBatteries},
    {"stop_if_going_on_batteries", &sim::SimTask::stopIfGoingOnBatteries},
    {"allow_demand_start", &sim::SimTask::allowDemandStart},
    {"start_when_available", &sim::SimTask::startWhenAvailable},
    {"allow_hard_terminate", &sim::SimTask::allowHardTerminate},
    {"has_security_descriptor", &sim::SimTask::hasSecurityDescriptor},
};

bool Fail(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

bool ReadTask(const JsonValue& v, sim::SimTask* task, std::string* error) {
  if (v.kind != JsonValue::Kind::Object) return Fail(error, "a task is not an object");
  for (const TextField& f : kTextFields) {
    const JsonValue& m = v[f.key];
    if (!m.IsString()) return Fail(error, std::string("task field '") + f.key + "' is not a string");
    task->*f.field = sim::Widen(m.text);
  }
  for (const NumberField& f : kNumberFields) {
    const JsonValue& m = v[f.key];
    if (m.kind != JsonValue::Kind::Number || m.number < INT32_MIN || m.number > INT32_MAX)
      return Fail(error, std::string("task field '") + f.key + "' is not a number");
    task->*f.field = static_cast<std::int32_t>(m.number);
  }
  for (const FlagField& f : kFlagFields) {
    const JsonValue& m = v[f.key];
    if (m.kind != JsonValue::Kind::Bool) return Fail(error, std::string("task field '") + f.key + "' is not true or false");
    task->*f.field = m.boolean;
  }
  return true;
}

}  // namespace

bool LoadMachineState(sim::SimMachine& machine, const std::string& path, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return true;
  std::ifstream in(path, std::ios::binary);
  if (!in || std::filesystem::is_directory(path, ec)) return Fail(error, "cannot be read");
  std::ostringstream bytes;
  bytes << in.rdbuf();
  JsonValue state;
  std::string why;
  if (!ParseJson(bytes.str(), &state, &why)) return Fail(error, "not JSON: " + why);
  if (state["tavu_sim_state"].number != kStateVersion || !state["boot_store"].IsString() ||
      state["tasks"].kind != JsonValue::Kind::Array || state["pending_renames"].kind != JsonValue::Kind::Array ||
      (state["firmware_mode"].text != "on" && state["firmware_mode"].text != "off")) {
    return Fail(error, "not a tavu-sim machine state (version 1)");
  }
  std::vector<sim::SimTask> tasks;
  for (const JsonValue& t : state["tasks"].items) {
    sim::SimTask task;
    if (!ReadTask(t, &task, error)) return false;
    tasks.push_back(task);
  }
  std::vector<sim::SimFiles::RestartMove> moves;
  for (const JsonValue& m : state["pending_renames"].items) {
    if (!m["from"].IsString() || (!m["to"].IsString() && m["to"].kind != JsonValue::Kind::Null))
      return Fail(error, "a pending rename is not {\"from\": ..., \"to\": ...}");
    moves.push_back({sim::Widen(m["from"].text), sim::Widen(m["to"].text)});
  }
  machine.windowsTools().LoadListing(sim::Widen(state["boot_store"].text));
  machine.processes().SetFirmwareMode(state["firmware_mode"].text == "on");
  machine.tasks().Clear();
  for (const sim::SimTask& task : tasks) machine.tasks().Put(task);
  machine.files().SetRestartMoves(std::move(moves));
  return true;
}

bool SaveMachineState(sim::SimMachine& machine, const std::string& path, std::string* error) {
  JsonWriter json;
  json.BeginObject();
  json.Key("tavu_sim_state").Int(kStateVersion);
  json.Key("boot_store").WString(machine.windowsTools().store().Listing());
  json.Key("firmware_mode").String(machine.processes().firmwareMode() ? "on" : "off");
  json.Key("tasks").BeginArray();
  for (const sim::SimTask& task : machine.tasks().All()) {
    json.BeginObject();
    for (const TextField& f : kTextFields) json.Key(f.key).WString(task.*f.field);
    for (const NumberField& f : kNumberFields) json.Key(f.key).Int(task.*f.field);
    for (const FlagField& f : kFlagFields) json.Key(f.key).Bool(task.*f.field);
    json.EndObject();
  }
  json.EndArray();
  json.Key("pending_renames").BeginArray();
  for (const sim::SimFiles::RestartMove& move : machine.files().restartMoves()) {
    json.BeginObject().Key("from").WString(move.from).Key("to");
    move.to.empty() ? json.Null() : json.WString(move.to);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  // Written beside and renamed over: a state is there whole or not changed.
  const std::string writing = path + ".new";
  {
    std::ofstream out(writing, std::ios::binary | std::ios::trunc);
    out << json.text() << '\n';
    if (!out.flush()) return Fail(error, "cannot be written");
  }
  std::error_code ec;
  std::filesystem::rename(writing, path, ec);
  if (ec) {
    std::filesystem::remove(writing, ec);
    return Fail(error, "cannot be written");
  }
  return true;
}

}  // namespace tavu::tool
