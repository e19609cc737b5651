#include "win32/win32_files.h"

// <windows.h> first: the other SDK headers build on it.
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>
// clang-format on

#include <cwchar>

#include "common/heap_block.h"
#include "common/pending_renames.h"
#include "win32/local_security.h"
#include "win32/registry_key.h"
#include "win32/win32_handle.h"
#include "win32/win32_security.h"

namespace tavu::win32 {

namespace {

// Holds PendingFileRenameOperations; the same key in both registry views.
constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

DWORD AccessMask(FileAccess access) {
  switch (access) {
    case FileAccess::None:
      return 0;
    case FileAccess::Read:
      return GENERIC_READ;
    case FileAccess::Write:
      return GENERIC_WRITE;
    case FileAccess::ReadWrite:
      return GENERIC_READ | GENERIC_WRITE;
    case FileAccess::Append:
      return FILE_APPEND_DATA | SYNCHRONIZE;
  }
  return 0;
}

DWORD Disposition(FileCreate create) {
  switch (create) {
    case FileCreate::OpenExisting:
      return OPEN_EXISTING;
    case FileCreate::CreateAlways:
      return CREATE_ALWAYS;
    case FileCreate::CreateNew:
      return CREATE_NEW;
    case FileCreate::OpenAlways:
      return OPEN_ALWAYS;
  }
  return OPEN_EXISTING;
}

// Not following a reparse point on the open of a new file keeps a planted
// link from redirecting what we write. A null psa: the folder's default security.
Handle Open(const wchar_t* path, FileAccess access, FileCreate create, SECURITY_ATTRIBUTES* psa) {
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (create == FileCreate::CreateNew) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE h = CreateFileW(path, AccessMask(access), FILE_SHARE_READ | FILE_SHARE_WRITE, psa,
                         Disposition(create), flags, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : h;
}

}  // namespace

Handle Win32Files::OpenFile(const wchar_t* path, FileAccess access, FileCreate create,
                            FileSecurity security) {
  if (security != FileSecurity::AdminsOnly) return Open(path, access, create, nullptr);
  // Owned by Administrators (BA), whatever the machine's policy gives new
  // files; protected DACL: full control for Administrators and SYSTEM (SY)
  // only, nothing inherited from a folder that ordinary users may write.
  LocalSecurityDescriptor sd(L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)");
  if (sd.get() == nullptr) return kInvalidHandle;
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof(sa);
  sa.lpSecurityDescriptor = sd.get();
  return Open(path, access, create, &sa);
}

// Without FILE_WRITE_DATA, Windows puts every write at the end of the file:
// an earlier line can never be overwritten through this handle. No
// FILE_SHARE_DELETE: while it is open, nobody renames or deletes the file.
Handle Win32Files::OpenNameItself(const wchar_t* path) {
  HANDLE h = CreateFileW(path, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : h;
}

namespace {

// The process's token, for queries; null when it cannot be opened.
OwnedHandle QueryToken() {
  HANDLE token = nullptr;
  return OwnedHandle(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ? token : nullptr);
}

// One value of the process token: TokenUser or TokenOwner, whose SID follows
// the record in the same buffer.
template <class Record>
class TokenValue {
 public:
  TokenValue(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    DWORD size = 0;
    ok_ = token != nullptr && GetTokenInformation(token, what, buffer_, sizeof buffer_, &size);
  }
  const Record* get() const { return ok_ ? reinterpret_cast<const Record*>(buffer_) : nullptr; }

 private:
  alignas(Record) BYTE buffer_[sizeof(Record) + SECURITY_MAX_SID_SIZE];
  bool ok_ = false;
};

// Elevated members of Administrators have their new files owned by the group,
// SYSTEM by itself. Only under Wine, which names the owner of every file of
// its Unix user after that account and gives the token no other owner, is
// the program's own account trusted too. On Windows the programs give their
// files an explicit owner; there, under the policy that leaves the creator
// as owner, the account is the one the owner's unelevated programs run as.
bool TrustedOwner(PSID owner) {
  if (owner == nullptr) return false;
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid))
    return true;
  if (!UnderWine()) return false;
  OwnedHandle token = QueryToken();
  TokenValue<TOKEN_OWNER> newFiles(token.get(), TokenOwner);
  TokenValue<TOKEN_USER> account(token.get(), TokenUser);
  return newFiles.get() != nullptr && account.get() != nullptr &&
         !IsWellKnownSid(newFiles.get()->Owner, WinBuiltinAdministratorsSid) &&
         EqualSid(owner, account.get()->User.Sid);
}

}  // namespace

// The owner needs READ_CONTROL, which GENERIC_READ carries.
bool Win32Files::Identify(Handle file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  PSID owner = nullptr;
  LocalSecurityDescriptor sd;
  DWORD r = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                            nullptr, sd.out());
  if (r != ERROR_SUCCESS) {
    SetLastError(r);
    return false;
  }
  identity->reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  identity->directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  identity->links = info.nNumberOfLinks;
  identity->ownerTrusted = TrustedOwner(owner);
  return true;
}

bool Win32Files::Read(Handle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  DWORD got = 0;
  BOOL ok = ReadFile(file, buffer, size, &got, nullptr);
  if (read != nullptr) *read = got;
  return ok != FALSE;
}

