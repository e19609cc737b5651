#include "check/next_start_facts.h"

#include <cwchar>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/disk_api.h"
#include "common/disk_sectors.h"
#include "common/drive_layout_view.h"
#include "common/file_api.h"
#include "common/heap_block.h"
#include "common/little_endian.h"
#include "common/searchable_disks.h"
#include "common/volume_api.h"
#include "common/volume_arrival.h"
#include "common/volume_label.h"
#include "common/volume_root.h"
#include "common/wide_text.h"
#include "launcher/arming/boot_store_values.h"
#include "launcher/arming/partition_locator.h"
#include "launcher/arming/recovery_image.h"

namespace tavu::check {

namespace {

// The layout area the launcher's locator asks for: the header and 101 entries.
constexpr std::uint32_t kLayoutBytes = 14592;
constexpr std::size_t kTableEntries = 4;
constexpr std::size_t kTableOffset = 446;
constexpr std::size_t kTableEntryBytes = 16;
// The master boot record fills the first 512 bytes of sector 0, whatever the
// disk's sector size; its LBAs count the disk's own sectors.
constexpr std::uint32_t kMbrBytes = 512;
// A display order of many entries runs long; longer values are no boot store's.
constexpr std::size_t kValueChars = 4096;
// "\\?\Volume{GUID}\" is 49 characters.
constexpr std::uint32_t kVolumeNameChars = 64;
constexpr wchar_t kRecoveryLabel[] = L"Recovery";

// The element's values as listed, joined by one blank; nothing when the entry
// lacks it (or lists more than any boot store holds).
std::optional<std::wstring> Element(const ListingLines& listing, const wchar_t* id, const wchar_t* name,
                                    std::vector<wchar_t>& room) {
  if (ReadEntryElement(listing, id, name, room.data(), room.size()) != ElementRead::Present)
    return std::nullopt;
  return std::wstring(room.data());
}

std::vector<std::wstring> Words(const std::wstring& text) {
  std::vector<std::wstring> words;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] == L' ' || text[at] == L'\t')) ++at;
    std::size_t end = at;
    while (end < text.size() && text[end] != L' ' && text[end] != L'\t') ++end;
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

bool HasText(const std::optional<std::wstring>& value, const wchar_t* upperPart) {
  if (!value) return false;
  std::wstring upper = *value;
  UpperAscii(upper.data(), upper.size() + 1);
  return Contains(upper.c_str(), upperPart);
}

