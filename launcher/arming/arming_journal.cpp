#include "launcher/arming/arming_journal.h"

#include <cstring>
#include <initializer_list>

namespace tavu {

const JournalElementName kJournalElements[kJournalElementCount] = {
    {L"{bootmgr}", L"displayorder"},  {L"{bootmgr}", L"customactions"},   {L"{bootmgr}", L"custom:5400000f"},
    {L"{bootmgr}", L"extendedinput"}, {L"{current}", L"isolatedcontext"},
};

namespace {

constexpr char kHeader[] = "TAVU Recovery journal 1";

bool AllowedChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L' ' ||
         c == L'{' || c == L'}' || c == L'-' || c == L':' || c == L'.';
}

// Appends text to out; false when it does not fit.
class Text {
 public:
  explicit Text(char (&out)[kJournalBytes]) : out_(out) {}
  bool Add(const char* text) {
    const std::size_t n = std::strlen(text);
    if (used_ + n >= kJournalBytes) return false;
    std::memcpy(out_ + used_, text, n);
    used_ += n;
    out_[used_] = '\0';
    return true;
  }
  bool Add(const wchar_t* text) {
    for (; *text != L'\0'; ++text) {
      if (!AllowedChar(*text) || used_ + 1 >= kJournalBytes) return false;
      out_[used_++] = static_cast<char>(*text);
    }
    out_[used_] = '\0';
    return true;
  }
  // "0x" and upper-case hex digits, at least `digits` of them.
  bool AddHex(std::uint64_t value, int digits) {
    char text[24];
    int n = 0;
    do {
      text[n++] = "0123456789ABCDEF"[value & 0xF];
      value >>= 4;
    } while (value != 0 || n < digits);
    char out[24] = {'0', 'x'};
    for (int i = 0; i < n; ++i) out[2 + i] = text[n - 1 - i];
    out[2 + n] = '\0';
    return Add(out);
  }
  bool AddDecimal(std::uint64_t value) {
    char text[24];
    int n = 0;
    do {
      text[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    char out[24];
    for (int i = 0; i < n; ++i) out[i] = text[n - 1 - i];
    out[n] = '\0';
    return Add(out);
  }
  std::size_t used() const { return used_; }

 private:
  char* out_;
  std::size_t used_ = 0;
};

// One line at a time, CR LF ended, the last one included.
class Lines {
 public:
  Lines(const char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
  // The next line without its CR LF; false at the end or for a line without it.
  bool Next(const char** line, std::size_t* length) {
    for (std::size_t i = at_; i + 1 < size_; ++i) {
      if (bytes_[i] == '\r' && bytes_[i + 1] == '\n') {
        *line = bytes_ + at_;
        *length = i - at_;
        at_ = i + 2;
        return true;
      }
      if (bytes_[i] == '\0' || bytes_[i] == '\n') return false;
    }
    return false;
  }
  bool AtEnd() const { return at_ == size_; }

 private:
  const char* bytes_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// "{bootmgr} displayorder " as the journal's lines begin; the names are ASCII.
void ElementPrefix(const JournalElementName& element, char (&out)[64]) {
  std::size_t n = 0;
  for (const wchar_t* part : {element.entry, L" ", element.name, L" "}) {
    for (; *part != L'\0' && n + 1 < sizeof out; ++part) out[n++] = static_cast<char>(*part);
  }
  out[n] = '\0';
}

bool Starts(const char* line, std::size_t length, const char* prefix, std::size_t* rest) {
  const std::size_t n = std::strlen(prefix);
  if (length < n || std::memcmp(line, prefix, n) != 0) return false;
  *rest = n;
  return true;
}

bool Equals(const char* line, std::size_t length, const char* text) {
  return length == std::strlen(text) && std::memcmp(line, text, length) == 0;
}

// Digits only, in the one spelling FormatJournal writes: no sign, and no
// leading zero but in "0" itself (decimal).
bool ParseNumber(const char* text, std::size_t length, unsigned base, std::uint64_t max, std::uint64_t* out) {
  if (length == 0 || length > 20 || (base == 10 && length > 1 && text[0] == '0')) return false;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    if (value > (max - digit) / base) return false;
    value = value * base + digit;
  }
  *out = value;
  return true;
}

// "0x" and exactly `digits` upper-case hex digits, as FormatJournal writes it.
bool ParseHex(const char* text, std::size_t length, std::size_t digits, std::uint64_t* out) {
  return length == 2 + digits && text[0] == '0' && text[1] == 'x' &&
         ParseNumber(text + 2, length - 2, 16, UINT64_MAX, out);
}

// "{bootmgr} displayorder = VALUE" or "{bootmgr} displayorder -".
bool ParseValue(const char* line, std::size_t length, const JournalElementName& element, JournalValue* value) {
  char prefix[64];
  ElementPrefix(element, prefix);
  std::size_t at = 0;
  if (!Starts(line, length, prefix, &at)) return false;
  if (Equals(line + at, length - at, "-")) {
    *value = JournalValue{};
    return true;
  }
  if (length - at < 3 || line[at] != '=' || line[at + 1] != ' ') return false;
  at += 2;
  const std::size_t n = length - at;
  if (n == 0 || n >= kJournalValueChars) return false;
  value->present = true;
  for (std::size_t i = 0; i < n; ++i) {
    const wchar_t c = static_cast<wchar_t>(static_cast<unsigned char>(line[at + i]));
    if (!AllowedChar(c)) return false;
    value->text[i] = c;
  }
  value->text[n] = L'\0';
  return true;
}

}  // namespace

bool JournalValueAllowed(const wchar_t* text) {
  std::size_t n = 0;
  for (; text[n] != L'\0'; ++n) {
    if (!AllowedChar(text[n]) || n + 1 >= kJournalValueChars) return false;
  }
  return n > 0;
}

std::size_t FormatJournal(const ArmingJournal& j, char (&out)[kJournalBytes]) {
  Text t(out);
  char prefix[64];
  bool ok = t.Add(kHeader) && t.Add("\r\n");
  ok = ok && t.Add(j.route == JournalRoute::BootManager ? "route boot-manager\r\n" : "route partition-table\r\n");
  ok = ok && t.Add(j.taskExisted ? "task existed\r\n" : "task absent\r\n");
  if (j.route == JournalRoute::BootManager) {
    for (std::size_t e = 0; ok && e < kJournalElementCount; ++e) {
      ElementPrefix(kJournalElements[e], prefix);
      const JournalValue& v = j.values[e];
      ok = t.Add(prefix) && (v.present ? JournalValueAllowed(v.text) && t.Add("= ") && t.Add(v.text) : t.Add("-")) &&
           t.Add("\r\n");
    }
  } else {
    if (j.recoveryOffset < 0 || (j.hadActive && j.activeOffset < 0)) return 0;
    ok = ok && t.Add("disk ") && t.AddHex(j.diskSignature, 8) && t.Add("\r\nrecovery ") &&
         t.AddDecimal(static_cast<std::uint64_t>(j.recoveryOffset)) && t.Add(" ") && t.AddHex(j.recoveryType, 2) &&
         t.Add("\r\nactive ");
    ok = ok && (j.hadActive ? t.AddDecimal(static_cast<std::uint64_t>(j.activeOffset)) : t.Add("-")) && t.Add("\r\n");
  }
  ok = ok && t.Add("end\r\n");
  return ok ? t.used() : 0;
}

bool ParseJournal(const char* bytes, std::size_t size, ArmingJournal* journal) {
  if (bytes == nullptr || journal == nullptr || size == 0 || size >= kJournalBytes) return false;
  ArmingJournal j;
  Lines lines(bytes, size);
  const char* line = nullptr;
  std::size_t length = 0;
  std::size_t at = 0;
  if (!lines.Next(&line, &length) || !Equals(line, length, kHeader)) return false;
  if (!lines.Next(&line, &length)) return false;
  if (Equals(line, length, "route boot-manager")) {
    j.route = JournalRoute::BootManager;
  } else if (Equals(line, length, "route partition-table")) {
    j.route = JournalRoute::PartitionTable;
  } else {
    return false;
  }
  if (!lines.Next(&line, &length)) return false;
  if (Equals(line, length, "task existed")) {
    j.taskExisted = true;
  } else if (!Equals(line, length, "task absent")) {
    return false;
  }
  if (j.route == JournalRoute::BootManager) {
    for (std::size_t e = 0; e < kJournalElementCount; ++e) {
      if (!lines.Next(&line, &length) || !ParseValue(line, length, kJournalElements[e], &j.values[e])) return false;
    }
  } else {
    std::uint64_t number = 0;
    if (!lines.Next(&line, &length) || !Starts(line, length, "disk ", &at) ||
        !ParseHex(line + at, length - at, 8, &number)) {
      return false;
    }
    j.diskSignature = static_cast<std::uint32_t>(number);
    if (!lines.Next(&line, &length) || !Starts(line, length, "recovery ", &at)) return false;
    const char* gap = static_cast<const char*>(std::memchr(line + at, ' ', length - at));
    if (gap == nullptr || !ParseNumber(line + at, static_cast<std::size_t>(gap - (line + at)), 10, INT64_MAX, &number))
      return false;
    j.recoveryOffset = static_cast<std::int64_t>(number);
    const std::size_t typeAt = static_cast<std::size_t>(gap - line) + 1;
    if (!ParseHex(line + typeAt, length - typeAt, 2, &number)) return false;
    j.recoveryType = static_cast<std::uint8_t>(number);
    if (!lines.Next(&line, &length)) return false;
    if (Equals(line, length, "active -")) {
      j.hadActive = false;
    } else if (Starts(line, length, "active ", &at) && ParseNumber(line + at, length - at, 10, INT64_MAX, &number)) {
      j.hadActive = true;
      j.activeOffset = static_cast<std::int64_t>(number);
    } else {
      return false;
    }
  }
  // A journal cut short by a power cut has no end line, and is not one.
  if (!lines.Next(&line, &length) || !Equals(line, length, "end") || !lines.AtEnd()) return false;
  *journal = j;
  return true;
}

}  // namespace tavu
