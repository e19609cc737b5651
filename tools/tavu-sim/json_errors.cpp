#include "tools/tavu-sim/json_errors.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "check/fleet_summary.h"
#include "tools/tavu-sim/json.h"

namespace tavu::tool {

bool CheckAnswersInJson(int argc, char** argv) {
  bool check = false;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    check = check || arg == "check";
    json = json || arg == "--json" || arg == "--summary";
  }
  return check && json;
}

int RunWithJsonErrors(int argc, char** argv, int (*run)(int, char**)) {
  std::FILE* held = std::tmpfile();
  const int saved = held != nullptr ? dup(STDERR_FILENO) : -1;
  std::fflush(stderr);
  if (saved < 0 || dup2(fileno(held), STDERR_FILENO) < 0) {
    if (saved >= 0) close(saved);
    if (held != nullptr) std::fclose(held);
    return run(argc, argv);
  }
  const int status = run(argc, argv);
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::string text;
  std::rewind(held);
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, held)) > 0;) text.append(buffer, n);
  std::fclose(held);
  std::fwrite(text.data(), 1, text.size(), stderr);
  if (status != check::kExitUsage) return status;
  std::string reason = text.substr(0, text.find('\n'));
  const std::string prefix = "tavu-sim: ";
  if (reason.compare(0, prefix.size(), prefix) == 0) reason.erase(0, prefix.size());
  JsonWriter json;
  check::WriteErrorObject(json.out(), reason.c_str());
  std::fprintf(stdout, "%s\n", json.text().c_str());
  std::fflush(stdout);
  return status;
}

}  // namespace tavu::tool
