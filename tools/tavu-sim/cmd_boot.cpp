// tavu-sim boot: what the next start of the machine does, by the same rules
// and from the same facts as the support check's "next start", but with the
// firmware mode the maker's tool last left (which the real check cannot read).
#include <cstdio>
#include <string>

#include "check/next_start_facts.h"
#include "common/error_mode.h"
#include "sim/core/text.h"
#include "tools/tavu-sim/command_runs.h"
#include "tools/tavu-sim/json.h"
#include "tools/tavu-sim/sim_command.h"

namespace tavu::tool {

NextStartReport BootOf(sim::SimMachine& machine, MenuRule rule) {
  // The store as bcdedit would list it now, without running bcdedit.
  const std::wstring text = machine.windowsTools().store().Listing();
  const ListingLines listing = SplitListing(text.c_str(), text.size());
  FailCriticalErrorsQuietly();
  return check::PredictNextStart(listing, machine.processes().firmwareMode(), rule);
}

namespace {

// Identifiers in lower case, as the boot store holds them whatever case they
// were given in; other values as listed.
void WriteValues(JsonWriter& json, sim::SimBcdStore& store, const wchar_t* id, const wchar_t* element, bool list,
                 bool identifiers) {
  std::vector<std::wstring> values = store.Values(id, element);
  if (identifiers) {
    for (std::wstring& v : values) v = sim::AsciiLower(v);
  }
  if (list) {
    json.BeginArray();
    for (const std::wstring& v : values) json.WString(v);
    json.EndArray();
    return;
  }
  if (values.empty()) {
    json.Null();
    return;
  }
  std::wstring joined;
  for (const std::wstring& v : values) joined += (joined.empty() ? L"" : L" ") + v;
  json.WString(joined);
}

int RunBoot(SimContext& c) {
  const MenuRule rule = c.options.menuRule == "default" ? MenuRule::Default : MenuRule::First;
  const NextStartReport report = BootOf(c.machine, rule);
  sim::SimBcdStore& store = c.machine.windowsTools().store();
  if (!c.options.json) {
    std::fprintf(c.out, "Next start: %s\n%s\n", NextStartName(report.next), report.why.c_str());
    for (const std::string& step : report.steps) std::fprintf(c.out, "  %s\n", step.c_str());
    std::fprintf(c.out, "Firmware mode: %s\n", c.machine.processes().firmwareMode() ? "on" : "off");
    return 0;
  }
  JsonWriter json;
  json.BeginObject();
  json.Key("next_start").String(NextStartName(report.next));
  json.Key("why").String(report.why);
  json.Key("steps").BeginArray();
  for (const std::string& step : report.steps) json.String(step);
  json.EndArray();
  json.Key("firmware_mode").String(c.machine.processes().firmwareMode() ? "on" : "off");
  json.Key("active_partition");
  if (report.activePartition != 0) {
    json.BeginObject().Key("disk").Int(report.disk).Key("partition").Int(report.activePartition).EndObject();
  } else {
    json.Null();
  }
  json.Key("boot_store");
  if (!store.HasEntry(L"{bootmgr}")) {
    json.Null();
  } else {
    json.BeginObject();
    json.Key("default");
    WriteValues(json, store, L"{bootmgr}", L"default", false, true);
    json.Key("displayorder");
    WriteValues(json, store, L"{bootmgr}", L"displayorder", true, true);
    json.Key("bootsequence");
    WriteValues(json, store, L"{bootmgr}", L"bootsequence", true, true);
    json.Key("customactions");
    WriteValues(json, store, L"{bootmgr}", L"customactions", false, false);
    json.Key("custom:5400000f");
    WriteValues(json, store, L"{bootmgr}", L"custom:5400000f", false, true);
    json.Key("extendedinput");
    WriteValues(json, store, L"{bootmgr}", L"extendedinput", false, false);
    json.Key("isolatedcontext");
    WriteValues(json, store, L"{current}", L"isolatedcontext", false, false);
    json.EndObject();
  }
  json.EndObject();
  std::fprintf(c.out, "%s\n", json.text().c_str());
  return 0;
}

}  // namespace

const SimCommand kBoot("boot", RunBoot);

}  // namespace tavu::tool
