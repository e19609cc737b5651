#include "common/next_start.h"

#include <limits>
#include <string_view>

#include "common/wide_text.h"

namespace tavu {
namespace {

constexpr std::size_t kMbrTableEntries = 4;
constexpr std::uint8_t kActiveFlag = 0x80;
constexpr std::uint64_t kF9ScanCode = 0x43;

std::string Ascii(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out.push_back(static_cast<std::uint32_t>(c) < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string Hex(std::uint64_t value, int digits) {
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0 && value != 0; --i, value >>= 4) {
    text[static_cast<std::size_t>(i)] = "0123456789abcdef"[value & 0xF];
  }
  return text;
}

std::string Hex2(std::uint8_t value) {
  const char* digits = "0123456789ABCDEF";
  return {'0', 'x', digits[value >> 4], digits[value & 0xF]};
}

bool SameId(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

// bcdedit lists integers in hex with a 0x prefix; plain decimal is accepted as well.
std::optional<std::uint64_t> ParseInteger(std::wstring_view text) {
  std::uint64_t base = 10;
  if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (wchar_t c : text) {
    wchar_t upper = UpperAscii(c);
    std::uint64_t digit = 0;
    if (c >= L'0' && c <= L'9') {
      digit = static_cast<std::uint64_t>(c) - L'0';
    } else if (base == 16 && upper >= L'A' && upper <= L'F') {
      digit = static_cast<std::uint64_t>(upper) - L'A' + 10;
    } else {
      return std::nullopt;
    }
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  return value;
}

class Decider {
 public:
  Decider(const BootFacts& facts, NextStartReport& report)
      : facts_(facts), manager_(facts.bootManager), report_(report) {}

  void Run();

 private:
  void Step(std::string text) { report_.steps.push_back(std::move(text)); }
  void End(NextStart next, std::string why) {
    report_.next = next;
    report_.why = std::move(why);
  }

  void RunMbrCode();
  void RunBootManager();
  bool StartF9Entry();
  void StartFromDisplayOrder();
  void StartEntry(std::wstring_view reference, const char* role);

  std::optional<std::uint32_t> F9Element() const;
  const std::wstring* CustomElement(std::uint32_t element) const;
  std::wstring_view Resolve(std::wstring_view reference) const;
  const BootEntryFacts* FindEntry(std::wstring_view id) const;
  bool DefaultListed(const std::vector<std::wstring>& order) const;

  const BootFacts& facts_;
  const BootManagerFacts& manager_;
  NextStartReport& report_;
};

void Decider::Run() {
  std::string disk = "disk " + std::to_string(facts_.disk);
  switch (facts_.style) {
    case StartDiskStyle::Gpt:
      Step("firmware: GPT " + disk + ", through the Windows boot manager");
      RunBootManager();
      return;
    case StartDiskStyle::Mbr:
      Step("firmware: MBR " + disk + ", through the master boot record's code");
      RunMbrCode();
      return;
    case StartDiskStyle::Raw:
      Step("firmware: " + disk + " is neither MBR nor GPT");
      End(NextStart::None, "The firmware cannot start " + disk + ": it is neither MBR nor GPT.");
      return;
    case StartDiskStyle::None:
      break;
  }
  Step("firmware: no disk to start from");
  End(NextStart::None, "The firmware finds no disk to start from.");
}

// The Windows master boot record's code: any flag but 0x00 and 0x80 in the
// four primary entries stops it, as does no active entry or more than one;
// the active partition's first sector then has to carry the 0x55 0xAA
// signature. The type byte is never looked at.
void Decider::RunMbrCode() {
  std::size_t count = facts_.mbr.size() < kMbrTableEntries ? facts_.mbr.size() : kMbrTableEntries;
  const MbrEntryFacts* active = nullptr;
  int activeCount = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const MbrEntryFacts& entry = facts_.mbr[i];
    std::string slot = "table entry " + std::to_string(i + 1);
    if (entry.bootFlag != 0 && entry.bootFlag != kActiveFlag) {
      Step("mbr: " + slot + " has boot flag " + Hex2(entry.bootFlag));
      End(NextStart::None, "The master boot record's code stops with \"invalid partition table\": " + slot +
                               " has boot flag " + Hex2(entry.bootFlag) + ".");
      return;
    }
    if (entry.bootFlag == kActiveFlag) {
      ++activeCount;
      active = &entry;
    }
  }
  if (activeCount == 0) {
    Step("mbr: no partition is active");
    End(NextStart::None, "The master boot record's code stops with \"no bootable partition\".");
    return;
  }
  if (activeCount > 1) {
    Step("mbr: " + std::to_string(activeCount) + " partitions are active");
    End(NextStart::None,
        "The master boot record's code stops with \"invalid partition table\": more than one partition is "
        "active.");
    return;
  }
  report_.activePartition = active->partitionNumber;
  std::string partition = "partition " + std::to_string(active->partitionNumber);
  Step("mbr: " + partition + " is active, type " + Hex2(active->type));
  if (!active->signatureOk) {
    Step("mbr: " + partition + "'s first sector does not end with 0x55 0xAA");
    End(NextStart::None, "The master boot record's code stops with \"missing operating system\": " +
                             partition + "'s first sector lacks its signature.");
    return;
  }
  if (active->isRecoveryPartition) {
    Step("mbr: " + partition + " is the recovery partition");
    End(NextStart::Recovery,
        "The master boot record's code starts the recovery partition, " + partition + ".");
    return;
  }
  if (active->goesToBootManager) {
    Step("mbr: " + partition + " starts the Windows boot manager");
    RunBootManager();
    return;
  }
  Step("mbr: " + partition + " is neither the recovery partition nor one that starts the boot manager");
  End(NextStart::None, "The active " + partition +
                           " is neither the recovery partition nor one that starts the " +
                           "Windows boot manager.");
}

void Decider::RunBootManager() {
  if (StartF9Entry()) return;
  if (!manager_.bootSequence.empty()) {
    Step("boot manager: the one-time boot sequence is used up");
    report_.bootSequenceUsed = true;
    StartEntry(manager_.bootSequence.front(), "the first entry of the one-time boot sequence");
    return;
  }
  StartFromDisplayOrder();
}

// F9 starts an entry only when the whole chain holds: a binding of the key,
// a custom element for it, and an entry that element names. Where any link is
// missing the key press does nothing and the boot manager carries on as if
// no key had been pressed.
bool Decider::StartF9Entry() {
  if (!facts_.firmwareModeOn) {
    Step("boot manager: F9 is not pressed");
    return false;
  }
  std::optional<std::uint32_t> element = F9Element();
  if (!element) {
    Step("boot manager: F9 is pressed but customactions binds nothing to it");
    return false;
  }
  std::string name = "custom:" + Hex(*element, 8);
  const std::wstring* value = CustomElement(*element);
  if (value == nullptr) {
    Step("boot manager: F9 is bound to " + name + ", which is not set; F9 does nothing");
    return false;
  }
  if (FindEntry(Resolve(*value)) == nullptr) {
    Step("boot manager: F9 is bound to " + name + ", whose " + Ascii(*value) +
         " names no entry; F9 does nothing");
    return false;
  }
  Step("boot manager: F9 is bound to " + name + ", which names " + Ascii(*value));
  StartEntry(*value, "the F9 entry");
  return true;
}

// customactions is a list of (key code, element) pairs. The key's scan code
// sits at bits 24-39 of the key code: the launcher's 0x1000043000001 carries
// 0x43, F9. The first pair that binds F9 is the one that counts.
std::optional<std::uint32_t> Decider::F9Element() const {
  if (!manager_.customActions) return std::nullopt;
  const std::vector<std::wstring>& actions = *manager_.customActions;
  for (std::size_t i = 0; i + 1 < actions.size(); i += 2) {
    std::optional<std::uint64_t> key = ParseInteger(actions[i]);
    std::optional<std::uint64_t> element = ParseInteger(actions[i + 1]);
    if (!key || !element || *element > std::numeric_limits<std::uint32_t>::max()) continue;
    if (((*key >> 24) & 0xFFFF) == kF9ScanCode) return static_cast<std::uint32_t>(*element);
  }
  return std::nullopt;
}

const std::wstring* Decider::CustomElement(std::uint32_t element) const {
  std::string narrow = "custom:" + Hex(element, 8);
  std::wstring name(narrow.begin(), narrow.end());
  for (const auto& [elementName, value] : manager_.customElements) {
    if (SameId(elementName, name)) return &value;
  }
  return nullptr;
}

// "{default}" as a value stands for the default element's value; with no
// default element it names nothing.
std::wstring_view Decider::Resolve(std::wstring_view reference) const {
  if (!SameId(reference, L"{default}")) return reference;
  return manager_.defaultId ? std::wstring_view(*manager_.defaultId) : std::wstring_view();
}

const BootEntryFacts* Decider::FindEntry(std::wstring_view id) const {
  if (id.empty()) return nullptr;
  for (const BootEntryFacts& entry : manager_.entries) {
    if (SameId(entry.id, id)) return &entry;
  }
  return nullptr;
}

bool Decider::DefaultListed(const std::vector<std::wstring>& order) const {
  if (!manager_.defaultId) return false;
  std::wstring_view defaultId = Resolve(*manager_.defaultId);
  for (const std::wstring& id : order) {
    if (SameId(Resolve(id), defaultId)) return true;
  }
  return false;
}

// The default entry starts when the menu's time-out expires, so it wins
// whenever the menu lists it.
void Decider::StartFromDisplayOrder() {
  std::vector<std::wstring> order;
  if (manager_.displayOrder && !manager_.displayOrder->empty()) {
    order = *manager_.displayOrder;
    std::string listed;
    for (const std::wstring& id : order) listed += (listed.empty() ? "" : ", ") + Ascii(id);
    Step("boot manager: the display order is " + listed);
  } else if (manager_.defaultId) {
    order.push_back(*manager_.defaultId);
    Step("boot manager: no display order, so the menu lists the default entry alone");
  } else {
    Step("boot manager: neither a display order nor a default entry");
    End(NextStart::None, "The boot manager has neither a display order nor a default entry to start.");
    return;
  }
  if (DefaultListed(order)) {
    Step("boot manager: the default entry is listed and starts when the time-out expires");
    StartEntry(*manager_.defaultId, "the default entry");
    return;
  }
  if (facts_.menuRule == MenuRule::First) {
    Step("boot manager: the default entry is not listed, so the first entry listed starts");
    StartEntry(order.front(), "the first entry of the display order");
    return;
  }
  if (!manager_.defaultId) {
    Step("boot manager: the default entry is not listed and there is none");
    End(NextStart::None, "The boot manager has no default entry to start.");
    return;
  }
  Step("boot manager: the default entry is not listed but starts all the same");
  StartEntry(*manager_.defaultId, "the default entry");
}

void Decider::StartEntry(std::wstring_view reference, const char* role) {
  std::wstring_view id = Resolve(reference);
  if (!id.empty() && id != reference) Step("entry: " + Ascii(reference) + " stands for " + Ascii(id));
  const BootEntryFacts* entry = FindEntry(id);
  std::string text = Ascii(id.empty() ? reference : id);
  std::string subject = std::string(role) + " " + text;
  if (entry == nullptr) {
    Step("entry: " + text + " names no entry");
    End(NextStart::None, "The boot manager cannot start " + subject + ": it names no entry in the store.");
    return;
  }
  switch (entry->kind) {
    case BootEntryKind::WindowsLoader:
      Step("entry: " + text + " is the Windows loader");
      report_.startedEntry = entry->id;
      End(NextStart::Windows, "The boot manager starts " + subject + ", the Windows loader.");
      return;
    case BootEntryKind::RecoveryLoader:
      if (!entry->imageReady) {
        Step("entry: " + text + " is a Windows RE loader whose image or boot.sdi is missing");
        End(NextStart::None, "The boot manager shows its error screen for " + subject +
                                 ": the Windows RE image or boot.sdi is missing.");
        return;
      }
      Step("entry: " + text + " is a Windows RE loader with its image and boot.sdi");
      report_.startedEntry = entry->id;
      End(NextStart::Recovery, "The boot manager starts " + subject + ", a Windows RE loader.");
      return;
    case BootEntryKind::Other:
      break;
  }
  Step("entry: " + text + " is neither the Windows loader nor a Windows RE loader");
  End(NextStart::None, "The boot manager starts " + subject +
                           ", which is neither the Windows loader nor a Windows RE loader.");
}

}  // namespace

const char* NextStartName(NextStart n) {
  switch (n) {
    case NextStart::Windows:
      return "windows";
    case NextStart::Recovery:
      return "recovery";
    case NextStart::None:
      break;
  }
  return "none";
}

NextStartReport DecideNextStart(const BootFacts& facts) {
  NextStartReport report;
  report.disk = facts.disk;
  Decider(facts, report).Run();
  return report;
}

}  // namespace tavu
