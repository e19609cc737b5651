#include "tools/tavu-sim/sim_command.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "sim/core/language.h"
#include "sim/core/sddl.h"
#include "sim/programs/windows_re.h"

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

namespace {
PlantedFiles* g_planted = nullptr;
}  // namespace

PlantedFiles::PlantedFiles() { g_planted = this; }

PlantedFiles::~PlantedFiles() {
  std::error_code ec;
  // Deepest first: a file before its folder, a folder before its parent.
  for (auto it = paths_.rbegin(); it != paths_.rend(); ++it) std::filesystem::remove(*it, ec);
  g_planted = nullptr;
}

void PlantedFiles::MakeFolders(const std::string& path) {
  std::error_code ec;
  std::filesystem::path at;
  std::vector<std::string> made;
  for (const auto& part : std::filesystem::path(path)) {
    at /= part;
    if (!std::filesystem::exists(at, ec)) made.push_back(at.string());
  }
  if (std::filesystem::create_directories(path, ec)) paths_.insert(paths_.end(), made.begin(), made.end());
}

void PlantedFiles::Note(const std::string& path) { paths_.push_back(path); }

void PlantedFiles::Keep(const std::string& path) {
  const std::filesystem::path kept = std::filesystem::path(path).lexically_normal();
  std::erase_if(paths_,
                [&](const std::string& p) { return std::filesystem::path(p).lexically_normal() == kept; });
}

PlantedFiles* PlantedFiles::Current() { return g_planted; }

SimCommandFn FindSimCommand(const std::string& name) {
  auto it = Commands().find(name);
  return it == Commands().end() ? nullptr : it->second;
}

const std::vector<MachineSetupFn>& MachineSetups() { return Setups(); }

bool ParseWindowsBuild(const std::string& text, unsigned (&parts)[3]) {
  std::size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    std::size_t end = at;
    unsigned long value = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9' && end - at < 9) {
      value = value * 10 + static_cast<unsigned long>(text[end] - '0');
      ++end;
    }
    if (end == at) return false;
    parts[i] = static_cast<unsigned>(value);
    if (i < 2 && (end >= text.size() || text[end] != '.')) return false;
    at = end + 1;
  }
  return at == text.size() + 1;
}

