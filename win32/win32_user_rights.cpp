// <windows.h> first: the other SDK headers build on it.
// clang-format off
#include <windows.h>
#include <aclapi.h>
// clang-format on

#include "win32/win32_user_rights.h"

#include "common/file_api.h"
#include "win32/local_security.h"

namespace tavu::win32 {

namespace {

// The groups that every standard user of the machine is in, or may act as.
// A grant to one named account is an administrator's deliberate choice for
// it, and the places where an account owns what it finds (its own profile)
// are refused by where they lie before their permissions are asked.
bool IsStandardUsersGroup(PSID sid) {
  static const WELL_KNOWN_SID_TYPE kGroups[] = {WinWorldSid,         WinAuthenticatedUserSid,
                                                WinBuiltinUsersSid,  WinInteractiveSid,
                                                WinBuiltinGuestsSid, WinAnonymousSid};
  for (WELL_KNOWN_SID_TYPE type : kGroups) {
    if (IsWellKnownSid(sid, type)) return true;
  }
  return false;
}

std::uint32_t FileRights(ACCESS_MASK mask) {
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  MapGenericMask(&mask, &mapping);
  return mask;
}

}  // namespace

bool UserRightsOf(const wchar_t* path, std::uint32_t* rights) {
  *rights = 0;
  LocalSecurityDescriptor security;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  DWORD error =
      GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, security.out());
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return false;
  }
  if (owner == nullptr || IsStandardUsersGroup(owner)) *rights |= kRightWriteDac | kRightWriteOwner;
  // No list at all lets everyone do everything.
  if (dacl == nullptr) {
    *rights |= FILE_ALL_ACCESS;
    return true;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    // Deny entries are not weighed against grants: a grant counts as given.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
      continue;
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if (IsStandardUsersGroup(sid)) *rights |= FileRights(allowed->Mask);
  }
  return true;
}

}  // namespace tavu::win32
