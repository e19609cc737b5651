// A file's or folder's owner and permission entries, as Windows reports them:
// the Win32 binding fills this in, the trust rules decide from it.
#pragma once

#include <cstdint>

namespace tavu {

// "S-1-" with a 48-bit authority and 15 sub-authorities of ten digits fits.
inline constexpr std::uint32_t kSidChars = 192;
// More entries than this are reported as cut, which no rule trusts.
inline constexpr std::uint32_t kMaxAceFacts = 48;

// ACE types and flags, numbered as in the ACE header.
inline constexpr std::uint8_t kAceAllowed = 0;
inline constexpr std::uint8_t kAceDenied = 1;
inline constexpr std::uint8_t kAceAllowedCompound = 4;
inline constexpr std::uint8_t kAceAllowedObject = 5;
inline constexpr std::uint8_t kAceDeniedObject = 6;
inline constexpr std::uint8_t kAceAllowedCallback = 9;
inline constexpr std::uint8_t kAceDeniedCallback = 10;
inline constexpr std::uint8_t kAceAllowedCallbackObject = 11;
inline constexpr std::uint8_t kAceDeniedCallbackObject = 12;
inline constexpr std::uint8_t kAceObjectInherit = 0x01;
inline constexpr std::uint8_t kAceContainerInherit = 0x02;
inline constexpr std::uint8_t kAceNoPropagate = 0x04;
inline constexpr std::uint8_t kAceInheritOnly = 0x08;
inline constexpr std::uint8_t kAceInherited = 0x10;

struct AceFact {
  std::uint8_t type = 0;
  std::uint8_t flags = 0;
  std::uint32_t mask = 0;
  char sid[kSidChars] = {};  // empty where the type's layout is not one the binding reads
};

struct SecurityFacts {
  char owner[kSidChars] = {};  // empty: none, or not readable
  bool daclPresent = false;    // false: a null DACL, which lets everyone do everything
  bool cut = false;            // more entries than fit, or a SID too long
  std::uint32_t aceCount = 0;
  AceFact aces[kMaxAceFacts];
  // The program's own account, when its token does not give new files to
  // Administrators (Wine, or a machine whose policy leaves the creator as
  // owner). Empty for an elevated program under Windows' defaults.
  char creator[kSidChars] = {};
  // Wine names every file of its Unix user after that account, so there the
  // program's own files cannot be told from others' and the creator counts.
  // Told by ntdll alone, never by anything the unelevated owner can set.
  bool underWine = false;
  // The name itself is a junction, symbolic link or mount point: what lies
  // behind it is somewhere else, with a path no walk up this one tests.
  bool reparsePoint = false;
};

}  // namespace tavu
