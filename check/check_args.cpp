#include "check/check_args.h"

#include "common/wide_text.h"

namespace tavu::check {

namespace {

// The switch's name without its '/', '-' or "--"; null for no switch.
const wchar_t* SwitchName(const wchar_t* arg) {
  if (arg[0] == L'/') return arg + 1;
  if (arg[0] == L'-' && arg[1] == L'-') return arg + 2;
  if (arg[0] == L'-') return arg + 1;
  return nullptr;
}

bool Is(const wchar_t* name, const wchar_t* word) {
  return name != nullptr && EqualsIgnoreAsciiCase(name, word);
}

}  // namespace

CheckArgs ReadCheckArgs(int argc, const wchar_t* const* argv) {
  CheckArgs a;
  bool json = false;
  bool summary = false;
  bool help = false;
  for (int i = 1; i < argc; ++i) {
    const wchar_t* arg = argv[i] != nullptr ? argv[i] : L"";
    const wchar_t* name = SwitchName(arg);
    if (Is(name, L"json")) {
      json = true;
    } else if (Is(name, L"summary")) {
      summary = true;
    } else if (Is(name, L"record")) {
      a.record = true;
    } else if (Is(name, L"?") || Is(name, L"h") || Is(name, L"help")) {
      help = true;
    } else if (a.unknown == nullptr) {
      a.unknown = arg;
    }
  }
  a.answerInJson = json || summary;
  a.mode = help                   ? CheckMode::Help
           : a.unknown != nullptr ? CheckMode::Unknown
           : summary              ? CheckMode::Summary
           : json                 ? CheckMode::Json
                                  : CheckMode::Report;
  return a;
}

CheckMode ParseCheckArgs(int argc, const wchar_t* const* argv, const wchar_t** unknown) {
  const CheckArgs a = ReadCheckArgs(argc, argv);
  if (unknown != nullptr) *unknown = a.unknown;
  return a.mode;
}

}  // namespace tavu::check
