#include "sim/core/sddl.h"

#include <cctype>
#include <cstdlib>

namespace tavu::sim {

namespace {

struct Code {
  const char* text;
  std::uint32_t value;
};

constexpr Code kTypes[] = {{"A", 0},   {"D", 1},   {"AU", 2},  {"AL", 3},  {"OA", 5},
                           {"OD", 6},  {"OU", 7},  {"OL", 8},  {"XA", 9},  {"XD", 10},
                           {"ZA", 11}, {"XU", 13}, {"ML", 17}, {"RA", 18}, {"SP", 19}};
constexpr Code kFlags[] = {{"OI", 0x01}, {"CI", 0x02}, {"NP", 0x04}, {"IO", 0x08},
                           {"ID", 0x10}, {"SA", 0x40}, {"FA", 0x80}};
constexpr Code kRights[] = {
    {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000}, {"RC", 0x00020000},
    {"SD", 0x00010000}, {"WD", 0x00040000}, {"WO", 0x00080000}, {"CC", 0x00000001}, {"DC", 0x00000002},
    {"LC", 0x00000004}, {"SW", 0x00000008}, {"RP", 0x00000010}, {"WP", 0x00000020}, {"DT", 0x00000040},
    {"LO", 0x00000080}, {"CR", 0x00000100}, {"FA", 0x001F01FF}, {"FR", 0x00120089}, {"FW", 0x00120116},
    {"FX", 0x001200A0}, {"KA", 0x000F003F}, {"KR", 0x00020019}, {"KW", 0x00020006}, {"KX", 0x00020019}};
struct Alias {
  const char* alias;
  const char* sid;
};
constexpr Alias kAliases[] = {
    {"BA", "S-1-5-32-544"}, {"SY", "S-1-5-18"},     {"BU", "S-1-5-32-545"}, {"AU", "S-1-5-11"},
    {"WD", "S-1-1-0"},      {"IU", "S-1-5-4"},      {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},
    {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},      {"OW", "S-1-3-4"},      {"BG", "S-1-5-32-546"},
    {"AN", "S-1-5-7"},      {"PU", "S-1-5-32-547"}, {"BO", "S-1-5-32-551"}, {"SU", "S-1-5-6"},
    {"NU", "S-1-5-2"},      {"RC", "S-1-5-12"},     {"AC", "S-1-15-2-1"},   {"PS", "S-1-5-10"}};

// A run of two-letter codes, each from the table, their values or-ed.
bool Codes(const std::string& text, const Code* table, std::size_t count, std::uint32_t* value) {
  if (text.size() % 2 != 0) return false;
  *value = 0;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::string two = text.substr(i, 2);
    bool found = false;
    for (std::size_t k = 0; k < count && !found; ++k) {
      if (two == table[k].text) {
        *value |= table[k].value;
        found = true;
      }
    }
    if (!found) return false;
  }
  return true;
}

bool Rights(const std::string& text, std::uint32_t* mask) {
  if (text.empty()) return false;
  if (std::isdigit(static_cast<unsigned char>(text[0])) != 0) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > (hex ? 8u : 10u)) return false;
    for (char c : digits) {
      if (hex ? std::isxdigit(static_cast<unsigned char>(c)) == 0
              : std::isdigit(static_cast<unsigned char>(c)) == 0) {
        return false;
      }
    }
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (value > 0xFFFFFFFFull) return false;
    *mask = static_cast<std::uint32_t>(value);
    return true;
  }
  return Codes(text, kRights, sizeof kRights / sizeof kRights[0], mask);
}

bool IsGuid(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : std::isxdigit(static_cast<unsigned char>(text[i])) == 0) return false;
  }
  return true;
}

// "S-1-<authority>(-<sub>){1,15}", the authority and each part a plain number
// in range, as ConvertStringSidToSid takes them.
bool IsSidString(const std::string& text) {
  if (text.size() < 5 || text.compare(0, 4, "S-1-") != 0) return false;
  std::size_t parts = 0;
  std::size_t at = 4;
  for (;;) {
    std::size_t end = at;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])) != 0) ++end;
    if (end == at || end - at > 15) return false;
    const unsigned long long value = std::strtoull(text.substr(at, end - at).c_str(), nullptr, 10);
    if (value > (parts == 0 ? 0xFFFFFFFFFFFFull : 0xFFFFFFFFull)) return false;
    ++parts;
    if (end == text.size()) break;
    if (text[end] != '-') return false;
    at = end + 1;
  }
  return parts >= 2 && parts <= 16;
}

