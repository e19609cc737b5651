#include "check/fleet_record.h"

#include "check/fleet_summary.h"
#include "check/report_words.h"
#include "common/platform.h"
#include "common/record_api.h"
#include "common/win_errors.h"

namespace tavu::check {

namespace {

// ASCII into UTF-16, cut to fit.
void Widen(const char* ascii, wchar_t* out, std::size_t capacity) {
  std::size_t i = 0;
  for (; ascii != nullptr && ascii[i] != '\0' && i + 1 < capacity; ++i)
    out[i] = static_cast<wchar_t>(ascii[i]);
  out[i] = L'\0';
}

}  // namespace

RecordOutcome WriteRecord(const CheckFacts& f) {
  RecordOutcome outcome;
  RecordApi* record = Sys().record;
  if (record == nullptr) {
    outcome.registryError = outcome.eventError = kErrorCallNotImplemented;
    return outcome;
  }
  SummaryLine line;
  FormatSummary(f, &line);
  wchar_t summary[kSummaryChars + 1];
  Widen(line.text, summary, kSummaryChars + 1);
  wchar_t verdict[8];
  Widen(f.ready ? "ready" : "abort", verdict, 8);
  wchar_t reason[64];
  Widen(ReasonCodeWord(f.reasonCode), reason, 64);
  wchar_t when[kPathChars];
  UtcTimeText(f.about.utc, when, kPathChars);
  const RecordValue values[] = {
      {L"SchemaVersion", static_cast<std::uint32_t>(kCheckSchemaVersion), nullptr},
      {L"Verdict", 0, verdict},
      {L"ReasonCode", 0, reason},
      {L"Win32Error", f.decidingError, nullptr},
      {L"LastRunUtc", 0, when},
      {L"Summary", 0, summary},
  };
  outcome.registryError = record->SetMachineValues(kRecordKey, values, sizeof values / sizeof values[0]);
  outcome.eventError = record->LogEvent(kEventSource, EventKindOf(f.ready, f.reasonCode),
                                        EventId(f.ready, f.reasonCode), summary);
  return outcome;
}

}  // namespace tavu::check
