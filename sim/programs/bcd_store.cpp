#include "sim/programs/bcd_store.h"

#include <cwchar>
#include <cwctype>

#include "sim/core/paths.h"
#include "sim/core/text.h"

namespace tavu::sim {

namespace {

constexpr std::size_t kValueColumn = 24;

const wchar_t kDone[] = L"The operation completed successfully.\r\n";
const wchar_t kBadParameter[] =
    L"The parameter is incorrect.\r\nRun \"bcdedit /?\" for command line assistance.\r\n";
const wchar_t kNoEntry[] =
    L"An error occurred while attempting to reference the specified entry.\r\n"
    L"The system cannot find the file specified.\r\n";
const wchar_t kNoElement[] =
    L"An error occurred while attempting to delete the specified data element.\r\n"
    L"Element not found.\r\n";
const wchar_t kBadType[] =
    L"The element data type specified is not recognized, or does not apply to the specified entry.\r\n"
    L"Run \"bcdedit /?\" for command line assistance.\r\n";

bool IsBlank(const std::wstring& line) {
  for (wchar_t c : line) {
    if (c != L' ' && c != L'\t') return false;
  }
  return true;
}

bool IsUnderline(const std::wstring& line) {
  if (line.empty()) return false;
  for (wchar_t c : line) {
    if (c != L'-') return false;
  }
  return true;
}

// The command line as bcdedit's C runtime splits it: blanks separate
// arguments, double quotes group and are dropped.
std::vector<std::wstring> Arguments(const std::wstring& text) {
  std::vector<std::wstring> args;
  std::wstring cur;
  bool inQuotes = false;
  bool have = false;
  for (wchar_t c : text) {
    if (c == L'"') {
      inQuotes = !inQuotes;
      have = true;
    } else if ((c == L' ' || c == L'\t') && !inQuotes) {
      if (have) args.push_back(cur);
      cur.clear();
      have = false;
    } else {
      cur.push_back(c);
      have = true;
    }
  }
  if (have) args.push_back(cur);
  return args;
}

std::wstring ElementLine(const std::wstring& name, const std::wstring& value) {
  std::wstring line = name;
  do {
    line.push_back(L' ');
  } while (line.size() < kValueColumn);
  return line + value;
}

bool ParseInteger(const std::wstring& text, std::uint64_t* value) {
  const std::wstring t = AsciiLower(text);
  if (t.size() > 2 && t[0] == L'0' && t[1] == L'x') {
    return t.size() - 2 <= 16 && ParseDigits(std::wstring_view(t).substr(2), 16, UINT64_MAX, value);
  }
  return t.size() <= 19 && ParseDigits(t, 10, UINT64_MAX, value);
}

bool ParseBoolean(const std::wstring& text, std::wstring* shown) {
  std::wstring t = AsciiLower(text);
  if (t == L"yes" || t == L"on" || t == L"true" || t == L"1") {
    *shown = L"Yes";
    return true;
  }
  if (t == L"no" || t == L"off" || t == L"false" || t == L"0") {
    *shown = L"No";
    return true;
  }
  return false;
}

// The data format of an element type: the nibble at bits 24-27 of its number.
enum class Format { Unknown, Device, String, Object, ObjectList, Integer, Boolean, IntegerList };

Format FormatOfNumber(std::uint32_t type) {
  switch ((type >> 24) & 0xF) {
    case 1:
      return Format::Device;
    case 2:
      return Format::String;
    case 3:
      return Format::Object;
    case 4:
      return Format::ObjectList;
    case 5:
      return Format::Integer;
    case 6:
      return Format::Boolean;
    case 7:
      return Format::IntegerList;
    default:
      return Format::Unknown;
  }
}

// Named types this store accepts, by the name bcdedit lists them under.
Format FormatOf(const std::wstring& type, std::wstring* name) {
  static const struct {
    const wchar_t* name;
    Format format;
  } kNamed[] = {
      {L"customactions", Format::IntegerList},    {L"extendedinput", Format::Boolean},
      {L"isolatedcontext", Format::Boolean},      {L"displayorder", Format::ObjectList},
      {L"toolsdisplayorder", Format::ObjectList}, {L"default", Format::Object},
      {L"resumeobject", Format::Object},          {L"recoverysequence", Format::ObjectList},
      {L"recoveryenabled", Format::Boolean},      {L"timeout", Format::Integer},
      {L"description", Format::String},           {L"locale", Format::String},
      {L"bootmenupolicy", Format::String},        {L"displaybootmenu", Format::Boolean},
      {L"bootsequence", Format::ObjectList},
  };
  std::wstring t = AsciiLower(type);
  for (const auto& n : kNamed) {
    if (t == n.name) {
      *name = n.name;
      return n.format;
    }
  }
  if (t.size() == 15 && t.compare(0, 7, L"custom:") == 0) {
    std::uint64_t number = 0;
    if (!ParseInteger(L"0x" + t.substr(7), &number)) return Format::Unknown;
    wchar_t shown[16];
    (void)std::swprintf(shown, 16, L"custom:%08x", static_cast<unsigned>(number));
    *name = shown;
    return FormatOfNumber(static_cast<std::uint32_t>(number));
  }
  return Format::Unknown;
}

}  // namespace

std::wstring BcdEntry::Id() const {
  if (elements.empty() || elements[0].values.empty()) return L"";
  return elements[0].values[0];
}

void SimBcdStore::Load(const std::wstring& listing) {
  entries_.clear();
  trailing_.clear();
  changes_ = 0;
  std::vector<std::wstring> lines = Lines(listing);
  std::vector<std::wstring> pending;
  std::size_t i = 0;
  auto headerAt = [&](std::size_t k) {
    return k + 1 < lines.size() && IsUnderline(lines[k + 1]) && !IsBlank(lines[k]) && lines[k][0] != L' ';
  };
  while (i < lines.size()) {
    if (!headerAt(i)) {
      pending.push_back(lines[i++]);
      continue;
    }
    BcdEntry entry;
    entry.before.swap(pending);
    entry.header = lines[i];
    entry.underline = lines[i + 1];
    i += 2;
    while (i < lines.size() && !IsBlank(lines[i]) && !headerAt(i)) {
      const std::wstring& line = lines[i];
      if ((line[0] == L' ' || line[0] == L'\t') && !entry.elements.empty()) {
        entry.elements.back().values.push_back(Trim(line));
        entry.elements.back().raw.push_back(line);
      } else {
        std::wstring t = Trim(line);
        std::size_t gap = t.find_first_of(L" \t");
        BcdElement element;
        element.name = t.substr(0, gap);
        element.values.push_back(gap == std::wstring::npos ? L"" : Trim(t.substr(gap)));
        element.raw.push_back(line);
        entry.elements.push_back(std::move(element));
      }
      ++i;
    }
    entries_.push_back(std::move(entry));
  }
  trailing_.swap(pending);
}

std::wstring SimBcdStore::Listing() const {
  std::wstring out;
  auto add = [&](const std::wstring& line) {
    out += line;
    out += L"\r\n";
  };
  for (const BcdEntry& entry : entries_) {
    for (const std::wstring& line : entry.before) add(line);
    add(entry.header);
    add(entry.underline);
    for (const BcdElement& element : entry.elements) {
      if (!element.raw.empty()) {
        for (const std::wstring& line : element.raw) add(line);
        continue;
      }
      for (std::size_t v = 0; v < element.values.size(); ++v) {
        add(ElementLine(v == 0 ? element.name : L"", element.values[v]));
      }
    }
  }
  for (const std::wstring& line : trailing_) add(line);
  return out;
}

int SimBcdStore::Resolve(const std::wstring& id) const {
  std::wstring want = AsciiLower(id);
  if (want == L"{default}") {
    std::vector<std::wstring> def = Values(L"{bootmgr}", L"default");
    if (def.empty() || AsciiLower(def[0]) == L"{default}") return -1;
    want = AsciiLower(def[0]);
  }
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (!entries_[i].Id().empty() && AsciiLower(entries_[i].Id()) == want) return static_cast<int>(i);
  }
  return -1;
}

