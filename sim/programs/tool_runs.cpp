#include "sim/programs/tool_runs.h"

#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "sim/core/text.h"
#include "sim/core/wow64.h"
#include "sim/formats/code_pages.h"
#include "sim/seam/processes.h"

namespace tavu::sim {

namespace {

// The path after "/c" or "/s": the quotes around it are the command line's,
// not the name's.
std::wstring PathArgument(const std::wstring& rest) {
  std::wstring t = Trim(rest);
  if (!t.empty() && t[0] == L'"') {
    std::size_t close = t.find(L'"', 1);
    return t.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
  }
  return t.substr(0, t.find_first_of(L" \t"));
}

// Splits a batch line at the command separators & && || | outside quotes;
// each piece runs in turn, which is what matters for what a line can do.
std::vector<std::wstring> Commands(const std::wstring& line) {
  std::vector<std::wstring> parts;
  std::wstring cur;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    wchar_t c = line[i];
    if (c == L'^' && !quoted && i + 1 < line.size()) {
      cur.push_back(line[++i]);
      continue;
    }
    if (c == L'"') quoted = !quoted;
    if (!quoted && (c == L'&' || c == L'|')) {
      parts.push_back(cur);
      cur.clear();
      if (i + 1 < line.size() && line[i + 1] == c) ++i;
      continue;
    }
    cur.push_back(c);
  }
  parts.push_back(cur);
  return parts;
}

// %NAME% expansion as in a batch file, from the command processor's own
// environment: unknown names expand to nothing, %% gives one %.
std::wstring Expand(const std::wstring& text, const SimEnvironment& environment) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == L'%') {
      out.push_back(L'%');
      ++i;
      continue;
    }
    std::size_t close = text.find(L'%', i + 1);
    if (close == std::wstring::npos) break;
    std::wstring value;
    if (EnvironmentValue(environment, text.substr(i + 1, close - i - 1), &value)) out += value;
    i = close;
  }
  return out;
}

// cmd.exe's own list when PATHEXT is not set.
constexpr wchar_t kCmdDefaultPathExt[] = L".COM;.EXE;.BAT;.CMD";
constexpr wchar_t kNativeBcdedit[] = L"C:\\WINDOWS\\SYSTEM32\\BCDEDIT.EXE";

