// tavu-sim check: the support check that TavuRecoveryCheck.exe runs on a
// notebook, run on the simulated machine with start-up's COM in place. It
// changes nothing; its exit status is 1 when the launcher would abort or the
// machine is armed or half-armed.
#include <cstdio>
#include <ctime>
#include <memory>

#include "check/check_report.h"
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

int RunCheckCommand(SimContext& context) {
  // The program's own start, then start-up's COM, as the launcher has it when
  // its window starts the worker.
  FailCriticalErrorsQuietly();
  context.machine.com().InitializeMultithreaded();
  context.machine.com().InitializeSecurity(0, 3);
  g_comReady = 1;
  auto facts = std::make_unique<check::CheckFacts>();
  check::CheckOptions options;
  options.menuRule = context.options.menuRule == "default" ? MenuRule::Default : MenuRule::First;
  check::RunCheck(facts.get(), options);
  // What the simulation stands in for, said as such. The simulated clock
  // serves the programs' logs; the report's time is the host's, in UTC.
  facts->about.simulated = true;
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  if (gmtime_r(&now, &utc) != nullptr) {
    facts->about.time =
        LocalTime{static_cast<std::uint16_t>(utc.tm_year + 1900), static_cast<std::uint16_t>(utc.tm_mon + 1),
                  static_cast<std::uint16_t>(utc.tm_mday),        static_cast<std::uint16_t>(utc.tm_hour),
                  static_cast<std::uint16_t>(utc.tm_min),         static_cast<std::uint16_t>(utc.tm_sec)};
    facts->about.utc = true;
    facts->about.hasOffset = false;
  }
  facts->listingMadeUp = context.options.bcdListing.empty();
  facts->about.madeUpComputer = context.options.computer.empty();
  facts->about.madeUpModel = context.options.model.empty();
  facts->about.madeUpBuild = context.options.windowsBuild.empty();

  if (context.options.json) {
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
    json.EndObject();
    std::fprintf(context.out, "%s\n", json.text().c_str());
  } else {
    FileSink out(context.out);
    check::WriteCheckReport(*facts, out);
    std::fprintf(context.out, "\nDisks (the check changed nothing)\n");
    PrintDisks(context.out, context.machine);
  }
  return facts->ready && !facts->armedNow ? 0 : 1;
}

}  // namespace

const SimCommand kCheck("check", RunCheckCommand);

}  // namespace tavu::tool