std::vector<std::wstring> SimBcdStore::Values(const std::wstring& id, const std::wstring& element) const {
  int e = Resolve(id);
  if (e < 0) return {};
  std::wstring want = AsciiLower(element);
  const auto& elements = entries_[static_cast<std::size_t>(e)].elements;
  for (std::size_t k = 1; k < elements.size(); ++k) {
    if (AsciiLower(elements[k].name) == want) return elements[k].values;
  }
  return {};
}

void SimBcdStore::Put(int entry, const std::wstring& name, const std::vector<std::wstring>& values) {
  ++changes_;
  auto& elements = entries_[static_cast<std::size_t>(entry)].elements;
  for (std::size_t k = 1; k < elements.size(); ++k) {
    if (AsciiLower(elements[k].name) != AsciiLower(name)) continue;
    if (values.empty()) {
      elements.erase(elements.begin() + static_cast<std::ptrdiff_t>(k));
    } else {
      elements[k].name = name;
      elements[k].values = values;
      elements[k].raw.clear();
    }
    return;
  }
  if (values.empty()) return;
  BcdElement element;
  element.name = name;
  element.values = values;
  elements.push_back(std::move(element));
}

int SimBcdStore::Run(const std::wstring& arguments, std::wstring* output) {
  std::wstring sink;
  std::wstring& out = output != nullptr ? *output : sink;
  out.clear();
  std::vector<std::wstring> args = Arguments(arguments);
  std::wstring command = args.empty() ? L"/enum" : AsciiLower(args[0]);
  if (command == L"/enum") {
    if (args.size() > 2 ||
        (args.size() == 2 && AsciiLower(args[1]) != L"all" && AsciiLower(args[1]) != L"active")) {
      out = kBadParameter;
      return 1;
    }
    out = Listing();
    return 0;
  }
  if (command == L"/set") return Set(args, &out);
  if (command == L"/deletevalue") return DeleteValue(args, &out);
  if (command == L"/displayorder") return DisplayOrder(args, &out);
  out = kBadParameter;
  return 1;
}

