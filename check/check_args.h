// TavuRecoveryCheck's command line, read the way Windows programs read theirs:
// a switch starts with '/', '-' or "--", in any case.
#pragma once

namespace tavu::check {

enum class CheckMode { Report, Json, Summary, Help, Unknown };

struct CheckArgs {
  CheckMode mode = CheckMode::Report;
  // The first argument that is no switch of the check (with Unknown).
  const wchar_t* unknown = nullptr;
  // /record: leave the summary in the registry and the event log.
  bool record = false;
  // /json or /summary was among the arguments, whatever else was: a usage
  // error is then also answered in JSON.
  bool answerInJson = false;
};

// What the arguments after the program's name ask for. Help wins over all
// else, an unknown argument over an answer, the one-line summary over the
// full JSON.
CheckArgs ReadCheckArgs(int argc, const wchar_t* const* argv);
// The same, as the mode alone; *unknown (when given) as in CheckArgs.
CheckMode ParseCheckArgs(int argc, const wchar_t* const* argv, const wchar_t** unknown);

}  // namespace tavu::check
