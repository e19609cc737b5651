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

}  // namespace

CheckMode ParseCheckArgs(int argc, const wchar_t* const* argv, const wchar_t** unknown) {
  bool json = false;
  bool help = false;
  const wchar_t* first = nullptr;
  for (int i = 1; i < argc; ++i) {
    const wchar_t* arg = argv[i] != nullptr ? argv[i] : L"";
    const wchar_t* name = SwitchName(arg);
    if (name != nullptr && EqualsIgnoreAsciiCase(name, L"json")) {
      json = true;
    } else if (name != nullptr && (EqualsIgnoreAsciiCase(name, L"?") || EqualsIgnoreAsciiCase(name, L"h") ||
                                   EqualsIgnoreAsciiCase(name, L"help"))) {
      help = true;
    } else if (first == nullptr) {
      first = arg;
    }
  }
  if (unknown != nullptr) *unknown = first;
  if (help) return CheckMode::Help;
  if (first != nullptr) return CheckMode::Unknown;
  return json ? CheckMode::Json : CheckMode::Report;
}

}  // namespace tavu::check
