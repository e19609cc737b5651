// tavu-sim check: the support check that TavuRecoveryCheck.exe runs on a
// notebook, run on the simulated machine with start-up's COM in place. It
// changes nothing on the disks; its exit status is that of the check: 0 ready,
// 1 the launcher would abort or the machine is armed or half-armed, 3 the
// check could not finish (its record, or its answer, not delivered).
#include <cstdio>
#include <ctime>
#include <memory>

#include "check/check_report.h"
#include "check/fleet_record.h"
#include "check/fleet_summary.h"
#include "check/recovery_check.h"
#include "common/error_mode.h"
#include "launcher/startup/globals.h"
#include "tools/tavu-sim/json.h"
#include "tools/tavu-sim/machine_view.h"
#include "tools/tavu-sim/sim_command.h"

namespace tavu::tool {

namespace {

class FileSink : public TextSink {
 public:
  explicit FileSink(std::FILE* out) : out_(out) {}
  void Write(const char* bytes, std::size_t count) override { std::fwrite(bytes, 1, count, out_); }

 private:
  std::FILE* out_;
};

constexpr char kRecordKeyShown[] = "HKLM\\SOFTWARE\\TAVU\\RecoveryCheck";

// What the check wrote through the machine's record: the values under its key
// and its one event.
void RecordJson(JsonWriter& json, const sim::SimRecord& record) {
  json.BeginObject().Key("registry").BeginObject().Key("key").String(kRecordKeyShown);
  json.Key("values").BeginObject();
  for (const sim::SimRegistryValue& v : record.values()) {
    if (v.key != check::kRecordKey) continue;
    json.Key(ToUtf8(v.name));
    v.isText ? json.WString(v.text) : json.Int(v.number);
  }
  json.EndObject().EndObject().Key("event");
  if (record.events().empty()) {
    json.Null();
  } else {
    const sim::SimEvent& e = record.events().back();
    json.BeginObject().Key("source").WString(e.source).Key("id").Int(e.id);
    json.Key("type").String(check::EventKindWord(e.kind)).Key("text").WString(e.text).EndObject();
  }
  json.EndObject();
}

void PrintRecord(std::FILE* out, const sim::SimRecord& record) {
  std::fprintf(out, "\nRecord (what TavuRecoveryCheck /record writes)\n  %s\n", kRecordKeyShown);
  for (const sim::SimRegistryValue& v : record.values()) {
    if (v.key != check::kRecordKey) continue;
    if (v.isText) {
      std::fprintf(out, "    %-14s REG_SZ     %s\n", ToUtf8(v.name).c_str(), ToUtf8(v.text).c_str());
    } else {
      std::fprintf(out, "    %-14s REG_DWORD  %u\n", ToUtf8(v.name).c_str(), static_cast<unsigned>(v.number));
    }
  }
  for (const sim::SimEvent& e : record.events()) {
    std::fprintf(out, "  Application log, source \"%s\": event %u (%s)\n    %s\n", ToUtf8(e.source).c_str(),
                 static_cast<unsigned>(e.id), check::EventKindWord(e.kind), ToUtf8(e.text).c_str());
  }
}

int RunCheckCommand(SimContext& context) {
  const SimOptions& options = context.options;
  // The program's own start, then start-up's COM, as the launcher has it when
  // its window starts the worker.
  FailCriticalErrorsQuietly();
  context.machine.com().InitializeMultithreaded();
  context.machine.com().InitializeSecurity(0, 3);
  g_comReady = 1;
  auto facts = std::make_unique<check::CheckFacts>();
  check::CheckOptions checkOptions;
  checkOptions.menuRule = options.menuRule == "default" ? MenuRule::Default : MenuRule::First;
  check::RunCheck(facts.get(), checkOptions);
  // What the simulation stands in for, said as such. The simulated clock
  // serves the programs' logs; the report's time is the host's, in UTC.
  facts->about.simulated = true;
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  if (gmtime_r(&now, &utc) != nullptr) {
    facts->about.utc =
        LocalTime{static_cast<std::uint16_t>(utc.tm_year + 1900), static_cast<std::uint16_t>(utc.tm_mon + 1),
                  static_cast<std::uint16_t>(utc.tm_mday),        static_cast<std::uint16_t>(utc.tm_hour),
                  static_cast<std::uint16_t>(utc.tm_min),         static_cast<std::uint16_t>(utc.tm_sec)};
    facts->about.time = facts->about.utc;
    facts->about.zoned = false;
  }
  facts->listingMadeUp = options.bcdListing.empty();
  facts->about.madeUpComputer = options.computer.empty();
  facts->about.madeUpModel = options.model.empty();
  facts->about.madeUpBuild = options.windowsBuild.empty();
  check::RecordOutcome recorded;
  if (options.record) recorded = check::WriteRecord(*facts);

  if (options.summary) {
    check::SummaryLine line;
    check::FormatSummary(*facts, &line);
    std::fprintf(context.out, "%s\n", line.text);
  } else if (options.json) {
    JsonWriter json;
    json.BeginObject();
    check::WriteCheckMembers(*facts, json.out());
    json.Key("message_boxes").BeginArray();
    for (const sim::SimMessageBox& box : context.machine.ui().messageBoxes()) {
      json.BeginObject().Key("title").WString(box.caption).Key("text").WString(box.text).EndObject();
    }
    json.EndArray();
    json.Key("disks");
    WriteDisksJson(json, context.machine);
    if (options.record) RecordJson(json.Key("record"), context.machine.record());
    json.EndObject();
    std::fprintf(context.out, "%s\n", json.text().c_str());
  } else {
    FileSink out(context.out);
    check::WriteCheckReport(*facts, out);
    std::fprintf(context.out, "\nDisks (the check changed nothing)\n");
    PrintDisks(context.out, context.machine);
    if (options.record) PrintRecord(context.out, context.machine.record());
  }
  int status = check::CheckExitStatus(*facts);
  if (!recorded.written()) {
    std::fprintf(
        context.err, "tavu-sim: check --record: the record could not be written (Windows error %u)\n",
        static_cast<unsigned>(recorded.registryError != 0 ? recorded.registryError : recorded.eventError));
    status = check::kExitCouldNotFinish;
  }
  // An answer that did not reach its reader (a full disk, a closed pipe) is no answer.
  if (std::fflush(context.out) != 0 || std::ferror(context.out) != 0) status = check::kExitCouldNotFinish;
  return status;
}

}  // namespace

const SimCommand kCheck("check", RunCheckCommand);

}  // namespace tavu::tool
