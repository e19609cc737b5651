// How the check's answer travels through a fleet's management tools: the exit
// status, the one-line summary, and the line that stands in for an answer the
// check could not give.
#pragma once

#include <cstddef>

#include "check/recovery_check.h"
#include "common/json_out.h"

namespace tavu::check {

// The version of the JSON's shape (docs/check.schema.json); it changes only
// when a field changes its meaning or type or goes away.
inline constexpr int kCheckSchemaVersion = 1;

// Exit statuses of TavuRecoveryCheck.exe and tavu-sim check.
inline constexpr int kExitReady = 0;
inline constexpr int kExitNotReady = 1;  // the launcher would abort, or the machine is armed or half-armed
inline constexpr int kExitUsage = 2;     // a usage error or input the check cannot use
inline constexpr int kExitCouldNotFinish = 3;

int CheckExitStatus(const CheckFacts& f);

// Intune keeps 2,048 characters of a detection script's output; the summary
// leaves room for what a script adds around it.
inline constexpr std::size_t kSummaryChars = 512;

struct SummaryLine {
  char text[kSummaryChars + 1] = {};
  std::size_t length = 0;
};

// One JSON object in ASCII, without a line end: schema_version, verdict,
// reason_code, win32_error, route, armed (now, half_armed, next_start),
// version, time.
void FormatSummary(const CheckFacts& f, SummaryLine* line);

// The schema_version and reason_code members of the full JSON.
void WriteVersionMember(JsonOut& json);
void WriteReasonCodeMember(const CheckFacts& f, JsonOut& json);

// {"schema_version": 1, "verdict": "error", "error": "..."}: the answer when
// there is no verdict to give (exit status 2 or 3), without a line end.
void WriteErrorObject(JsonOut& json, const wchar_t* error);
void WriteErrorObject(JsonOut& json, const char* utf8Error);

}  // namespace tavu::check
