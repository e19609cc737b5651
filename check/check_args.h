// TavuRecoveryCheck's command line, read the way Windows programs read theirs:
// a switch starts with '/', '-' or "--", in any case.
#pragma once

namespace tavu::check {

enum class CheckMode { Report, Json, Help, Unknown };

// What the arguments after the program's name ask for; *unknown (when given)
// is the first argument that is no switch of the check. Help wins over all
// else, an unknown argument over a report.
CheckMode ParseCheckArgs(int argc, const wchar_t* const* argv, const wchar_t** unknown);

}  // namespace tavu::check