namespace {

bool ParseBitlocker(const std::string& text, SimOptions* o, std::string* error) {
  o->bitlockerGiven = true;
  o->bitlocker.clear();
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (item != "0" && item != "1" && item != "2" && item != "fail") {
      *error = "--bitlocker: '" + item + "' is not 0, 1, 2 or fail";
      return false;
    }
    o->bitlocker.push_back(item);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

bool ParseMilliseconds(const char* option, const std::string& text, std::uint32_t* out, std::string* error) {
  char* end = nullptr;
  const unsigned long ms = text.empty() || text[0] == '-' ? 0 : std::strtoul(text.c_str(), &end, 10);
  if (end == nullptr || *end != '\0' || ms > 3600000) {
    *error = std::string(option) + ": '" + text + "' is not a number of milliseconds from 0 to 3600000";
    return false;
  }
  *out = static_cast<std::uint32_t>(ms);
  return true;
}

// A full path with its drive: anything else names no one place.
bool ParseWindowsPath(const char* option, const std::string& text, std::string* out, std::string* error) {
  const bool full = text.size() >= 4 && std::isalpha(static_cast<unsigned char>(text[0])) != 0 &&
                    text[1] == ':' && text[2] == '\\' && text.find('/') == std::string::npos;
  if (!full) {
    *error = std::string(option) + ": '" + text + "' is not a full Windows path such as C:\\Folder";
    return false;
  }
  *out = text;
  return true;
}

constexpr char kSectorSizeAlone[] =
    "--sector-size belongs to the --disk, --usb-disk or --removable that follows it";

bool AddDisk(SimOptions* o, const std::string& image, sim::DiskKind kind, std::string* error) {
  if (image.empty() && o->pendingSectorSize != 0) {
    *error = kSectorSizeAlone;
    return false;
  }
  o->disks.push_back(DiskOption{image, kind, o->pendingSectorSize});
  o->pendingSectorSize = 0;
  if (!image.empty()) o->inputFiles.push_back(InputFile{"image", image, true});
  return true;
}

// Every option, its value's name (nullptr: it takes none), one line of help,
// and what it does to the options. --help prints this table in this order.
const SimOptionRule kOptionRules[] = {
    {"--disk", "IMAGE", "a fixed disk backed by the image file (raw, VHD, VHDX, VMDK or E01)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       return AddDisk(o, v, sim::DiskKind::Fixed, e);
     }},
    {"--usb-disk", "IMAGE", "a disk on the USB bus (bus type 7), media type fixed",
     [](const std::string& v, SimOptions* o, std::string* e) {
       return AddDisk(o, v, sim::DiskKind::Usb, e);
     }},
    {"--removable", "IMAGE", "a disk whose geometry reports RemovableMedia (11)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       return AddDisk(o, v, sim::DiskKind::Removable, e);
     }},
    {"--sector-size", "512|4096",
     "the logical sector size of the disk given next (default: 4096 when its GPT lies at byte 4096)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       if (v != "512" && v != "4096") {
         *e = "--sector-size: '" + v + "' is not 512 or 4096";
         return false;
       }
       o->pendingSectorSize = v == "512" ? sim::kSectorSize : sim::kLargeSectorSize;
       return true;
     }},
    {"--absent", nullptr, "this disk number cannot be opened (a gap before the disks after it)",
     [](const std::string&, SimOptions* o, std::string* e) {
       return AddDisk(o, "", sim::DiskKind::Absent, e);
     }},
    {"--card-reader", nullptr, "an empty card-reader slot here: it opens, every read answers ERROR_NOT_READY",
     [](const std::string&, SimOptions* o, std::string* e) {
       return AddDisk(o, "", sim::DiskKind::CardReader, e);
     }},
    {"--root", "DIR",
     "the simulated C: (made when missing; default a temporary folder); receives what the programs write "
     "there",
     [](const std::string& v, SimOptions* o, std::string*) {
       o->root = v;
       return true;
     }},
    {"--manufacturer", "TEXT", "what WMI reports as the computer's manufacturer (default TAVU)",
     [](const std::string& v, SimOptions* o, std::string*) {
       o->manufacturer = v;
       return true;
     }},
    {"--computer", "NAME", "the computer's name the check reports (default: a made-up one)",
     [](const std::string& v, SimOptions* o, std::string*) {
       o->computer = v;
       return true;
     }},
    {"--model", "TEXT", "what WMI reports as the computer's model (default: a made-up one)",
     [](const std::string& v, SimOptions* o, std::string*) {
       o->model = v;
       return true;
     }},
    {"--windows-build", "TEXT", "Windows' version as MAJOR.MINOR.BUILD, e.g. 10.0.22631 (default: made up)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       unsigned parts[3];
       if (!ParseWindowsBuild(v, parts)) {
         *e = "option --windows-build takes MAJOR.MINOR.BUILD, such as 10.0.22631";
         return false;
       }
       o->windowsBuild = v;
       return true;
     }},
    {"--bitlocker", "LIST", "ProtectionStatus of each encryptable volume, comma-separated: 0, 1, 2 or fail",
     [](const std::string& v, SimOptions* o, std::string* e) { return ParseBitlocker(v, o, e); }},
    {"--bcd-listing", "FILE",
     "what bcdedit /enum all prints, captured in cmd.exe (default: made from the disks)",
     [](const std::string& v, SimOptions* o, std::string*) {
       o->bcdListing = v;
       o->inputFiles.push_back(InputFile{"listing", v, false});
       return true;
     }},
    {"--carried-launcher", "FILE", "the launcher the patcher carries (default: the built TAVU Recovery.exe)",
     [](const std::string& v, SimOptions* o, std::string*) {
       o->carriedLauncher = v;
       o->inputFiles.push_back(InputFile{"carried launcher", v, false});
       return true;
     }},
    {"--fwmode", "present|absent", "whether FwMode.exe lies beside the launcher (default present)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       if (v != "present" && v != "absent") {
         *e = "--fwmode: '" + v + "' is not present or absent";
         return false;
       }
       o->fwmodePresent = v == "present";
       return true;
     }},
    {"--language", "TAG", "the display language of Windows (default en-US)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       o->language = v;
       if (sim::FindSimLanguage(v) != nullptr) return true;
       *e = "--language: '" + v + "' is not one of " + sim::KnownSimLanguageTags();
       return false;
     }},
    {"--arrival-ms", "N", "simulated ms from a table change until a new volume arrives (default 300)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       return ParseMilliseconds("--arrival-ms", v, &o->arrivalMs, e);
     }},
    {"--automount", "on|off", "whether Windows letters an arriving volume by itself (default on)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       if (v != "on" && v != "off") {
         *e = "--automount: '" + v + "' is not on or off";
         return false;
       }
       o->automount = v == "on";
       return true;
     }},
    {"--scanner-hold-ms", "N", "simulated ms a scanner holds each file just written or read (default 0)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       return ParseMilliseconds("--scanner-hold-ms", v, &o->scannerHoldMs, e);
     }},
    {"--launcher-running", nullptr, "the installed launcher runs: its file can be renamed, not replaced",
     [](const std::string&, SimOptions* o, std::string*) {
       o->launcherRunning = true;
       return true;
     }},
    {"--user-env", "NAME=VALUE", "a variable of the owner's environment (repeatable)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       const std::size_t equals = v.find('=');
       if (equals == 0 || equals == std::string::npos) {
         *e = "--user-env: '" + v + "' is not NAME=VALUE";
         return false;
       }
       o->userEnv.emplace_back(v.substr(0, equals), v.substr(equals + 1));
       return true;
     }},
    {"--cmd-autorun", "TEXT", "the owner's Command Processor AutoRun value",
     [](const std::string& v, SimOptions* o, std::string*) {
       o->cmdAutoRun = v;
       return true;
     }},
    {"--launcher-path", "PATH", "where the running launcher lies (a full Windows path)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       return ParseWindowsPath("--launcher-path", v, &o->launcherPath, e);
     }},
    {"--user-writable", "DIR", "a folder standard users may write to (repeatable; a full Windows path)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       std::string path;
       if (!ParseWindowsPath("--user-writable", v, &path, e)) return false;
       o->userWritable.push_back(path);
       return true;
     }},
    {"--acl", "PATH=SDDL",
     "a file or folder's security descriptor, e.g. C:\\Tools=O:BAD:(A;OICI;FA;;;BA) (repeatable)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       const std::size_t equals = v.find('=');
       std::string path;
       if (equals == std::string::npos || !ParseWindowsPath("--acl", v.substr(0, equals), &path, e)) {
         *e = "--acl: '" + v + "' is not PATH=SDDL with a full Windows path such as C:\\Folder";
         return false;
       }
       sim::SimDescriptor descriptor;
       std::string why;
       if (!sim::ParseSddl(v.substr(equals + 1), &descriptor, &why)) {
         *e = "--acl: '" + v.substr(equals + 1) + "' is not a security descriptor: " + why;
         return false;
       }
       o->acls.emplace_back(path, v.substr(equals + 1));
       return true;
     }},
    {"--owner-default", "WHOM",
     "who owns what an elevated administrator creates: administrators (default) or creator",
     [](const std::string& v, SimOptions* o, std::string* e) {
       if (v != "administrators" && v != "creator") {
         *e = "--owner-default: '" + v + "' is not administrators or creator";
         return false;
       }
       o->ownerDefaultCreator = v == "creator";
       return true;
     }},
    {"--user-mutex", "NAME", "a standard user's process made this mutex in the session first (repeatable)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       // Windows takes no backslash in a name of the session's namespace.
       if (v.empty() || v.find('\\') != std::string::npos) {
         *e = "--user-mutex: '" + v + "' is not a mutex name without backslash";
         return false;
       }
       o->userMutexes.push_back(v);
       return true;
     }},
    {"--winre", "STATE", "Windows RE: enabled (default), disabled, image-missing or orphan",
     [](const std::string& v, SimOptions* o, std::string* e) {
       sim::WinReState state;
       if (!sim::ParseWinReState(v, &state)) {
         *e = "--winre: '" + v + "' is not enabled, disabled, image-missing or orphan";
         return false;
       }
       o->winre = v;
       return true;
     }},
    {"--reagent", "FILE",
     "the text of ReAgent.xml as captured on a real machine (default: made by the machine)",
     [](const std::string& v, SimOptions* o, std::string*) {
       o->reagent = v;
       o->inputFiles.push_back(InputFile{"ReAgent.xml", v, false});
       return true;
     }},
    {"--state", "FILE",
     "what the machine keeps outside its images (boot store, firmware mode, tasks, pending renames); read "
     "when it exists, written back with --write",
     [](const std::string& v, SimOptions* o, std::string*) {
       o->state = v;
       return true;
     }},
    {"--stop-after", "N",
     "arm, patch, launcher, logon: cut the power right after the run's N-th persistent write",
     [](const std::string& v, SimOptions* o, std::string* e) {
       char* end = nullptr;
       const unsigned long long n = v.empty() || v[0] == '-' ? 0 : std::strtoull(v.c_str(), &end, 10);
       if (end == nullptr || *end != '\0' || n > 1000000) {
         *e = "--stop-after: '" + v + "' is not a number of writes from 0 to 1000000";
         return false;
       }
       o->stopAfter = n;
       return true;
     }},
    {"--restart", "happens|cancelled",
     "whether the restart the launcher asks for takes place (default happens)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       if (v != "happens" && v != "cancelled") {
         *e = "--restart: '" + v + "' is not happens or cancelled";
         return false;
       }
       o->restartCancelled = v == "cancelled";
       return true;
     }},
    {"--menu-rule", "first|default",
     "what the boot manager starts when displayorder lacks the default (default first)",
     [](const std::string& v, SimOptions* o, std::string* e) {
       if (v != "first" && v != "default") {
         *e = "--menu-rule: '" + v + "' is not first or default";
         return false;
       }
       o->menuRule = v;
       return true;
     }},
    {"--json", nullptr, "one JSON object instead of the readable report",
     [](const std::string&, SimOptions* o, std::string*) {
       o->json = true;
       return true;
     }},
    {"--write", nullptr, "write the changes Windows would make into the image files",
     [](const std::string&, SimOptions* o, std::string*) {
       o->write = true;
       return true;
     }},
    {"--summary", nullptr, "check: one line of JSON, at most 512 characters, instead of the report",
     [](const std::string&, SimOptions* o, std::string*) {
       o->summary = true;
       return true;
     }},
    {"--record", nullptr, "check: also show what TavuRecoveryCheck /record would write",
     [](const std::string&, SimOptions* o, std::string*) {
       o->record = true;
       return true;
     }},
    {"--mbr", nullptr, "demo: the MBR notebook instead of the GPT one",
     [](const std::string&, SimOptions* o, std::string*) {
       o->mbr = true;
       return true;
     }},
    {"--images", "DIR", "demo: keep the images it makes in DIR",
     [](const std::string& v, SimOptions* o, std::string*) {
       o->images = v;
       return true;
     }},
};

