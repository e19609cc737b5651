// Whether anyone but Windows and its administrators may change a file or a
// folder, decided from its owner and permission entries alone: an allow-list
// of SYSTEM, Administrators and TrustedInstaller. Every other SID may be one
// that a standard user holds (LOCAL, CONSOLE LOGON, This Organization, Local
// account, a domain group, the user's own account), so none is weighed.
#pragma once

#include <cstdint>

#include "common/security_facts.h"

namespace tavu {

// Access rights of a file or folder, as Windows numbers them. On a folder the
// first two mean adding files and adding folders.
inline constexpr std::uint32_t kRightWriteData = 0x0002;    // FILE_WRITE_DATA, FILE_ADD_FILE
inline constexpr std::uint32_t kRightAppendData = 0x0004;   // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
inline constexpr std::uint32_t kRightWriteEa = 0x0010;      // FILE_WRITE_EA
inline constexpr std::uint32_t kRightWriteAttributes = 0x0100;  // FILE_WRITE_ATTRIBUTES
inline constexpr std::uint32_t kRightDeleteChild = 0x0040;  // FILE_DELETE_CHILD
inline constexpr std::uint32_t kRightDelete = 0x00010000;   // DELETE (also renaming)
inline constexpr std::uint32_t kRightWriteDac = 0x00040000;
inline constexpr std::uint32_t kRightWriteOwner = 0x00080000;
// Every right that changes, replaces or re-permits a file or what a folder
// holds. Attributes count: with them a user makes a file read-only, which
// keeps an old program in place, or sets a reparse point on an empty folder,
// which turns it into a junction to anywhere.
inline constexpr std::uint32_t kChangeRights = kRightWriteData | kRightAppendData | kRightWriteEa |
                                               kRightWriteAttributes | kRightDeleteChild | kRightDelete |
                                               kRightWriteDac | kRightWriteOwner;
// The rights on a folder by which others take away or swap what an
// administrator put in it. Adding files and folders is not among them: every
// user may add to C:\Windows\Temp, as Windows ships it.
inline constexpr std::uint32_t kRemoveRights = kRightDeleteChild | kRightDelete | kRightWriteDac | kRightWriteOwner;

// SYSTEM, Administrators or TrustedInstaller; under Wine also the facts'
// creator account.
bool TrustedSid(const char* sid, const SecurityFacts& facts);

// The file rights a mask gives, generic rights mapped as files map them.
std::uint32_t FileRightsOf(std::uint32_t mask);

// The change rights that someone outside the allow-list may hold: all of them
// for an untrusted owner (an owner may always rewrite the permissions), a null
// DACL, a cut report or an entry whose type is not known. 0: only Windows and
// its administrators may change it.
std::uint32_t UntrustedChangeRights(const SecurityFacts& facts);

}  // namespace tavu
