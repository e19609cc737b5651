// Windows' own security descriptors for the simulated machine's folders, and
// how entries pass down from a folder to what it holds.
#pragma once

#include <string>

#include "sim/core/sddl.h"

namespace tavu::sim {

// The owner's account, a standard user of the machine: its profile is its own,
// and so is whatever a test marks as one it left.
inline constexpr const char* kOwnerAccountSid = "S-1-5-21-3623811015-3361044348-30300820-1001";

// The descriptor Windows gives a path of its own (upper case, absolute, no
// trailing separator but a root's): the roots of C: and other drives, the
// program folders, the Windows folder and System32, C:\Windows\Temp, C:\Users
// and each profile. False for any other path, which inherits.
bool DefaultDescriptor(const std::wstring& upperPath, SimDescriptor* descriptor);

// What a new file (container false) or folder below one with this descriptor
// gets: its OI and CI entries, marked inherited, CREATOR OWNER and CREATOR
// GROUP taken by the owner, and its owner.
SimDescriptor InheritedDescriptor(const SimDescriptor& parent, bool container);

// Owner Administrators, full control for Administrators and SYSTEM only.
SimDescriptor AdminsOnlyDescriptor();

// Full control for the owner, as the program folders' CREATOR OWNER entry
// gives what an administrator makes in them; inherited.
SimAce CreatorOwnerAce(const std::string& owner);

// Modify rights for Users, passed to everything below.
SimAce UserWritableAce();

}  // namespace tavu::sim
