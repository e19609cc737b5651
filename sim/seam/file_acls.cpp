#include "sim/seam/file_acls.h"

namespace tavu::sim {

namespace {

constexpr std::uint8_t kOI = 0x01, kCI = 0x02, kNP = 0x04, kIO = 0x08, kID = 0x10;

SimDescriptor Parsed(const char* sddl) {
  SimDescriptor d;
  std::string error;
  (void)ParseSddl(sddl, &d, &error);
  return d;
}

// Owned by TrustedInstaller; full control for it, SYSTEM and Administrators,
// read and execute for Users, on the folder and everything below.
constexpr const char* kWindowsOwn =
    "O:S-1-5-80-956008885-3432591178-1520307224-2016616340-2017207637"
    "D:PAI(A;OICI;FA;;;S-1-5-80-956008885-3432591178-1520307224-2016616340-2017207637)"
    "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

}  // namespace

bool DefaultDescriptor(const std::wstring& p, SimDescriptor* descriptor) {
  if (p == L"C:\\") {
    // Users may add folders to the root and change what lies in those.
    *descriptor = Parsed(
        "O:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)");
  } else if (p.size() == 3 && p[1] == L':' && p[2] == L'\\') {
    // Sticks and cards are FAT: no owner and no DACL at all.
    *descriptor = SimDescriptor{};
  } else if (p == L"C:\\PROGRAM FILES" || p == L"C:\\PROGRAM FILES (X86)" || p == L"C:\\WINDOWS" ||
             p == L"C:\\WINDOWS\\SYSTEM32") {
    *descriptor = Parsed(kWindowsOwn);
  } else if (p == L"C:\\WINDOWS\\TEMP") {
    // Users may add files and folders, each then their creator's, but not
    // list or delete what others put there. What was there before a run is
    // taken as the elevated programs', so the folder's owner is theirs too.
    *descriptor =
        Parsed("O:BAD:P(A;CI;0x100026;;;BU)(A;;FA;;;BA)(A;OICIIO;FA;;;BA)(A;OICI;FA;;;SY)(A;OICIIO;FA;;;CO)");
  } else if (p == L"C:\\USERS") {
    *descriptor = Parsed("O:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a9;;;BU)(A;;0x1200a9;;;WD)");
  } else if (p.size() > 9 && p.compare(0, 9, L"C:\\USERS\\") == 0 && p.find(L'\\', 9) == std::wstring::npos) {
    const std::string account = kOwnerAccountSid;
    *descriptor =
        Parsed(("O:" + account + "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + account + ")").c_str());
  } else {
    return false;
  }
  return true;
}

SimDescriptor InheritedDescriptor(const SimDescriptor& parent, bool container) {
  SimDescriptor child;
  child.owner = parent.owner;
  child.daclPresent = parent.daclPresent;
  for (const SimAce& ace : parent.aces) {
    const bool objects = (ace.flags & kOI) != 0;
    const bool containers = (ace.flags & kCI) != 0;
    const bool further = (ace.flags & kNP) == 0;
    const bool creator = ace.sid == "S-1-3-0" || ace.sid == "S-1-3-1";
    SimAce effective = ace;
    effective.flags = kID;
    if (creator) effective.sid = child.owner;
    if (!container) {
      if (objects) child.aces.push_back(effective);
      continue;
    }
    if (containers) {
      // CREATOR OWNER's entry applies to the folder as its owner's, and
      // passes on unchanged, inherit-only, to what is made in it later.
      if (!creator && further) effective.flags = static_cast<std::uint8_t>(kID | (ace.flags & (kOI | kCI)));
      child.aces.push_back(effective);
      if (creator && further) {
        SimAce passed = ace;
        passed.flags = static_cast<std::uint8_t>(kID | kIO | (ace.flags & (kOI | kCI)));
        child.aces.push_back(passed);
      }
    } else if (objects && further) {
      SimAce passed = ace;
      passed.flags = static_cast<std::uint8_t>(kID | kIO | kOI);
      child.aces.push_back(passed);
    }
  }
  return child;
}

SimDescriptor AdminsOnlyDescriptor() { return Parsed("O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)"); }

SimAce CreatorOwnerAce(const std::string& owner) {
  SimAce ace;
  ace.type = 0;
  ace.flags = kID;
  ace.mask = 0x001F01FF;
  ace.sid = owner;
  return ace;
}

SimAce UserWritableAce() {
  SimAce ace;
  ace.type = 0;
  ace.flags = kOI | kCI;
  ace.mask = 0x001301BF;  // modify: read, write, execute and delete
  ace.sid = "S-1-5-32-545";
  return ace;
}

}  // namespace tavu::sim