int SimBcdStore::Set(const std::vector<std::wstring>& args, std::wstring* out) {
  std::size_t i = 1;
  std::wstring id = L"{current}";
  if (i < args.size() && !args[i].empty() && args[i][0] == L'{') id = args[i++];
  if (i + 1 >= args.size()) {
    *out = kBadParameter;
    return 1;
  }
  int entry = Resolve(id);
  if (entry < 0) {
    *out = kNoEntry;
    return 1;
  }
  std::wstring name;
  Format format = FormatOf(args[i++], &name);
  std::vector<std::wstring> given(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  std::vector<std::wstring> values;
  bool ok = true;
  switch (format) {
    case Format::Unknown:
    case Format::Device:
      *out = kBadType;
      return 1;
    case Format::String: {
      std::wstring joined;
      for (const std::wstring& g : given) joined += (joined.empty() ? L"" : L" ") + g;
      values.push_back(joined);
      break;
    }
    case Format::Boolean: {
      std::wstring shown;
      ok = given.size() == 1 && ParseBoolean(given[0], &shown);
      values.push_back(shown);
      break;
    }
    case Format::Integer:
    case Format::IntegerList:
      ok = format == Format::IntegerList || given.size() == 1;
      for (const std::wstring& g : given) {
        std::uint64_t v = 0;
        ok = ok && ParseInteger(g, &v);
        wchar_t shown[24];
        (void)std::swprintf(shown, 24, L"0x%llx", static_cast<unsigned long long>(v));
        values.push_back(format == Format::Integer ? std::to_wstring(v) : std::wstring(shown));
      }
      break;
    case Format::Object:
    case Format::ObjectList:
      ok = format == Format::ObjectList || given.size() == 1;
      for (const std::wstring& g : given) {
        int target = Resolve(g);
        if (target < 0) {
          *out = kNoEntry;
          return 1;
        }
        values.push_back(entries_[static_cast<std::size_t>(target)].Id());
      }
      break;
  }
  if (!ok) {
    *out = kBadParameter;
    return 1;
  }
  Put(entry, name, values);
  *out = kDone;
  return 0;
}

int SimBcdStore::DeleteValue(const std::vector<std::wstring>& args, std::wstring* out) {
  std::size_t i = 1;
  std::wstring id = L"{current}";
  if (i < args.size() && !args[i].empty() && args[i][0] == L'{') id = args[i++];
  if (i + 1 != args.size()) {
    *out = kBadParameter;
    return 1;
  }
  int entry = Resolve(id);
  if (entry < 0) {
    *out = kNoEntry;
    return 1;
  }
  std::wstring name;
  if (FormatOf(args[i], &name) == Format::Unknown) {
    *out = kBadType;
    return 1;
  }
  if (Values(id, name).empty()) {
    *out = kNoElement;
    return 1;
  }
  Put(entry, name, {});
  *out = kDone;
  return 0;
}

int SimBcdStore::DisplayOrder(const std::vector<std::wstring>& args, std::wstring* out) {
  enum { Replace, AddFirst, AddLast, Remove } mode = Replace;
  std::vector<std::wstring> ids;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::wstring a = AsciiLower(args[i]);
    if (a == L"/addfirst" || a == L"/addlast" || a == L"/remove") {
      if (mode != Replace) {
        *out = kBadParameter;
        return 1;
      }
      mode = a == L"/addfirst" ? AddFirst : a == L"/addlast" ? AddLast : Remove;
      continue;
    }
    int target = Resolve(args[i]);
    if (target < 0) {
      *out = kNoEntry;
      return 1;
    }
    ids.push_back(entries_[static_cast<std::size_t>(target)].Id());
  }
  int bootmgr = Resolve(L"{bootmgr}");
  if (ids.empty() || (mode != Replace && ids.size() != 1) || bootmgr < 0) {
    *out = bootmgr < 0 ? kNoEntry : kBadParameter;
    return 1;
  }
  std::vector<std::wstring> order = Values(L"{bootmgr}", L"displayorder");
  auto drop = [&](const std::wstring& id) {
    for (std::size_t k = 0; k < order.size();) {
      if (AsciiLower(order[k]) == AsciiLower(id)) {
        order.erase(order.begin() + static_cast<std::ptrdiff_t>(k));
      } else {
        ++k;
      }
    }
  };
  switch (mode) {
    case Replace:
      order = ids;
      break;
    case AddFirst:
      drop(ids[0]);
      order.insert(order.begin(), ids[0]);
      break;
    case AddLast:
      drop(ids[0]);
      order.push_back(ids[0]);
      break;
    case Remove:
      drop(ids[0]);
      break;
  }
  Put(bootmgr, L"displayorder", order);
  *out = kDone;
  return 0;
}