// One ACE's text between its parentheses.
bool ParseAce(const std::string& text, SimAce* ace, std::string* error) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  int depth = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] == '(') ++depth;
    if (i < text.size() && text[i] == ')') --depth;
    if (i == text.size() || (text[i] == ';' && depth == 0)) {
      fields.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  if (fields.size() != 6 && fields.size() != 7) {
    *error = "an entry '(" + text + ")' does not have six fields";
    return false;
  }
  std::uint32_t value = 0;
  bool known = false;
  for (const Code& t : kTypes) {
    if (fields[0] == t.text) {
      value = t.value;
      known = true;
    }
  }
  if (!known) {
    *error = "'" + fields[0] + "' is not an entry type";
    return false;
  }
  ace->type = static_cast<std::uint8_t>(value);
  // Only the callback types carry a condition.
  if (fields.size() == 7 && ace->type != 9 && ace->type != 10 && ace->type != 11 && ace->type != 13) {
    *error = "an entry '(" + text + ")' has a condition but is not a callback type";
    return false;
  }
  if (!Codes(fields[1], kFlags, sizeof kFlags / sizeof kFlags[0], &value)) {
    *error = "'" + fields[1] + "' are not entry flags";
    return false;
  }
  ace->flags = static_cast<std::uint8_t>(value);
  if (!Rights(fields[2], &ace->mask)) {
    *error = "'" + fields[2] + "' are not access rights";
    return false;
  }
  for (int i = 3; i <= 4; ++i) {
    if (!fields[i].empty() && !IsGuid(fields[i])) {
      *error = "'" + fields[i] + "' is not a GUID";
      return false;
    }
  }
  ace->sid = SidOfSddl(fields[5]);
  if (ace->sid.empty()) {
    *error = "'" + fields[5] + "' is not a SID or an alias";
    return false;
  }
  return true;
}

// A SID after "O:" or "G:": a SID string, or a two-letter alias.
std::size_t SidLength(const std::string& text, std::size_t at) {
  if (text.compare(at, 2, "S-") == 0) {
    std::size_t end = at + 2;
    while (end < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[end])) != 0 || text[end] == '-'))
      ++end;
    return end - at;
  }
  return at + 2 <= text.size() ? 2 : 0;
}

}  // namespace

std::string SidOfSddl(const std::string& text) {
  for (const Alias& a : kAliases) {
    if (text == a.alias) return a.sid;
  }
  return IsSidString(text) ? text : std::string();
}

bool ParseSddl(const std::string& text, SimDescriptor* descriptor, std::string* error) {
  *descriptor = SimDescriptor{};
  constexpr std::size_t kLongest = 8192;
  if (text.empty() || text.size() > kLongest) {
    *error = "a security descriptor is 1 to 8192 characters";
    return false;
  }
  std::size_t at = 0;
  bool owner = false, group = false, dacl = false;
  while (at < text.size()) {
    if (at + 2 > text.size() || text[at + 1] != ':') {
      *error = "'" + text.substr(at) + "' is not O:, G: or D:";
      return false;
    }
    const char part = text[at];
    at += 2;
    if ((part == 'O' && !owner) || (part == 'G' && !group)) {
      const std::size_t length = SidLength(text, at);
      const std::string sid = SidOfSddl(text.substr(at, length));
      if (sid.empty()) {
        *error = "'" + text.substr(at, length == 0 ? 2 : length) + "' is not a SID or an alias";
        return false;
      }
      (part == 'O' ? owner : group) = true;
      if (part == 'O') descriptor->owner = sid;
      at += length;
    } else if (part == 'D' && !dacl) {
      dacl = true;
      if (text.compare(at, 17, "NO_ACCESS_CONTROL") == 0) {
        at += 17;
        continue;
      }
      descriptor->daclPresent = true;
      // The DACL's own flags: protected, inheritance asked for or done.
      while (at < text.size() && text[at] != '(' && text[at + 1 < text.size() ? at + 1 : at] != ':') {
        if (text.compare(at, 2, "AI") == 0 || text.compare(at, 2, "AR") == 0) {
          at += 2;
        } else if (text[at] == 'P') {
          ++at;
        } else {
          *error = "'" + text.substr(at) + "' is not a DACL flag or entry";
          return false;
        }
      }
      while (at < text.size() && text[at] == '(') {
        int depth = 0;
        std::size_t end = at;
        for (; end < text.size(); ++end) {
          if (text[end] == '(') ++depth;
          if (text[end] == ')' && --depth == 0) break;
        }
        if (end >= text.size()) {
          *error = "an entry is not closed";
          return false;
        }
        SimAce ace;
        if (!ParseAce(text.substr(at + 1, end - at - 1), &ace, error)) return false;
        descriptor->aces.push_back(ace);
        at = end + 1;
      }
    } else {
      *error = std::string("'") + part + ":' is not O:, G: or D:, or is given twice";
      return false;
    }
  }
  return true;
}

}  // namespace tavu::sim
