#include "common/trust_rules.h"

#include <cstring>

namespace tavu {

namespace {

// Generic rights as the file system maps them (FILE_GENERIC_*, FILE_ALL_ACCESS).
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kGenericExecute = 0x20000000u;
constexpr std::uint32_t kGenericAll = 0x10000000u;
// MAXIMUM_ALLOWED in an entry has no defined meaning; it is taken at its widest.
constexpr std::uint32_t kMaximumAllowed = 0x02000000u;
constexpr std::uint32_t kFileAllAccess = 0x001F01FFu;
constexpr std::uint32_t kFileGenericRead = 0x00120089u;
constexpr std::uint32_t kFileGenericWrite = 0x00120116u;
constexpr std::uint32_t kFileGenericExecute = 0x001200A0u;

const char* const kTrustedSids[] = {
    "S-1-5-18",                                                        // SYSTEM
    "S-1-5-32-544",                                                    // Administrators
    "S-1-5-80-956008885-3432591178-1520307224-2016616340-2017207637",  // TrustedInstaller
};

bool IsAllowType(std::uint8_t type) {
  return type == kAceAllowed || type == kAceAllowedCompound || type == kAceAllowedObject ||
         type == kAceAllowedCallback || type == kAceAllowedCallbackObject;
}

bool IsDenyType(std::uint8_t type) {
  return type == kAceDenied || type == kAceDeniedObject || type == kAceDeniedCallback ||
         type == kAceDeniedCallbackObject;
}

bool Terminated(const char* text) { return std::memchr(text, '\0', kSidChars) != nullptr; }

}  // namespace

bool TrustedSid(const char* sid, const SecurityFacts& facts) {
  if (sid == nullptr || sid[0] == '\0' || !Terminated(sid)) return false;
  for (const char* trusted : kTrustedSids) {
    if (std::strcmp(sid, trusted) == 0) return true;
  }
  // On Windows the programs give their own files an explicit Administrators
  // owner, so the creator buys nothing there; and under the policy that
  // leaves the creator as owner, that account is the one the owner's
  // unelevated programs, malware among them, run as.
  return facts.underWine && Terminated(facts.creator) && facts.creator[0] != '\0' &&
         std::strcmp(sid, facts.creator) == 0;
}

std::uint32_t FileRightsOf(std::uint32_t mask) {
  std::uint32_t rights =
      mask & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll | kMaximumAllowed);
  if ((mask & kGenericRead) != 0) rights |= kFileGenericRead;
  if ((mask & kGenericWrite) != 0) rights |= kFileGenericWrite;
  if ((mask & kGenericExecute) != 0) rights |= kFileGenericExecute;
  if ((mask & (kGenericAll | kMaximumAllowed)) != 0) rights |= kFileAllAccess;
  return rights;
}

std::uint32_t UntrustedChangeRights(const SecurityFacts& facts) {
  if (facts.cut || !facts.daclPresent || facts.aceCount > kMaxAceFacts || !TrustedSid(facts.owner, facts)) {
    return kChangeRights;
  }
  std::uint32_t rights = 0;
  for (std::uint32_t i = 0; i < facts.aceCount; ++i) {
    const AceFact& ace = facts.aces[i];
    // A deny entry grants nothing, and none is ever weighed against a grant:
    // the order of entries and group membership decide which one wins.
    if (IsDenyType(ace.type)) continue;
    if (!IsAllowType(ace.type)) return kChangeRights;
    // An inherit-only entry gives nothing on this file or folder; what it
    // gives below appears there as an inherited entry, which the test of
    // that file or folder reads.
    if ((ace.flags & kAceInheritOnly) != 0) continue;
    if (!TrustedSid(ace.sid, facts)) rights |= FileRightsOf(ace.mask) & kChangeRights;
  }
  return rights;
}

}  // namespace tavu
