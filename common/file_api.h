// Files, folders and search handles, in the terms the logic uses them.
// Method names avoid the names that <windows.h> turns into macros.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/platform.h"
#include "common/security_facts.h"

namespace tavu {

enum class FileAccess : std::uint8_t {
  None,  // existence probe: no data access
  Read,
  Write,
  ReadWrite,
  Append,  // every write lands at the end of the file
};

enum class FileCreate : std::uint8_t {
  OpenExisting,
  CreateAlways,  // create or truncate
  CreateNew,     // fail if the name exists (ERROR_FILE_EXISTS)
  OpenAlways,    // open or create, keep the contents
};

// Owned by Administrators, and only Administrators and SYSTEM may write the
// file; the binding gives it a security descriptor, the simulated machine
// records the flag.
enum class FileSecurity : std::uint8_t { Default, AdminsOnly };

// What an open handle's file is, as GetFileInformationByHandle and the owner
// in its security descriptor tell it.
struct FileIdentity {
  bool reparsePoint = false;  // FILE_ATTRIBUTE_REPARSE_POINT: the link itself, not a target
  bool directory = false;
  std::uint32_t links = 0;  // nNumberOfLinks: names the same file has
  // The owner is Administrators (S-1-5-32-544) or SYSTEM (S-1-5-18), or the
  // program's own account where its token does not give new files to
  // Administrators: someone at least as trusted as the program.
  bool ownerTrusted = false;
};

class FileApi {
 public:
  virtual ~FileApi() = default;

  // CreateFileW with share read and write. kInvalidHandle on failure, with LastError set.
  virtual Handle OpenFile(const wchar_t* path, FileAccess access, FileCreate create,
                          FileSecurity security = FileSecurity::Default) = 0;
  // CreateFileW(GENERIC_READ | FILE_APPEND_DATA, share read and write,
  // OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT): whatever the name itself is,
  // a link included, never the file a link points to. Every write lands at
  // the end. (This and Identify default to failing: small test fakes.)
  virtual Handle OpenNameItself(const wchar_t* path) {
    (void)path;
    return kInvalidHandle;
  }
  // GetFileInformationByHandle, and GetSecurityInfo(OWNER_SECURITY_INFORMATION).
  virtual bool Identify(Handle file, FileIdentity* identity) {
    (void)file;
    (void)identity;
    return false;
  }
  virtual bool Read(Handle file, void* buffer, std::uint32_t size, std::uint32_t* read) = 0;
  virtual bool Write(Handle file, const void* data, std::uint32_t size, std::uint32_t* written) = 0;
  virtual bool Seek(Handle file, std::uint64_t offset) = 0;
  virtual bool Size(Handle file, std::uint64_t* size) = 0;
  virtual bool Flush(Handle file) = 0;
  virtual bool Close(Handle handle) = 0;

  // SHCreateDirectoryExW: all missing parents; true also when it already exists.
  virtual bool MakeDirectories(const wchar_t* path) = 0;
  // DeleteFileW: never follows a link to another file; removes the link itself.
  virtual bool Remove(const wchar_t* path) = 0;
  // RemoveDirectoryW: an empty folder, or a folder link itself (never what it
  // leads to). ERROR_DIR_NOT_EMPTY for a folder that holds anything,
  // ERROR_DIRECTORY for a file. (A default: small test fakes.)
  virtual bool RemoveFolder(const wchar_t* path) {
    (void)path;
    return false;
  }
  // MoveFileExW(from, to, REPLACE_EXISTING | WRITE_THROUGH): one step, or nothing.
  virtual bool MoveReplace(const wchar_t* from, const wchar_t* to) = 0;
  // MoveFileExW(from, to, REPLACE_EXISTING | DELAY_UNTIL_REBOOT): Windows
  // moves the file when it next starts, before any program can hold the
  // target; a null `to` deletes it then. Only an administrator may ask.
  // (Defaults: small test fakes.)
  virtual bool MoveAtRestart(const wchar_t* from, const wchar_t* to) {
    (void)from;
    (void)to;
    return false;
  }
  // RegFlushKey on the Session Manager key that holds those moves: write
  // through does not reach a move asked for at restart. (A default.)
  virtual bool FlushRestartMoves() { return true; }
  // Whether that move (a deletion for a null `to`) is among the ones Windows
  // will carry out at the next start (PendingFileRenameOperations), names
  // compared without regard to case.
  virtual bool MovePendingAtRestart(const wchar_t* from, const wchar_t* to) {
    (void)from;
    (void)to;
    return false;
  }
  // PathFileExistsW.
  virtual bool Exists(const wchar_t* path) = 0;
  // GetFileAttributesW reports FILE_ATTRIBUTE_READONLY. False also when the
  // path does not exist. (A default, so that small test fakes need not care.)
  virtual bool IsReadOnly(const wchar_t* path) {
    (void)path;
    return false;
  }
  // CreateFileW(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
  // FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS): the name
  // itself, a link as the link. While the handle is open no one can write,
  // replace, rename or delete it, nor rename a folder above it; programs can
  // still read and run it. A folder is held with write sharing too, so that
  // files can be made in it. (Defaults: small test fakes refuse.)
  virtual Handle Pin(const wchar_t* path) {
    (void)path;
    return kInvalidHandle;
  }
  // GetFinalPathNameByHandleW(FILE_NAME_NORMALIZED | VOLUME_NAME_DOS) with
  // its "\\?\" taken off: the path the handle's file has now, every junction
  // on the way resolved.
  virtual bool FinalPath(Handle file, wchar_t* path, std::size_t capacity) {
    (void)file;
    (void)path;
    (void)capacity;
    return false;
  }
  // The owner, the DACL's entries and whether it is a reparse point, of the
  // file or folder an open handle holds (GetSecurityInfo, which needs
  // READ_CONTROL, as GENERIC_READ gives).
  virtual bool SecurityOf(Handle file, SecurityFacts* facts) {
    (void)file;
    *facts = SecurityFacts{};
    return false;
  }
  // CreateDirectoryW with O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY): a folder
  // that did not exist a moment before (ERROR_ALREADY_EXISTS for any name
  // taken, a link included), owned by Administrators whatever the policy.
  virtual bool MakeAdminsOnlyFolder(const wchar_t* path) {
    (void)path;
    return false;
  }
  // SetFileAttributesW without FILE_ATTRIBUTE_READONLY, the other attributes
  // kept. (A default: small test fakes refuse.)
  virtual bool ClearReadOnly(const wchar_t* path) {
    (void)path;
    return false;
  }
  // The owner and every entry of the DACL as Windows holds them, read from
  // the name itself (a junction or link is not followed, and is reported),
  // nothing weighed (common/trust_rules.h decides). False when the security
  // cannot be read. (A default, so that small test fakes need not care:
  // nothing known.)
  virtual bool Security(const wchar_t* path, SecurityFacts* facts) {
    (void)path;
    *facts = SecurityFacts{};
    return false;
  }
  // FindFirstFileW: kInvalidHandle when nothing matches. Closed with CloseFind.
  virtual Handle FindFirst(const wchar_t* pattern) = 0;
  virtual bool CloseFind(Handle find) = 0;
  // SetCurrentDirectoryW.
  virtual bool SetCurrentDir(const wchar_t* path) = 0;
};

}  // namespace tavu
