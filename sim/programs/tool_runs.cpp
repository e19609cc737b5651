#include "sim/programs/tool_runs.h"

#include <cstdint>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "sim/core/text.h"
#include "sim/formats/code_pages.h"

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

// %NAME% expansion as in a batch file: unknown names expand to nothing, %%
// gives one %.
std::wstring Expand(const std::wstring& text) {
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
    std::wstring name = AsciiLower(text.substr(i + 1, close - i - 1));
    if (name == L"systemroot" || name == L"windir") out += L"C:\\Windows";
    if (name == L"systemdrive") out += L"C:";
    if (name == L"temp" || name == L"tmp") out += L"C:\\Windows\\Temp";
    i = close;
  }
  return out;
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

std::uint32_t SimPrograms::Cmd(const std::wstring& parameters, const std::wstring& directory,
                               bool bcdeditReachable) {
  SimScriptRun run;
  run.program = L"cmd.exe";
  run.parameters = parameters;
  std::wstring p = TrimLeft(parameters);
  if (p.size() < 2 || (AsciiLower(p.substr(0, 2)) != L"/c" && AsciiLower(p.substr(0, 2)) != L"/k")) {
    // An interactive command processor: nothing the launcher does.
    runs_.push_back(run);
    return 0;
  }
  std::wstring file = PathArgument(p.substr(2));
  if (!ReadScript(file, directory, &run)) {
    run.output = L"The system cannot find the path specified.\r\n";
    run.exitCode = 1;
    runs_.push_back(run);
    return run.exitCode;
  }
  int codePage = oemCodePage_;
  std::uint32_t level = 0;
  for (const std::wstring& line : Lines(DecodeCodePage(oemCodePage_, run.script))) {
    bool exitNow = false;
    for (const std::wstring& command : Commands(Expand(line))) {
      level = RunBatchLine(command, directory, bcdeditReachable, &codePage, &run.output, &exitNow);
      if (exitNow) break;
    }
    if (exitNow) break;
  }
  run.exitCode = level;
  runs_.push_back(run);
  return level;
}

std::uint32_t SimPrograms::RunBatchLine(const std::wstring& raw, const std::wstring& directory,
                                        bool bcdeditReachable, int* codePage, std::wstring* console,
                                        bool* exitNow) {
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
  std::wstring verb = AsciiLower(line.substr(0, gap));
  std::wstring rest = gap == std::wstring::npos ? L"" : line.substr(gap + 1);
  if (verb.size() >= 2 && verb.front() == L'"' && verb.back() == L'"') verb = verb.substr(1, verb.size() - 2);

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
  } else if (bcdeditReachable && (verb == L"bcdedit" || verb == L"bcdedit.exe" ||
                                   verb == L"c:\\windows\\system32\\bcdedit.exe")) {
    level = static_cast<std::uint32_t>(store_.Run(rest, &out));
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