const SimOptionRule* FindRule(const std::string& name) {
  for (const SimOptionRule& rule : kOptionRules) {
    if (name == rule.name) return &rule;
  }
  return nullptr;
}

}  // namespace

void PrintOptionHelp(std::FILE* out) {
  for (const SimOptionRule& rule : kOptionRules) {
    const std::string synopsis =
        std::string(rule.name) + (rule.value != nullptr ? std::string(" ") + rule.value : "");
    std::fprintf(out, "  %-26s %s\n", synopsis.c_str(), rule.help);
  }
}

int ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (IsCommandWord(arg)) {
      // "launcher /CHECK": the word after the command is the launcher's line.
      if (options->command == "launcher" && options->launcherSwitch.empty()) {
        options->launcherSwitch = arg;
        continue;
      }
      if (!options->command.empty()) {
        *error = std::string("more than one command: '") + options->command + "' and '" + arg + "'";
        return 2;
      }
      options->command = arg;
      continue;
    }
    // "--disk=FILE" and "--disk FILE" alike, as getopt takes them.
    const std::string text = arg;
    const std::size_t equals = text.rfind("--", 0) == 0 ? text.find('=') : std::string::npos;
    const std::string name = text.substr(0, equals);
    const SimOptionRule* rule = FindRule(name);
    if (rule == nullptr) {
      *error = "unknown option " + name;
      return 2;
    }
    std::string value;
    if (rule->value == nullptr) {
      if (equals != std::string::npos) {
        *error = "option " + name + " takes no value";
        return 2;
      }
    } else if (equals != std::string::npos) {
      value = text.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      *error = "option " + name + " needs a value";
      return 2;
    }
    if (!rule->apply(value, options, error)) return 2;
  }
  if (options->pendingSectorSize != 0) {
    *error = kSectorSizeAlone;
    return 2;
  }
  if (options->command.empty()) {
    *error = "no command given";
    return 2;
  }
  if ((options->mbr || !options->images.empty()) && options->command != "demo") {
    *error = "--mbr and --images belong to demo";
    return 2;
  }
  if (options->command == "launcher" && options->launcherSwitch.empty()) {
    *error = "launcher needs its command line: /CHECK, /DISABLE, /ENABLE or /AUTO";
    return 2;
  }
  if (options->stopAfter.has_value() && options->command != "arm" && options->command != "patch" &&
      options->command != "launcher" && options->command != "logon") {
    *error = "--stop-after belongs to arm, patch, launcher and logon";
    return 2;
  }
  if ((options->summary || options->record) && options->command != "check") {
    *error = "--summary and --record belong to check";
    return 2;
  }
  if (options->command == "check" && options->disks.empty()) {
    *error = "check needs a disk: give --disk IMAGE";
    return 2;
  }
  return 0;
}

}  // namespace tavu::tool
