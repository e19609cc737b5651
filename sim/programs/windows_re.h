// Windows RE as the simulated Windows has it configured: the boot store's
// loader (made with the listing), ReAgent.xml in System32\Recovery, and where
// Winre.wim lies.
#pragma once

#include <string>

#include "sim/programs/bcd_store.h"

namespace tavu::sim {

class SimMachine;

// "enabled", "disabled", "image-missing", "orphan".
bool ParseWinReState(const std::string& text, WinReState* state);

// The ReAgent.xml Windows writes for these facts: UTF-8 with a byte-order
// mark, CR LF line ends, attributes on every element. diskGuid: the GPT disk
// GUID in braces ("" on MBR, where mbrSignature names the disk).
std::string ReAgentXml(const BcdMachineFacts& facts, const std::wstring& diskGuid,
                       std::uint32_t mbrSignature);

// Puts the machine's Windows RE in that state, after its disks were added:
// the listing made from the disks shows it; ReAgent.xml is written under the
// 64-bit System32\Recovery (reagentText when given, else the one made for a
// GPT machine with a recovery partition; none on MBR) unless a file lies
// there already; ImageMissing hides \Recovery\WindowsRE\Winre.wim on the
// recovery partition; Disabled hides \Recovery\WindowsRE and puts its
// Winre.wim into System32\Recovery. False with *error when a file cannot be
// written.
bool ApplyWindowsRe(SimMachine& machine, WinReState state, const std::string* reagentText,
                    std::string* error);

}  // namespace tavu::sim
