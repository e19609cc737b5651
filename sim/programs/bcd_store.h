// The simulated machine's boot configuration store, as `bcdedit` shows and
// changes it. It starts from a listing (captured from a real machine, or made
// from the simulated disks) and keeps each listed line as it came until a
// command changes its element, so an unchanged store lists exactly as loaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/core/language.h"

namespace tavu::sim {

// One element of an entry: its name and one value per listed line.
struct BcdElement {
  std::wstring name;
  std::vector<std::wstring> values;
  std::vector<std::wstring> raw;  // the lines as listed; empty once the element changed
};

struct BcdEntry {
  std::vector<std::wstring> before;  // lines ahead of the header (a blank one in bcdedit's layout)
  std::wstring header;               // "Windows Boot Loader", in the display language
  std::wstring underline;
  // The first element is the identifier, whatever the display language calls it.
  std::vector<BcdElement> elements;
  std::wstring Id() const;
};

class SimBcdStore {
 public:
  // Replaces the store with what a listing shows. Lines that belong to no
  // entry are kept in place.
  void Load(const std::wstring& listing);
  // What "bcdedit /enum all" prints: every line ended by CR LF.
  std::wstring Listing() const;

  // One run of bcdedit with its argument text. *output receives what it prints;
  // the result is its exit code (0 success, 1 failure). Understands
  // /enum [all|active], /set [{id}] type value..., /deletevalue [{id}] type,
  // /displayorder id...
  // [/addfirst|/addlast|/remove]. Identifiers must name an entry of the store
  // (any case); {current} and {default} resolve as bcdedit resolves them.
  int Run(const std::wstring& arguments, std::wstring* output);

  // The values of an element of the entry an identifier names; empty when the
  // entry or the element is missing.
  std::vector<std::wstring> Values(const std::wstring& id, const std::wstring& element) const;
  bool HasEntry(const std::wstring& id) const { return Resolve(id) >= 0; }
  const std::vector<BcdEntry>& entries() const { return entries_; }
  // Elements changed by /set and /displayorder since the load.
  int changes() const { return changes_; }

 private:
  int Resolve(const std::wstring& id) const;
  int Set(const std::vector<std::wstring>& args, std::wstring* output);
  int DeleteValue(const std::vector<std::wstring>& args, std::wstring* output);
  int DisplayOrder(const std::vector<std::wstring>& args, std::wstring* output);
  void Put(int entry, const std::wstring& name, const std::vector<std::wstring>& values);

  std::vector<BcdEntry> entries_;
  std::vector<std::wstring> trailing_;
  int changes_ = 0;
};

// The state Windows RE is in. Disabled: as after "reagentc /disable", no
// loader and no recovery sequence. ImageMissing lists as Enabled (the image is
// gone from the partition, not from the store). Orphan: a feature update left
// an older loader, whose partition Windows no longer finds, ahead of the live one.
enum class WinReState : std::uint8_t { Enabled, Disabled, ImageMissing, Orphan };

// What the boot store of a Windows with these facts lists. The identifiers are
// made from seed, so a given machine always lists the same ones.
struct BcdMachineFacts {
  bool uefi = true;
  int bootVolume = 1;      // \Device\HarddiskVolumeN holding the boot manager
  int recoveryVolume = 0;  // ... holding \Recovery\WindowsRE\Winre.wim; 0: no recovery loader entry
  WinReState winre = WinReState::Enabled;
  // Where the recovery partition lies (disk -1: none), for ReAgent.xml.
  int recoveryDisk = -1;
  std::int64_t recoveryOffset = 0;
  std::uint32_t seed = 0x6f0c2a10;
  // The live recovery loader's identifier, as the notebook's own ReAgent.xml
  // names it; empty: one made from the seed.
  std::wstring recoveryEntryId;
  // Section headers, the word for "identifier" and the locale; null: en-US.
  const SimLanguage* language = nullptr;
};
std::wstring DefaultBcdListing(const BcdMachineFacts& facts);
// The identifier DefaultBcdListing gives the (live) recovery loader entry, and
// the one of the older loader it lists with WinReState::Orphan.
std::wstring DefaultRecoveryEntryId(const BcdMachineFacts& facts);
std::wstring DefaultOrphanEntryId(const BcdMachineFacts& facts);

}  // namespace tavu::sim
