// tavu-sim: the launcher's and the patcher's logic on a simulated Windows machine.
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "tools/tavu-sim/sim_session.h"

namespace tavu::tool {
int CmdPatch(SimSession& session);
}  // namespace tavu::tool

namespace {

using tavu::tool::SimSession;

struct Command {
  const char* name;
  int (*run)(SimSession&);
};

// One line per command.
const Command kCommands[] = {
    {"patch", &tavu::tool::CmdPatch},
};

int Usage() {
  std::fprintf(stderr,
               "usage: tavu-sim [--disk IMG] [--usb-disk IMG] [--removable IMG] [--absent]\n"
               "                [--root DIR] [--manufacturer TEXT] [--bitlocker LIST]\n"
               "                [--bcd-listing FILE] [--carried-launcher FILE] [--fwmode present|absent]\n"
               "                locate|arm|patch|demo [--json] [--write]\n");
  return 2;
}

bool IsCommandName(const char* arg) {
  for (const char* name : {"locate", "arm", "patch", "demo"}) {
    if (std::strcmp(arg, name) == 0) return true;
  }
  return false;
}

// Reads the command line into the session; false on a usage error.
bool Parse(int argc, char** argv, SimSession* s) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--disk" || a == "--usb-disk" || a == "--removable") {
      if (!value(&v)) return false;
      s->disks.push_back({a == "--disk"       ? tavu::sim::DiskKind::Fixed
                          : a == "--usb-disk" ? tavu::sim::DiskKind::Usb
                                              : tavu::sim::DiskKind::Removable,
                          v});
    } else if (a == "--absent") {
      s->disks.push_back({tavu::sim::DiskKind::Absent, ""});
    } else if (a == "--root") {
      if (!value(&s->root)) return false;
    } else if (a == "--carried-launcher") {
      if (!value(&s->carriedLauncher)) return false;
      s->carriedLauncherGiven = true;
    } else if (a == "--manufacturer" || a == "--bitlocker" || a == "--bcd-listing" || a == "--fwmode") {
      if (!value(&v)) return false;
    } else if (a == "--json") {
      s->json = true;
    } else if (a == "--write") {
      s->write = true;
    } else if (IsCommandName(a.c_str()) && s->command.empty()) {
      s->command = a;
    } else {
      return false;
    }
  }
  return !s->command.empty();
}

int Fail(const std::string& what, const std::string& reason) {
  std::fprintf(stderr, "tavu-sim: %s: %s\n", what.c_str(), reason.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  SimSession s;
  if (!Parse(argc, argv, &s)) return Usage();
  const Command* command = nullptr;
  for (const Command& c : kCommands) {
    if (s.command == c.name) command = &c;
  }
  if (command == nullptr) return Fail(s.command, "this command is not built yet");

  std::error_code ec;
  if (s.root.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavu-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return Fail(pattern, "cannot make a temporary folder");
    s.root = s.tempRoot = pattern;
  } else if (!std::filesystem::is_directory(s.root, ec)) {
    return Fail(s.root, "not a folder");
  }
  s.machine = std::make_unique<tavu::sim::SimMachine>(s.root);
  s.machine->Install();
  s.machine->disks().SetWriteThrough(s.write);
  for (const auto& d : s.disks) {
    if (d.kind == tavu::sim::DiskKind::Absent) {
      s.machine->AddAbsent();
      continue;
    }
    std::string error;
    if (!s.machine->AddDisk(d.image, d.kind, &error)) {
      if (!s.tempRoot.empty()) std::filesystem::remove_all(s.tempRoot, ec);
      return Fail(d.image, error);
    }
  }
  if (s.carriedLauncherGiven) {
    if (!s.machine->resources().SetCarriedLauncherFile(s.carriedLauncher)) {
      if (!s.tempRoot.empty()) std::filesystem::remove_all(s.tempRoot, ec);
      return Fail(s.carriedLauncher, "cannot read the carried launcher");
    }
  } else {
    // Without the built launcher the patcher simply carries nothing.
    s.machine->resources().SetCarriedLauncherFile(TAVU_DEFAULT_CARRIED_LAUNCHER);
  }
  int rc = command->run(s);
  s.machine.reset();
  if (!s.tempRoot.empty()) std::filesystem::remove_all(s.tempRoot, ec);
  return rc;
}