namespace {

std::wstring Guid(std::uint32_t seed, unsigned k) {
  wchar_t text[48];
  (void)std::swprintf(text, 48, L"{%08x-%04x-11e9-a5c2-c8f750a1b2c3}", seed + k, 0x8d1a + k);
  return text;
}

}  // namespace

std::wstring DefaultRecoveryEntryId(const BcdMachineFacts& facts) {
  return facts.recoveryEntryId.empty() ? Guid(facts.seed, 3) : facts.recoveryEntryId;
}
std::wstring DefaultOrphanEntryId(const BcdMachineFacts& facts) { return Guid(facts.seed, 5); }

std::wstring DefaultBcdListing(const BcdMachineFacts& f) {
  const std::wstring resume = Guid(f.seed, 1);
  const std::wstring winre = DefaultRecoveryEntryId(f);
  const std::wstring ramdisk = Guid(f.seed, 4);
  const std::wstring bootDevice = L"partition=\\Device\\HarddiskVolume" + std::to_wstring(f.bootVolume);
  const std::wstring reDevice = L"ramdisk=[\\Device\\HarddiskVolume" + std::to_wstring(f.recoveryVolume) +
                                L"]\\Recovery\\WindowsRE\\Winre.wim," + ramdisk;
  const std::wstring orphan = Guid(f.seed, 5);
  const std::wstring orphanRamdisk = Guid(f.seed, 6);
  const std::wstring orphanDevice = L"ramdisk=[unknown]\\Recovery\\WindowsRE\\Winre.wim," + orphanRamdisk;
  const wchar_t* ext = f.uefi ? L"efi" : L"exe";
  const bool re = f.recoveryVolume > 0 && f.winre != WinReState::Disabled;
  const bool orphaned = re && f.winre == WinReState::Orphan;
  // Windows localizes only the section headers and the identifier's name;
  // every other element name, and the descriptions, stay English.
  const SimLanguage& language = f.language != nullptr ? *f.language : DefaultSimLanguage();
  const std::wstring identifier = language.identifier;
  const std::wstring locale = Widen(language.tag);

  std::wstring t;
  auto head = [&](BcdHeader which) {
    const std::wstring h = HeaderText(language, which);
    t += L"\r\n" + h + L"\r\n" + std::wstring(h.size(), L'-') + L"\r\n";
  };
  auto el = [&](const std::wstring& name, const std::wstring& value) {
    t += ElementLine(name, value) + L"\r\n";
  };
  // Every boot application's entry opens with the same six elements.
  auto application = [&](BcdHeader heading, const std::wstring& id, const std::wstring& device,
                         const std::wstring& path, const wchar_t* description, const wchar_t* inherit) {
    head(heading);
    el(identifier, id);
    el(L"device", device);
    el(L"path", path);
    el(L"description", description);
    el(L"locale", locale);
    el(L"inherit", inherit);
  };
  if (f.uefi) {
    head(BcdHeader::FirmwareBootManager);
    el(identifier, L"{fwbootmgr}");
    el(L"displayorder", L"{bootmgr}");
    el(L"timeout", L"2");
  }
  application(BcdHeader::WindowsBootManager, L"{bootmgr}", bootDevice,
              f.uefi ? L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi" : L"\\bootmgr", L"Windows Boot Manager",
              L"{globalsettings}");
  el(L"default", L"{current}");
  el(L"resumeobject", resume);
  el(L"displayorder", L"{current}");
  el(L"toolsdisplayorder", L"{memdiag}");
  el(L"timeout", L"30");

  application(BcdHeader::WindowsBootLoader, L"{current}", L"partition=C:",
              std::wstring(L"\\WINDOWS\\system32\\winload.") + ext, L"Windows 10", L"{bootloadersettings}");
  if (re) {
    el(L"recoverysequence", winre);
    el(L"displaymessageoverride", L"Recovery");
    el(L"recoveryenabled", L"Yes");
  } else if (f.recoveryVolume > 0) {
    // reagentc /disable drops the sequence and turns recovery off.
    el(L"recoveryenabled", L"No");
  }
  el(L"isolatedcontext", L"Yes");
  el(L"allowedinmemorysettings", L"0x15000075");
  el(L"osdevice", L"partition=C:");
  el(L"systemroot", L"\\WINDOWS");
  el(L"resumeobject", resume);
  el(L"nx", L"OptIn");
  el(L"bootmenupolicy", L"Standard");

  // A loader is listed in the order it was created: the older one first.
  auto recoveryLoader = [&](const std::wstring& id, const std::wstring& device) {
    application(BcdHeader::WindowsBootLoader, id, device,
                std::wstring(L"\\windows\\system32\\winload.") + ext, L"Windows Recovery Environment",
                L"{bootloadersettings}");
    el(L"displaymessage", L"Recovery");
    el(L"osdevice", device);
    el(L"systemroot", L"\\windows");
    el(L"nx", L"OptIn");
    el(L"bootmenupolicy", L"Standard");
    el(L"winpe", L"Yes");
  };
  if (orphaned) recoveryLoader(orphan, orphanDevice);
  if (re) recoveryLoader(winre, reDevice);

  application(BcdHeader::ResumeFromHibernate, resume, L"partition=C:",
              std::wstring(L"\\WINDOWS\\system32\\winresume.") + ext, L"Windows Resume Application",
              L"{resumeloadersettings}");
  if (re) {
    el(L"recoverysequence", winre);
    el(L"recoveryenabled", L"Yes");
  }
  el(L"filedevice", L"partition=C:");
  el(L"filepath", L"\\hiberfil.sys");
  el(L"debugoptionenabled", L"No");

  application(BcdHeader::WindowsMemoryTester, L"{memdiag}", bootDevice,
              f.uefi ? L"\\EFI\\Microsoft\\Boot\\memtest.efi" : L"\\boot\\memtest.exe",
              L"Windows Memory Diagnostic", L"{globalsettings}");
  el(L"badmemoryaccess", L"Yes");

  head(BcdHeader::EmsSettings);
  el(identifier, L"{emssettings}");
  el(L"bootems", L"No");
  head(BcdHeader::DebuggerSettings);
  el(identifier, L"{dbgsettings}");
  el(L"debugtype", L"Local");
  head(BcdHeader::RamDefects);
  el(identifier, L"{badmemory}");
  head(BcdHeader::GlobalSettings);
  el(identifier, L"{globalsettings}");
  el(L"inherit", L"{dbgsettings}");
  el(L"", L"{emssettings}");
  el(L"", L"{badmemory}");
  head(BcdHeader::BootLoaderSettings);
  el(identifier, L"{bootloadersettings}");
  el(L"inherit", L"{globalsettings}");
  el(L"", L"{hypervisorsettings}");
  head(BcdHeader::HypervisorSettings);
  el(identifier, L"{hypervisorsettings}");
  el(L"hypervisordebugtype", L"Serial");
  el(L"hypervisordebugport", L"1");
  el(L"hypervisorbaudrate", L"115200");
  head(BcdHeader::ResumeLoaderSettings);
  el(identifier, L"{resumeloadersettings}");
  el(L"inherit", L"{globalsettings}");

  if (orphaned) {
    head(BcdHeader::DeviceOptions);
    el(identifier, orphanRamdisk);
    el(L"description", L"Windows Recovery");
    el(L"ramdisksdidevice", L"unknown");
    el(L"ramdisksdipath", L"\\Recovery\\WindowsRE\\boot.sdi");
  }
  if (re) {
    head(BcdHeader::DeviceOptions);
    el(identifier, ramdisk);
    el(L"description", L"Windows Recovery");
    el(L"ramdisksdidevice", L"partition=\\Device\\HarddiskVolume" + std::to_wstring(f.recoveryVolume));
    el(L"ramdisksdipath", L"\\Recovery\\WindowsRE\\boot.sdi");
  }
  return t;
}

}  // namespace tavu::sim
