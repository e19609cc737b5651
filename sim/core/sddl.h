// The part of Windows' security descriptor language that the simulated
// machine's files are described in: an owner, a group, a DACL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavu::sim {

struct SimAce {
  std::uint8_t type = 0;
  std::uint8_t flags = 0;
  std::uint32_t mask = 0;
  std::string sid;  // "S-1-5-32-544"
};

struct SimDescriptor {
  std::string owner;         // empty: none
  bool daclPresent = false;  // false: no DACL, which lets everyone do everything
  std::vector<SimAce> aces;
};

// Parses "O:sid G:sid D:flags(ace)(ace)..." without spaces. An ACE is
// "type;flags;rights;object;inherited object;sid" (a seventh field, the
// condition of a callback type, is passed over). Types A D OA OD XA XD ZA
// AU AL OU OL ML; flags OI CI NP IO ID SA FA; rights as a number (0x... or
// decimal) or as two-letter codes (FA FR FW FX GA GR GW GX SD RC WD WO and
// the directory-service letters); SIDs as "S-1-..." or an alias (BA SY BU AU
// WD IU LS NS CO CG and more). "D:NO_ACCESS_CONTROL" is a null DACL, and so
// is a descriptor without "D:". False, with a reason, for anything else.
bool ParseSddl(const std::string& text, SimDescriptor* descriptor, std::string* error);

// The SID string of an alias or a SID string checked for its form; empty
// when it is neither.
std::string SidOfSddl(const std::string& text);

}  // namespace tavu::sim
