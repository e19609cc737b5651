#include "check/boot_manager.h"

#include "common/wide_text.h"

namespace tavu::check {

namespace {

constexpr std::size_t kNameChars = 64;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool IsRule(const LineView& l) {
  if (l.length < 3) return false;
  for (std::size_t i = 0; i < l.length; ++i) {
    if (l.text[i] != L'-') return false;
  }
  return true;
}

// One element line: its name (empty on a continuation line) and its value,
// both trimmed and cut to their room.
struct Element {
  wchar_t name[kNameChars] = {};
  wchar_t value[kPathChars] = {};
};

Element Split(const LineView& l) {
  Element e;
  std::size_t i = 0;
  std::size_t n = 0;
  for (; i < l.length && !IsBlank(l.text[i]); ++i) {
    if (n + 1 < kNameChars) e.name[n++] = l.text[i];
  }
  while (i < l.length && IsBlank(l.text[i])) ++i;
  std::size_t end = l.length;
  while (end > i && IsBlank(l.text[end - 1])) --end;
  n = 0;
  for (; i < end; ++i) {
    if (n + 1 < kPathChars) e.value[n++] = l.text[i] == L'\0' ? L' ' : l.text[i];
  }
  return e;
}

bool Is(const wchar_t* a, const wchar_t* b) { return EqualsIgnoreAsciiCase(a, b); }

// Whether the line after the section's identifier line names the recovery
// image, as the launcher's own rule asks of an entry.
bool IsRecoveryEntry(const ListingLines& listing, const wchar_t* id) {
  if (id[0] == L'\0') return false;
  for (std::size_t i = 0; i + 1 < listing.size(); ++i) {
    Element e = Split(listing.Line(i));
    if (e.name[0] == L'\0' || !Is(e.value, id)) continue;
    Element next = Split(listing.Line(i + 1));
    UpperAscii(next.value, kPathChars);
    if (Contains(next.value, kRecoveryImagePattern)) return true;
  }
  return false;
}

void Keep(BootManagerFacts& f, const wchar_t* name, const wchar_t* value) {
  if (Is(name, L"default")) {
    CopyBounded(f.defaultId, kIdChars, value);
  } else if (Is(name, L"displayorder")) {
    if (f.displayCount < kMaxListedIds) CopyBounded(f.displayOrder[f.displayCount], kIdChars, value);
    ++f.displayCount;
  } else if (Is(name, L"timeout")) {
    f.hasTimeout = CopyBounded(f.timeout, 32, value);
  } else if (Is(name, L"customactions")) {
    if (f.customActions[0] != L'\0') AppendBounded(f.customActions, kPathChars, L" ");
    AppendBounded(f.customActions, kPathChars, value);
  } else if (Is(name, L"custom:5400000f")) {
    CopyBounded(f.customEntry, kIdChars, value);
  }
}

}  // namespace

void ReadBootManager(const ListingLines& listing, BootManagerFacts* facts) {
  BootManagerFacts& f = *facts;
  f = BootManagerFacts{};
  bool inSection = false;
  bool identified = false;
  wchar_t current[kNameChars] = {};
  for (std::size_t i = 0; i < listing.size(); ++i) {
    LineView line = listing.Line(i);
    if (IsRule(line)) {
      if (f.found) break;  // the section after the boot manager's
      inSection = true;
      identified = false;
      continue;
    }
    if (!inSection || line.length == 0) continue;
    Element e = Split(line);
    if (!identified) {
      // A section's first element is its identifier, under a localized name.
      identified = true;
      f.found = Is(e.value, L"{bootmgr}");
      if (!f.found) inSection = false;
      continue;
    }
    if (e.name[0] != L'\0') CopyBounded(current, kNameChars, e.name);
    Keep(f, current, e.value);
  }
  f.customEntryIsRecovery = IsRecoveryEntry(listing, f.customEntry);
  f.displayFirstIsRecovery = f.displayCount > 0 && IsRecoveryEntry(listing, f.displayOrder[0]);
}

void ReadEntryLines(const ListingLines& listing, const wchar_t* id, wchar_t (&description)[kPathChars],
                    wchar_t (&device)[kPathChars]) {
  description[0] = L'\0';
  device[0] = L'\0';
  std::size_t i = 0;
  for (; i < listing.size(); ++i) {
    LineView line = listing.Line(i);
    // The identifier is a section's first element, right after its rule.
    if (i > 0 && IsRule(listing.Line(i - 1)) && Is(Split(line).value, id)) break;
  }
  for (++i; i < listing.size(); ++i) {
    LineView line = listing.Line(i);
    if (line.length == 0 || IsRule(line)) break;
    Element e = Split(line);
    if (Is(e.name, L"description") && description[0] == L'\0') CopyBounded(description, kPathChars, e.value);
    if (Is(e.name, L"device") && device[0] == L'\0') CopyBounded(device, kPathChars, e.value);
  }
}

bool CustomActionsArmed(const BootManagerFacts& f) {
  wchar_t actions[kPathChars] = {};
  CopyBounded(actions, kPathChars, f.customActions);
  UpperAscii(actions, kPathChars);
  return Contains(actions, L"0X5400000F");
}

bool BootManagerArmed(const BootManagerFacts& f) {
  return CustomActionsArmed(f) && f.customEntryIsRecovery && f.displayFirstIsRecovery;
}

bool FormatArmingLines(const wchar_t* entryId, ArmingLines* lines) {
  *lines = ArmingLines{};
  return CopyBounded(lines->line[0], kPathChars, L"@ECHO OFF") &&
         CopyBounded(lines->line[1], kPathChars, L"CHCP 437") &&
         CopyBounded(lines->line[2], kPathChars,
                     L"bcdedit /set {bootmgr} customactions 0x1000043000001 0x5400000f") &&
         FormatBounded(lines->line[3], kPathChars, L"bcdedit /set {bootmgr} custom:5400000f %ls", entryId) >=
             0 &&
         CopyBounded(lines->line[4], kPathChars, L"bcdedit /set {bootmgr} extendedinput Yes ") &&
         CopyBounded(lines->line[5], kPathChars, L"bcdedit /set {current} isolatedcontext No") &&
         FormatBounded(lines->line[6], kPathChars, L"bcdedit /displayorder %ls", entryId) >= 0;
}

}  // namespace tavu::check
