// check's usage errors in JSON: a fleet's script that asked for JSON reads
// one object on standard output whatever happened.
#pragma once

namespace tavu::tool {

// Whether the command line runs check with --json or --summary.
bool CheckAnswersInJson(int argc, char** argv);

// Runs run(argc, argv) with what it writes to standard error held back; passes
// that on to standard error, and when the status is 2 also prints
// {"schema_version": 1, "verdict": "error", "error": "..."} on standard
// output, with the first line's reason.
int RunWithJsonErrors(int argc, char** argv, int (*run)(int, char**));

}  // namespace tavu::tool
