#include "tools/tavu-sim/sim_command.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>

#include "sim/core/language.h"
#include "sim/programs/windows_re.h"
#include "sim/core/sddl.h"

namespace tavu::tool {

namespace {

// Function-local, so that registration from other files' static objects finds
// them constructed whatever the order of initialisation.
std::map<std::string, SimCommandFn>& Commands() {
  static std::map<std::string, SimCommandFn> commands;
  return commands;
}

std::vector<MachineSetupFn>& Setups() {
  static std::vector<MachineSetupFn> setups;
  return setups;
}

bool IsCommandWord(const char* arg) { return arg[0] != '-'; }

}  // namespace

SimCommand::SimCommand(const char* name, SimCommandFn run) { Commands()[name] = run; }

MachineSetup::MachineSetup(MachineSetupFn setup) { Setups().push_back(setup); }

SimCommandFn FindSimCommand(const std::string& name) {
  auto it = Commands().find(name);
  return it == Commands().end() ? nullptr : it->second;
}

const std::vector<MachineSetupFn>& MachineSetups() { return Setups(); }

int ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* error) {
  auto value = [&](int& i, const char* option, std::string* out) {
    if (i + 1 >= argc) {
      *error = std::string("option ") + option + " needs a value";
      return false;
    }
    *out = argv[++i];
    return true;
  };
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    std::string text;
    if (std::strcmp(arg, "--disk") == 0 || std::strcmp(arg, "--usb-disk") == 0 ||
        std::strcmp(arg, "--removable") == 0) {
      if (!value(i, arg, &text)) return 2;
      sim::DiskKind kind = arg[2] == 'd'   ? sim::DiskKind::Fixed
                           : arg[2] == 'u' ? sim::DiskKind::Usb
                                           : sim::DiskKind::Removable;
      options->disks.push_back(DiskOption{text, kind});
    } else if (std::strcmp(arg, "--absent") == 0) {
      options->disks.push_back(DiskOption{"", sim::DiskKind::Absent});
    } else if (std::strcmp(arg, "--card-reader") == 0) {
      options->disks.push_back(DiskOption{"", sim::DiskKind::CardReader});
    } else if (std::strcmp(arg, "--root") == 0) {
      if (!value(i, arg, &options->root)) return 2;
    } else if (std::strcmp(arg, "--manufacturer") == 0) {
      if (!value(i, arg, &options->manufacturer)) return 2;
    } else if (std::strcmp(arg, "--bitlocker") == 0) {
      if (!value(i, arg, &text)) return 2;
      options->bitlockerGiven = true;
      options->bitlocker.clear();
      std::size_t start = 0;
      for (;;) {
        std::size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item != "0" && item != "1" && item != "2" && item != "fail") {
          *error = "--bitlocker: '" + item + "' is not 0, 1, 2 or fail";
          return 2;
        }
        options->bitlocker.push_back(item);
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else if (std::strcmp(arg, "--bcd-listing") == 0) {
      if (!value(i, arg, &options->bcdListing)) return 2;
    } else if (std::strcmp(arg, "--carried-launcher") == 0) {
      if (!value(i, arg, &options->carriedLauncher)) return 2;
    } else if (std::strcmp(arg, "--fwmode") == 0) {
      if (!value(i, arg, &text)) return 2;
      if (text != "present" && text != "absent") {
        *error = "--fwmode: '" + text + "' is not present or absent";
        return 2;
      }
      options->fwmodePresent = text == "present";
    } else if (std::strcmp(arg, "--language") == 0) {
      if (!value(i, arg, &options->language)) return 2;
      if (sim::FindSimLanguage(options->language) == nullptr) {
        *error = "--language: '" + options->language + "' is not one of " + sim::KnownSimLanguageTags();
        return 2;
      }
    } else if (std::strcmp(arg, "--arrival-ms") == 0 || std::strcmp(arg, "--scanner-hold-ms") == 0) {
      if (!value(i, arg, &text)) return 2;
      char* end = nullptr;
      const unsigned long ms = text.empty() || text[0] == '-' ? 0 : std::strtoul(text.c_str(), &end, 10);
      if (end == nullptr || *end != '\0' || ms > 3600000) {
        *error = std::string(arg) + ": '" + text + "' is not a number of milliseconds from 0 to 3600000";
        return 2;
      }
      (arg[2] == 'a' ? options->arrivalMs : options->scannerHoldMs) = static_cast<std::uint32_t>(ms);
    } else if (std::strcmp(arg, "--launcher-path") == 0 || std::strcmp(arg, "--user-writable") == 0) {
      if (!value(i, arg, &text)) return 2;
      // A full path with its drive: anything else names no one place.
      const bool full = text.size() >= 4 && std::isalpha(static_cast<unsigned char>(text[0])) != 0 &&
                        text[1] == ':' && text[2] == '\\' && text.find('/') == std::string::npos;
      if (!full) {
        *error = std::string(arg) + ": '" + text + "' is not a full Windows path such as C:\\Folder";
        return 2;
      }
      if (arg[2] == 'l') {
        options->launcherPath = text;
      } else {
        options->userWritable.push_back(text);
      }
    } else if (std::strcmp(arg, "--acl") == 0) {
      if (!value(i, arg, &text)) return 2;
      const std::size_t equals = text.find('=');
      const std::string path = text.substr(0, equals == std::string::npos ? 0 : equals);
      const bool full = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) != 0 &&
                        path[1] == ':' && path[2] == '\\' && path.find('/') == std::string::npos;
      sim::SimDescriptor descriptor;
      std::string why;
      if (!full) {
        *error = "--acl: '" + text + "' is not PATH=SDDL with a full Windows path such as C:\\Folder";
        return 2;
      }
      if (!sim::ParseSddl(text.substr(equals + 1), &descriptor, &why)) {
        *error = "--acl: '" + text.substr(equals + 1) + "' is not a security descriptor: " + why;
        return 2;
      }
      options->acls.emplace_back(path, text.substr(equals + 1));
    } else if (std::strcmp(arg, "--user-mutex") == 0) {
      if (!value(i, arg, &text)) return 2;
      // Windows takes no backslash in a name of the session's namespace.
      if (text.empty() || text.find('\\') != std::string::npos) {
        *error = "--user-mutex: '" + text + "' is not a mutex name without backslash";
        return 2;
      }
      options->userMutexes.push_back(text);
    } else if (std::strcmp(arg, "--launcher-running") == 0) {
      options->launcherRunning = true;
    } else if (std::strcmp(arg, "--user-env") == 0) {
      if (!value(i, arg, &text)) return 2;
      const std::size_t equals = text.find('=');
      if (equals == 0 || equals == std::string::npos) {
        *error = "--user-env: '" + text + "' is not NAME=VALUE";
        return 2;
      }
      options->userEnv.emplace_back(text.substr(0, equals), text.substr(equals + 1));
    } else if (std::strcmp(arg, "--cmd-autorun") == 0) {
      if (!value(i, arg, &options->cmdAutoRun)) return 2;
    } else if (std::strcmp(arg, "--automount") == 0) {
      if (!value(i, arg, &text)) return 2;
      if (text != "on" && text != "off") {
        *error = "--automount: '" + text + "' is not on or off";
        return 2;
      }
      options->automount = text == "on";
    } else if (std::strcmp(arg, "--winre") == 0) {
      if (!value(i, arg, &options->winre)) return 2;
      sim::WinReState state;
      if (!sim::ParseWinReState(options->winre, &state)) {
        *error = "--winre: '" + options->winre + "' is not enabled, disabled, image-missing or orphan";
        return 2;
      }
    } else if (std::strcmp(arg, "--reagent") == 0) {
      if (!value(i, arg, &options->reagent)) return 2;
    } else if (std::strcmp(arg, "--json") == 0) {
      options->json = true;
    } else if (std::strcmp(arg, "--write") == 0) {
      options->write = true;
    } else if (std::strcmp(arg, "--mbr") == 0) {
      options->mbr = true;
    } else if (std::strcmp(arg, "--images") == 0) {
      if (!value(i, arg, &options->images)) return 2;
    } else if (IsCommandWord(arg) && options->command.empty()) {
      options->command = arg;
    } else if (IsCommandWord(arg)) {
      *error = std::string("more than one command: '") + options->command + "' and '" + arg + "'";
      return 2;
    } else {
      *error = std::string("unknown option ") + arg;
      return 2;
    }
  }
  if (options->command.empty()) {
    *error = "no command given";
    return 2;
  }
  if ((options->mbr || !options->images.empty()) && options->command != "demo") {
    *error = "--mbr and --images belong to demo";
    return 2;
  }
  return 0;
}

}  // namespace tavu::tool