bool Win32Files::Write(Handle file, const void* data, std::uint32_t size, std::uint32_t* written) {
  DWORD put = 0;
  BOOL ok = WriteFile(file, data, size, &put, nullptr);
  if (written != nullptr) *written = put;
  return ok != FALSE;
}

bool Win32Files::Seek(Handle file, std::uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE;
}

bool Win32Files::Size(Handle file, std::uint64_t* size) {
  LARGE_INTEGER s;
  if (!GetFileSizeEx(file, &s)) return false;
  *size = static_cast<std::uint64_t>(s.QuadPart);
  return true;
}

bool Win32Files::Flush(Handle file) { return FlushFileBuffers(file) != FALSE; }

bool Win32Files::Close(Handle handle) { return CloseHandle(handle) != FALSE; }

bool Win32Files::MakeDirectories(const wchar_t* path) {
  int r = SHCreateDirectoryExW(nullptr, path, nullptr);
  return r == ERROR_SUCCESS || r == ERROR_ALREADY_EXISTS || r == ERROR_FILE_EXISTS;
}

bool Win32Files::Remove(const wchar_t* path) { return DeleteFileW(path) != FALSE; }

bool Win32Files::RemoveFolder(const wchar_t* path) { return RemoveDirectoryW(path) != FALSE; }

bool Win32Files::MoveReplace(const wchar_t* from, const wchar_t* to) {
  return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// Recorded under PendingFileRenameOperations; the session manager carries
// the move out early in the next start. Refused unless the caller is an
// administrator.
bool Win32Files::MoveAtRestart(const wchar_t* from, const wchar_t* to) {
  return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

// RegFlushKey asks for nothing beyond the right to read values.
bool Win32Files::FlushRestartMoves() {
  RegistryKey key(HKEY_LOCAL_MACHINE, kSessionManager, KEY_QUERY_VALUE);
  return key.get() != nullptr && RegFlushKey(key.get()) == ERROR_SUCCESS;
}

bool Win32Files::MovePendingAtRestart(const wchar_t* from, const wchar_t* to) {
  RegistryKey key(HKEY_LOCAL_MACHINE, kSessionManager, KEY_QUERY_VALUE);
  if (key.get() == nullptr) return false;
  DWORD type = 0;
  DWORD bytes = 0;
  const wchar_t* value = L"PendingFileRenameOperations";
  if (RegQueryValueExW(key.get(), value, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ || bytes == 0 || bytes > (1u << 24)) {
    return false;
  }
  // Two more terminators than the value claims: a list stored without its
  // final ones still ends inside the block.
  HeapBlock block = HeapBlock::Zeroed(bytes + 2 * sizeof(wchar_t));
  if (!block) return false;
  DWORD got = bytes;
  if (RegQueryValueExW(key.get(), value, nullptr, &type, block.As<BYTE>(), &got) != ERROR_SUCCESS)
    return false;
  return PendingMoveListed(block.As<wchar_t>(), got / sizeof(wchar_t), from, to);
}

bool Win32Files::Exists(const wchar_t* path) { return PathFileExistsW(path) != FALSE; }

bool Win32Files::IsReadOnly(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

Handle Win32Files::Pin(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  // Files are made in a held folder; a held file only ever read.
  const DWORD share = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                          ? FILE_SHARE_READ | FILE_SHARE_WRITE
                          : FILE_SHARE_READ;
  HANDLE h = CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : h;
}

bool Win32Files::FinalPath(Handle file, wchar_t* path, std::size_t capacity) {
  if (path == nullptr || capacity == 0 || capacity > 0x7FFFFFFF) return false;
  wchar_t found[MAX_PATH + 8];
  const DWORD n = GetFinalPathNameByHandleW(file, found, MAX_PATH + 8, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= MAX_PATH + 8) return false;
  // "\\?\C:\..." for a drive; anything else (a share) keeps its form.
  const wchar_t* plain = std::wcsncmp(found, L"\\\\?\\", 4) == 0 && found[5] == L':' ? found + 4 : found;
  const std::size_t length = std::wcslen(plain);
  if (length + 1 > capacity) return false;
  std::wmemcpy(path, plain, length + 1);
  return true;
}

bool Win32Files::SecurityOf(Handle file, SecurityFacts* facts) { return SecurityFactsOfHandle(file, facts); }

bool Win32Files::MakeAdminsOnlyFolder(const wchar_t* path) {
  // Owned by Administrators whatever the machine's policy gives new folders;
  // nothing inherited from a folder that ordinary users may write.
  LocalSecurityDescriptor sd(L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
  if (sd.get() == nullptr) return false;
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof(sa);
  sa.lpSecurityDescriptor = sd.get();
  return CreateDirectoryW(path, &sa) != FALSE;
}

bool Win32Files::ClearReadOnly(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
  // FILE_ATTRIBUTE_NORMAL is valid only alone.
  DWORD kept = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (kept == 0) kept = FILE_ATTRIBUTE_NORMAL;
  return SetFileAttributesW(path, kept) != FALSE;
}

bool Win32Files::Security(const wchar_t* path, SecurityFacts* facts) { return SecurityFactsOf(path, facts); }

Handle Win32Files::FindFirst(const wchar_t* pattern) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(pattern, &data);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : h;
}

bool Win32Files::CloseFind(Handle find) { return FindClose(find) != FALSE; }

bool Win32Files::SetCurrentDir(const wchar_t* path) { return SetCurrentDirectoryW(path) != FALSE; }

}  // namespace tavu::win32