std::vector<std::wstring> ListItems(const std::wstring& list) {
  std::vector<std::wstring> items;
  for (std::wstring item : text_detail::Cut(std::wstring_view(list), std::wstring_view(L";"), false)) {
    item = Trim(item);
    if (item.size() >= 2 && item.front() == L'"' && item.back() == L'"') item = item.substr(1, item.size() - 2);
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

const wchar_t kNotRecognized[] = L"' is not recognized as an internal or external command,\r\noperable program or batch file.\r\n";

}  // namespace

std::string SimPrograms::Host(const std::wstring& path, const std::wstring& directory) const {
  std::wstring full = path;
  bool absolute = path.size() >= 2 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'));
  if (!absolute) full = directory + L"\\" + path;
  std::string host;
  if (!paths_.ToHost(full, &host)) return "";
  return host;
}

bool SimPrograms::ReadScript(const std::wstring& path, const std::wstring& directory, SimScriptRun* run) const {
  run->scriptPath = path;
  std::string host = Host(path, directory);
  if (host.empty()) return false;
  std::ifstream in(host, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  run->script = s.str();
  run->scriptRead = true;
  if (used_) used_(host);
  return true;
}

struct SimPrograms::CmdState {
  std::wstring directory;
  bool native = true;
  SimEnvironment environment;
  int codePage = 437;
  std::wstring console;
};

std::uint32_t SimPrograms::Cmd(const std::wstring& parameters, const std::wstring& directory, bool native,
                               const SimEnvironment* environment) {
  // Taken now, so that runs of programs it starts come after its own.
  const std::size_t slot = runs_.size();
  runs_.emplace_back();
  SimScriptRun run;
  run.program = L"cmd.exe";
  run.parameters = parameters;
  CmdState cmd;
  cmd.directory = directory;
  cmd.native = native;
  cmd.environment = environment != nullptr ? *environment : SystemEnvironment();
  cmd.codePage = oemCodePage_;

  // The switches before /c or /k, each "/x" or "/x:value".
  std::wstring p = TrimLeft(parameters);
  bool autoRun = true;
  bool command = false;
  while (p.size() >= 2 && p[0] == L'/') {
    const wchar_t s = AsciiLower(p[1]);
    if (s == L'c' || s == L'k') {
      command = true;
      p = p.substr(2);
      break;
    }
    if (s == L'd') autoRun = false;
    std::size_t end = p.find_first_of(L" \t/", 1);
    p = TrimLeft(end == std::wstring::npos ? L"" : p.substr(end));
  }
  bool exitNow = false;
  if (autoRun && !Trim(autoRun_).empty()) RunCommandLine(autoRun_, cmd, &exitNow);

  std::uint32_t level = 0;
  if (!command) {
    // An interactive command processor: nothing the launcher does.
  } else if (!ReadScript(PathArgument(p), directory, &run)) {
    cmd.console += L"The system cannot find the path specified.\r\n";
    level = 1;
  } else {
    for (const std::wstring& line : Lines(DecodeCodePage(oemCodePage_, run.script))) {
      exitNow = false;
      level = RunCommandLine(line, cmd, &exitNow);
      if (exitNow) break;
    }
  }
  run.output = cmd.console;
  run.exitCode = level;
  runs_[slot] = run;
  return level;
}

std::uint32_t SimPrograms::RunCommandLine(const std::wstring& line, CmdState& cmd, bool* exitNow) {
  std::uint32_t level = 0;
  for (const std::wstring& command : Commands(Expand(line, cmd.environment))) {
    level = RunBatchLine(command, cmd, exitNow);
    if (*exitNow) break;
  }
  return level;
}

bool SimPrograms::Exists(const std::wstring& path) const {
  if (AsciiUpper(path) == kNativeBcdedit) return true;
  if (processes_ != nullptr) return processes_->ProgramExists(path);
  std::string host;
  struct stat st {};
  return paths_.ToHost(path, &host) && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::wstring SimPrograms::FindCommand(const std::wstring& name, const CmdState& cmd) const {
  const std::size_t base = name.find_last_of(L"\\/:");
  const bool hasFolder = base != std::wstring::npos;
  const bool hasExtension = name.find(L'.', hasFolder ? base + 1 : 0) != std::wstring::npos;
  std::vector<std::wstring> stems;
  const bool absolute = name.size() >= 2 && (name[1] == L':' || (name[0] == L'\\' && name[1] == L'\\'));
  if (absolute) {
    stems.push_back(name);
  } else {
    stems.push_back(cmd.directory + L"\\" + name);
  }
  std::wstring path;
  if (!hasFolder && EnvironmentValue(cmd.environment, L"PATH", &path)) {
    for (const std::wstring& folder : ListItems(path)) {
      stems.push_back(folder + (folder.back() == L'\\' ? L"" : L"\\") + name);
    }
  }
  // A name with an extension is looked for as typed, one without it with each
  // of PATHEXT's in turn.
  std::vector<std::wstring> extensions{L""};
  if (!hasExtension) {
    std::wstring pathExt;
    if (!EnvironmentValue(cmd.environment, L"PATHEXT", &pathExt)) pathExt = kCmdDefaultPathExt;
    extensions = ListItems(pathExt);
  }
  for (const std::wstring& stem : stems) {
    for (const std::wstring& extension : extensions) {
      std::wstring candidate = paths_.Absolute(stem + extension);
      // A 32-bit command processor looks at the disk through WOW64.
      if (!cmd.native) candidate = SimWow64::Wow64View(candidate);
      if (Exists(candidate)) return candidate;
    }
  }
  return L"";
}

std::uint32_t SimPrograms::RunBatchLine(const std::wstring& raw, CmdState& cmd, bool* exitNow) {
  const std::wstring& directory = cmd.directory;
  std::wstring* console = &cmd.console;
  int* codePage = &cmd.codePage;
  std::wstring line = TrimLeft(raw);
  while (!line.empty() && line[0] == L'@') line = TrimLeft(line.substr(1));
  if (line.empty() || line[0] == L':') return 0;

  // Output redirection: "> FILE" or ">> FILE" anywhere outside quotes.
  std::wstring target;
  bool append = false;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == L'"') quoted = !quoted;
    if (quoted || line[i] != L'>') continue;
    std::size_t after = i + 1;
    if (after < line.size() && line[after] == L'>') {
      append = true;
      ++after;
    }
    target = PathArgument(line.substr(after));
    line = TrimRight(line.substr(0, i));
    break;
  }

  std::size_t gap = line.find_first_of(L" \t");
  std::wstring typed = line.substr(0, gap);
  if (typed.size() >= 2 && typed.front() == L'"' && typed.back() == L'"') {
    typed = typed.substr(1, typed.size() - 2);
  }
  std::wstring verb = AsciiLower(typed);
  std::wstring rest = gap == std::wstring::npos ? L"" : line.substr(gap + 1);

  // cmd creates the redirection target before it runs the command, even one
  // it then cannot find.
  int fd = -1;
  if (!target.empty()) {
    std::string host = Host(target, directory);
    fd = host.empty() ? -1 : ::open(host.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0644);
    if (fd < 0) {
      *console += L"The system cannot find the path specified.\r\n";
      return 1;
    }
  }
  std::wstring out;
  std::uint32_t level = 0;
  if (verb == L"rem") {
  } else if (verb == L"echo" || verb == L"echo.") {
    std::wstring r = AsciiLower(TrimRight(rest));
    if (r != L"off" && r != L"on") out = rest + L"\r\n";
  } else if (verb == L"chcp") {
    std::uint64_t number = 0;
    const int cp = ParseDigits(TrimRight(rest), 10, 999999, &number) ? static_cast<int>(number) : -1;
    if (cp > 0 && KnownCodePage(cp)) {
      *codePage = cp;
      out = L"Active code page: " + std::to_wstring(cp) + L"\r\n";
    } else {
      out = L"Invalid code page\r\n";
      level = 1;
    }
  } else if (verb == L"exit") {
    *exitNow = true;
    std::wstring r = AsciiLower(TrimRight(rest));
    if (r.rfind(L"/b", 0) == 0) r = TrimLeft(r.substr(2));
    level = 0;
    for (wchar_t c : r) level = (c >= L'0' && c <= L'9') ? level * 10 + static_cast<std::uint32_t>(c - L'0') : level;
  } else if (std::wstring found = FindCommand(typed, cmd); AsciiUpper(found) == kNativeBcdedit) {
    // Every command but a listing changes the store, which survives the power.
    const std::wstring verb = AsciiLower(rest.substr(0, rest.find_first_of(L" \t")));
    const bool change = !TrimRight(rest).empty() && verb != L"/enum" && verb != L"/v" && verb != L"/?";
    if (change && faults_ != nullptr && !faults_->PersistentWrite(Narrow(L"bcdedit " + TrimRight(rest)))) {
      *exitNow = true;
      return 1;
    }
    level = static_cast<std::uint32_t>(store_.Run(rest, &out));
    if (change && faults_ != nullptr) faults_->WriteDone();
  } else if (!found.empty()) {
    // Anything else it finds, a batch file too, runs as a program of its own.
    std::uint32_t error = 0;
    if (processes_ == nullptr) {
      level = 0;
    } else if (!processes_->StartChild(found, rest, directory, cmd.environment, &level, &error)) {
      level = error;
    }
  } else {
    *console += L"'" + line.substr(0, gap) + kNotRecognized;
    level = 9009;
  }
  if (fd >= 0) {
    std::string bytes = EncodeCodePage(*codePage, out);
    bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    if (used_) used_(Host(target, directory));
    if (!ok) level = 1;
  } else {
    *console += out;
  }
  return level;
}

std::uint32_t SimPrograms::Diskpart(const std::wstring& parameters, const std::wstring& directory) {
  SimScriptRun run;
  run.program = L"diskpart.exe";
  run.offlineVolumes = disks_.OfflineVolumes();
  run.parameters = parameters;
  std::wstring p = TrimLeft(parameters);
  if (p.size() < 2 || AsciiLower(p.substr(0, 2)) != L"/s") {
    run.exitCode = kDiskpartBadArguments;
  } else if (!ReadScript(PathArgument(p.substr(2)), directory, &run)) {
    run.output = L"DiskPart was unable to open or read the script file.\r\n";
    run.exitCode = kDiskpartNoScript;
  } else {
    run.exitCode = RunDiskpartScript(run.script, disks_, &run.output);
  }
  runs_.push_back(run);
  return run.exitCode;
}

std::uint32_t SimPrograms::Shutdown(const std::wstring& parameters) {
  SimRestart next = restart_;
  bool action = false;
  std::wstring p = AsciiLower(parameters);
  std::vector<std::wstring> words = Words(p);
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::wstring w = words[i];
    if (w.size() != 2 || (w[0] != L'-' && w[0] != L'/')) return 87;
    switch (w[1]) {
      case L'r':
      case L's':
        next.pending = true;
        next.reboot = w[1] == L'r';
        action = true;
        break;
      case L'a':
        if (!restart_.pending) return 1116;  // ERROR_NO_SHUTDOWN_IN_PROGRESS
        restart_ = SimRestart{};
        return 0;
      case L't': {
        if (i + 1 >= words.size()) return 87;
        // shutdown.exe takes at most ten years.
        std::uint64_t seconds = 0;
        if (!ParseDigits(words[++i], 10, 315360000, &seconds)) return 87;
        next.seconds = static_cast<int>(seconds);
        break;
      }
      default:
        return 87;
    }
  }
  if (!action) return 87;
  if (restart_.pending) return 1190;  // ERROR_SHUTDOWN_IS_SCHEDULED
  restart_ = next;
  return 0;
}

}  // namespace tavu::sim
