#include "tools/tavu-sim/listing_input.h"

#include <vector>

#include "sim/core/text.h"

namespace tavu::tool {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

struct Element {
  std::wstring name;
  std::wstring value;
};

// "name   value": the first run without blanks, then the rest, trimmed.
Element Split(const std::wstring& line) {
  Element e;
  std::size_t i = 0;
  while (i < line.size() && !IsBlank(line[i])) ++i;
  e.name = line.substr(0, i);
  while (i < line.size() && IsBlank(line[i])) ++i;
  std::size_t end = line.size();
  while (end > i && IsBlank(line[end - 1])) --end;
  e.value = line.substr(i, end - i);
  return e;
}

bool IsBlankLine(const std::wstring& line) {
  for (wchar_t c : line) {
    if (!IsBlank(c)) return false;
  }
  return true;
}

bool IsUnderline(const std::wstring& line) {
  std::size_t dashes = 0;
  for (wchar_t c : line) {
    if (c == L'-') {
      ++dashes;
    } else if (!IsBlank(c)) {
      return false;
    }
  }
  return dashes > 0;
}

struct Section {
  std::wstring id;  // lower case
  std::vector<Element> elements;
};

std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// Each entry: the element under a line of dashes is its identifier (under a
// localized name), the elements down to the next blank line are its own.
std::vector<Section> Sections(const std::vector<std::wstring>& lines) {
  std::vector<Section> sections;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (!IsUnderline(lines[i]) || lines[i + 1].empty() || IsBlank(lines[i + 1][0])) continue;
    Section s;
    s.id = sim::AsciiLower(Split(lines[i + 1]).value);
    for (std::size_t j = i + 2; j < lines.size() && !IsBlankLine(lines[j]); ++j) {
      if (!IsBlank(lines[j][0])) s.elements.push_back(Split(lines[j]));
    }
    sections.push_back(s);
  }
  return sections;
}

std::wstring ValueOf(const Section& s, const wchar_t* name) {
  for (const Element& e : s.elements) {
    if (sim::AsciiLower(e.name) == name) return sim::AsciiLower(e.value);
  }
  return L"";
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Every occurrence of from (without regard to case) replaced by to.
void ReplaceAll(std::wstring* text, const std::wstring& from, const std::wstring& to) {
  const std::wstring lower = sim::AsciiLower(*text);
  std::wstring out;
  std::size_t at = 0;
  for (std::size_t hit = lower.find(from); hit != std::wstring::npos; hit = lower.find(from, at)) {
    out.append(*text, at, hit - at);
    out += to;
    at = hit + from.size();
  }
  out.append(*text, at, std::wstring::npos);
  *text = out;
}

// The first line, as a technician would recognise it in the message.
std::string FirstLine(const std::vector<std::wstring>& lines) {
  std::wstring first;
  for (const std::wstring& line : lines) {
    if (!IsBlankLine(line)) {
      first = line;
      break;
    }
  }
  if (first.empty()) return "the file holds no text";
  std::string ascii;
  for (wchar_t c : first) {
    if (ascii.size() >= 80) {
      ascii += "...";
      break;
    }
    ascii.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  }
  return "its first line reads \"" + ascii + "\"";
}

}  // namespace

std::string ReadGivenListing(std::wstring* text) {
  if (!text->empty() && (*text)[0] == 0xFEFF) text->erase(0, 1);
  const std::vector<std::wstring> lines = Lines(*text);
  const std::vector<Section> sections = Sections(lines);
  const std::wstring bootManagerGuid = sim::AsciiLower(kBootManagerGuid);
  bool verbose = false;
  for (const Section& s : sections) {
    if (s.id == L"{bootmgr}") return "";
    verbose = verbose || s.id == bootManagerGuid;
  }
  if (!verbose) {
    return "not a listing of bcdedit /enum all (no {bootmgr} entry), " + FirstLine(lines) + ": " +
           kCaptureHint;
  }
  // /v names {current} by its GUID: the Windows loader, the one whose
  // osdevice is the volume Windows runs from when there are several.
  std::vector<const Section*> loaders;
  std::vector<const Section*> onC;
  for (const Section& s : sections) {
    const std::wstring path = ValueOf(s, L"path");
    const std::wstring osdevice = ValueOf(s, L"osdevice");
    if ((!EndsWith(path, L"\\winload.efi") && !EndsWith(path, L"\\winload.exe")) ||
        osdevice.compare(0, 8, L"ramdisk=") == 0) {
      continue;
    }
    loaders.push_back(&s);
    if (osdevice == L"partition=c:") onC.push_back(&s);
  }
  const Section* current = onC.size() == 1 ? onC[0] : loaders.size() == 1 ? loaders[0] : nullptr;
  if (current == nullptr) {
    return "a listing of bcdedit /enum all /v in which the Windows loader cannot be told (" +
           std::to_string(loaders.size()) +
           " loaders of Windows): capture it with `bcdedit /enum all`, without `/v`, in an elevated cmd.exe";
  }
  ReplaceAll(text, bootManagerGuid, L"{bootmgr}");
  if (current->id.size() == 38) ReplaceAll(text, current->id, L"{current}");
  return "";
}

}  // namespace tavu::tool
