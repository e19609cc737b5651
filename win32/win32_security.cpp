// <windows.h> first: the other SDK headers build on it.
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include "win32/win32_security.h"

#include <cstddef>
#include <cstring>

#include "win32/local_security.h"
#include "win32/win32_handle.h"

namespace tavu::win32 {

namespace {

// Text that ConvertSidToStringSidW allocated with LocalAlloc.
class LocalText {
 public:
  LocalText() = default;
  ~LocalText() {
    if (text_ != nullptr) LocalFree(text_);
  }
  LocalText(const LocalText&) = delete;
  LocalText& operator=(const LocalText&) = delete;
  LPWSTR* out() { return &text_; }
  const wchar_t* get() const { return text_; }

 private:
  LPWSTR text_ = nullptr;
};

// A SID's string form, which is plain ASCII ("S-1-5-32-544"). False when it
// cannot be made or does not fit.
bool SidText(PSID sid, char (&out)[kSidChars]) {
  out[0] = '\0';
  if (sid == nullptr || !IsValidSid(sid)) return false;
  LocalText text;
  if (!ConvertSidToStringSidW(sid, text.out()) || text.get() == nullptr) return false;
  std::size_t i = 0;
  for (; text.get()[i] != L'\0'; ++i) {
    if (i + 1 >= kSidChars || text.get()[i] > 0x7F) {
      out[0] = '\0';
      return false;
    }
    out[i] = static_cast<char>(text.get()[i]);
  }
  out[i] = '\0';
  return true;
}

// Where the SID of an entry lies depends on its type: after the mask for the
// plain and callback types, after the object flags and the GUIDs they
// announce for the object types. Null for types whose layout is not read
// here (the compound type among them); the SID must end within the entry.
PSID SidOfAce(const ACE_HEADER* header) {
  const auto* base = reinterpret_cast<const BYTE*>(header);
  std::size_t offset = 0;
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
      offset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
      break;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE: {
      const std::size_t flagsAt = offsetof(ACCESS_ALLOWED_OBJECT_ACE, Flags);
      if (header->AceSize < flagsAt + sizeof(DWORD)) return nullptr;
      DWORD flags = 0;
      std::memcpy(&flags, base + flagsAt, sizeof flags);
      offset = flagsAt + sizeof(DWORD);
      if ((flags & ACE_OBJECT_TYPE_PRESENT) != 0) offset += sizeof(GUID);
      if ((flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0) offset += sizeof(GUID);
      break;
    }
    default:
      return nullptr;
  }
  // The fixed part of a SID (revision, count, authority) comes first.
  if (header->AceSize < offset + 8) return nullptr;
  auto sid = const_cast<BYTE*>(base + offset);
  const std::size_t subAuthorities = sid[1];
  if (offset + 8 + subAuthorities * sizeof(DWORD) > header->AceSize) return nullptr;
  return static_cast<PSID>(sid);
}

// The process's account, when its token does not give new files to
// Administrators: Wine names its token's owner after a group of the account
// and every file's owner after the account itself.
void CreatorOf(char (&out)[kSidChars]) {
  out[0] = '\0';
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return;
  OwnedHandle token(raw);
  alignas(TOKEN_OWNER) BYTE owner[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];
  alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenOwner, owner, sizeof owner, &size) ||
      !GetTokenInformation(token.get(), TokenUser, user, sizeof user, &size)) {
    return;
  }
  PSID newFiles = reinterpret_cast<const TOKEN_OWNER*>(owner)->Owner;
  PSID account = reinterpret_cast<const TOKEN_USER*>(user)->User.Sid;
  if (IsWellKnownSid(newFiles, WinBuiltinAdministratorsSid)) return;
  (void)SidText(account, out);
}

}  // namespace

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool SecurityFactsOf(const wchar_t* path, SecurityFacts* facts) {
  *facts = SecurityFacts{};
  // By handle, opened on the name itself: GetNamedSecurityInfoW would follow
  // a junction and report the folder behind it, whose parents no walk tests.
  OwnedHandle name(CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!name) return false;
  return SecurityFactsOfHandle(name.get(), facts);
}

bool SecurityFactsOfHandle(HANDLE file, SecurityFacts* facts) {
  *facts = SecurityFacts{};
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  facts->reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  LocalSecurityDescriptor security;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  DWORD error = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                &owner, nullptr, &dacl, nullptr, security.out());
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return false;
  }
  if (owner != nullptr && !SidText(owner, facts->owner)) facts->cut = true;
  CreatorOf(facts->creator);
  facts->underWine = UnderWine();
  // A null DACL (no list at all) is reported as such.
  facts->daclPresent = dacl != nullptr;
  if (dacl == nullptr) return true;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    if (i >= kMaxAceFacts) {
      facts->cut = true;
      break;
    }
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace) || ace == nullptr) {
      facts->cut = true;
      break;
    }
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    AceFact& fact = facts->aces[facts->aceCount++];
    fact.type = header->AceType;
    fact.flags = header->AceFlags;
    // Every type that carries a mask has it right after the header.
    if (header->AceSize >= sizeof(ACE_HEADER) + sizeof(ACCESS_MASK)) {
      std::memcpy(&fact.mask, static_cast<const BYTE*>(ace) + sizeof(ACE_HEADER), sizeof(ACCESS_MASK));
    }
    PSID sid = SidOfAce(header);
    if (sid != nullptr && !SidText(sid, fact.sid)) facts->cut = true;
  }
  return true;
}

}  // namespace tavu::win32