// An element number of customactions as bcdedit lists it, "0x5400000f".
std::optional<std::uint32_t> ElementNumber(const std::wstring& text) {
  std::size_t at = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X') ? 2 : 0;
  const std::uint32_t base = at == 2 ? 16 : 10;
  if (at == text.size()) return std::nullopt;
  std::uint64_t value = 0;
  for (; at < text.size(); ++at) {
    const wchar_t c = UpperAscii(text[at]);
    std::uint32_t digit = 0;
    if (c >= L'0' && c <= L'9') {
      digit = static_cast<std::uint32_t>(c - L'0');
    } else if (base == 16 && c >= L'A' && c <= L'F') {
      digit = static_cast<std::uint32_t>(c - L'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

// What the launcher's own image test says of the loader: never a recovery
// that Windows says is missing, nor one on a device it lists as unknown.
bool ImageReady(const ListingLines& listing, const wchar_t* id) {
  RecoveryImageFacts image;
  if (!ResolveRecoveryImage(listing, id, &image)) return false;
  TestRecoveryImage(&image);
  return !RecoveryImageRefused(image) && !EqualsIgnoreAsciiCase(image.device, L"unknown");
}

BootEntryKind KindOf(const ListingLines& listing, const wchar_t* id, std::vector<wchar_t>& room) {
  const std::optional<std::wstring> winpe = Element(listing, id, L"winpe", room);
  if (HasText(Element(listing, id, L"device", room), kRecoveryImagePattern) ||
      (winpe && EqualsIgnoreAsciiCase(winpe->c_str(), L"Yes"))) {
    return BootEntryKind::RecoveryLoader;
  }
  if (HasText(Element(listing, id, L"path", room), L"WINLOAD")) return BootEntryKind::WindowsLoader;
  return BootEntryKind::Other;
}

void ReadEntries(const ListingLines& listing, tavu::BootManagerFacts& manager, std::vector<wchar_t>& room) {
  for (std::size_t i = 1; i < listing.size(); ++i) {
    LineView name;
    LineView value;
    // An entry's identifier is its first element, right under the dashes of
    // its (localized) heading.
    if (!IsUnderline(listing.Line(i - 1)) || !ElementOfLine(listing.Line(i), &name, &value) ||
        value.length == 0) {
      continue;
    }
    BootEntryFacts entry;
    entry.id.assign(value.text, value.length);
    entry.kind = KindOf(listing, entry.id.c_str(), room);
    if (entry.kind == BootEntryKind::RecoveryLoader) entry.imageReady = ImageReady(listing, entry.id.c_str());
    manager.entries.push_back(std::move(entry));
  }
}

void ReadStore(const ListingLines& listing, tavu::BootManagerFacts& manager) {
  std::vector<wchar_t> room(kValueChars);
  const wchar_t* const id = L"{bootmgr}";
  manager.defaultId = Element(listing, id, L"default", room);
  if (auto order = Element(listing, id, L"displayorder", room)) manager.displayOrder = Words(*order);
  if (auto sequence = Element(listing, id, L"bootsequence", room)) manager.bootSequence = Words(*sequence);
  if (auto actions = Element(listing, id, L"customactions", room)) {
    manager.customActions = Words(*actions);
    // customactions pairs a key code with an element number; each element
    // named there is one {bootmgr} may hold.
    for (std::size_t i = 1; i < manager.customActions->size(); i += 2) {
      const std::optional<std::uint32_t> number = ElementNumber((*manager.customActions)[i]);
      wchar_t elementName[32];
      if (!number || FormatBounded(elementName, 32, L"custom:%08x", static_cast<unsigned>(*number)) < 0)
        continue;
      if (auto value = Element(listing, id, elementName, room)) {
        manager.customElements.emplace_back(elementName, std::move(*value));
      }
    }
  }
  ReadEntries(listing, manager, room);
}

// The partition the firmware leaves to the boot manager: the one Windows
// runs from, or one whose root holds the boot manager itself.
bool StartsBootManager(std::int32_t disk, std::int64_t offset) {
  wchar_t volume[kVolumeNameChars] = {};
  if (!FindListedVolume(static_cast<std::uint32_t>(disk), offset, volume, kVolumeNameChars)) return false;
  // A volume has one drive letter at most.
  wchar_t root[4];
  if (DriveRootOfVolume(volume, root) && EqualsIgnoreAsciiCase(root, L"C:\\")) return true;
  wchar_t bootmgr[kVolumeNameChars + 8];
  return FormatBounded(bootmgr, kVolumeNameChars + 8, L"%lsbootmgr", volume) >= 0 &&
         Sys().files->Exists(bootmgr);
}

// Where the recovery partition starts on this disk: where the launcher's
// locator finds it, else (once the launcher made it visible, so that it no
// longer carries the hidden type the locator looks for) the primary partition
// whose file system is labelled Recovery.
std::optional<std::int64_t> RecoveryOffset(Handle disk, std::int32_t diskNumber,
                                           const std::int64_t* offsets) {
  std::int32_t foundPartition = 0;
  std::int32_t foundDisk = 0;
  LocateDetail detail;
  if (FindRecoveryPartition(&foundPartition, &foundDisk, &detail) == kLocateFound &&
      foundDisk == diskNumber) {
    return detail.foundOffset;
  }
  for (std::size_t i = 0; i < kTableEntries; ++i) {
    wchar_t label[kVolumeLabelChars] = {};
    if (offsets[i] > 0 && ReadVolumeLabel(disk, label, offsets[i]) == kLocateFound &&
        EqualsIgnoreAsciiCase(label, kRecoveryLabel)) {
      return offsets[i];
    }
  }
  return std::nullopt;
}

std::int32_t PartitionNumberAt(const DriveLayoutView& layout, std::int64_t offset) {
  for (std::uint32_t i = 0; i < layout.Count(); ++i) {
    const PARTITION_INFORMATION_EX& e = layout.Entry(i);
    if (e.PartitionNumber != 0 && e.StartingOffset == offset)
      return static_cast<std::int32_t>(e.PartitionNumber);
  }
  return 0;
}

// The four primary entries as the BIOS code reads them from sector 0: the
// flag byte as it lies there, since any value but 0x00 and 0x80 stops it.
void ReadMasterBootRecord(const SearchableDisks& walk, const DriveLayoutView& layout, BootFacts& facts) {
  const std::uint32_t sectorBytes = DiskSectorSize(walk.Disk());
  HeapBlock sector = HeapBlock::Uninitialised(kMbrBytes);
  if (!sector) return;
  std::uint32_t read = 0;
  if (!ReadDiskBytes(walk.Disk(), sectorBytes, 0, sector.get(), kMbrBytes, &read) || read != kMbrBytes)
    return;
  std::int64_t offsets[kTableEntries] = {};
  for (std::size_t i = 0; i < kTableEntries; ++i) {
    const std::uint8_t* entry = sector.get() + kTableOffset + i * kTableEntryBytes;
    MbrEntryFacts e;
    e.bootFlag = entry[0];
    e.type = entry[4];
    if (e.type != 0) offsets[i] = static_cast<std::int64_t>(Le32(entry + 8)) * sectorBytes;
    facts.mbr.push_back(e);
  }
  const std::optional<std::int64_t> recovery = RecoveryOffset(walk.Disk(), walk.Number(), offsets);
  for (std::size_t i = 0; i < kTableEntries; ++i) {
    if (offsets[i] <= 0) continue;
    MbrEntryFacts& e = facts.mbr[i];
    e.partitionNumber = PartitionNumberAt(layout, offsets[i]);
    bool present = false;
    e.signatureOk = ReadBootSignature(walk.Number(), offsets[i], &present) == kLocateFound && present;
    e.isRecoveryPartition = recovery && *recovery == offsets[i];
    e.goesToBootManager = StartsBootManager(walk.Number(), offsets[i]);
  }
}

void ReadStartDisk(BootFacts& facts) {
  HeapBlock area = HeapBlock::Uninitialised(kLayoutBytes);
  if (!area) return;
  SearchableDisks walk(false);
  while (walk.Next()) {
    if (!walk.Searched()) continue;
    if (!Sys().disks->GetLayout(walk.Disk(), area.get(), kLayoutBytes)) {
      // A slot whose medium turned out to be missing is no disk to start from.
      if (walk.PassOverAfterFailedLayout()) continue;
      facts.disk = walk.Number();
      facts.style = StartDiskStyle::Raw;
      return;
    }
    facts.disk = walk.Number();
    const DriveLayoutView layout(area.get(), kLayoutBytes);
    if (layout.Style() == PARTITION_STYLE_GPT) {
      facts.style = StartDiskStyle::Gpt;
    } else if (layout.Style() == PARTITION_STYLE_MBR) {
      facts.style = StartDiskStyle::Mbr;
      ReadMasterBootRecord(walk, layout, facts);
    } else {
      facts.style = StartDiskStyle::Raw;
    }
    return;
  }
}

}  // namespace

BootFacts ReadBootFacts(const ListingLines& listing) {
  BootFacts facts;
  ReadStartDisk(facts);
  ReadStore(listing, facts.bootManager);
  return facts;
}

NextStartReport PredictNextStart(const ListingLines& listing, bool firmwareModeOn, MenuRule rule) {
  BootFacts facts = ReadBootFacts(listing);
  facts.firmwareModeOn = firmwareModeOn;
  facts.menuRule = rule;
  return DecideNextStart(facts);
}

}  // namespace tavu::check
