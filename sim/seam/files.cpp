#include "sim/seam/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cstdio>
#include <memory>
#include <vector>

#include "common/pending_renames.h"
#include "common/win_errors.h"
#include "sim/core/last_error.h"
#include "sim/core/operation.h"
#include "sim/core/text.h"
#include "sim/formats/volume_files.h"
#include "sim/seam/file_acls.h"

namespace tavu::sim {

namespace {

// The files whose every change survives a power cut as a change of the
// machine: the arming's journal, and the launcher's own files, which the
// logon task starts.
enum class KeptFile : std::uint8_t { None, Journal, Launcher };
KeptFile KeptFileOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::wstring name = AsciiUpper(slash == std::wstring::npos ? path : path.substr(slash + 1));
  if (name == L"TAVU RECOVERY.JOURNAL") return KeptFile::Journal;
  if (name == L"TAVU RECOVERY.EXE" || name == L"TAVU RECOVERY.EXE.NEW" || name == L"TAVU RECOVERY.EXE.OLD")
    return KeptFile::Launcher;
  return KeptFile::None;
}



struct SimFile : SimObject {
  int fd = -1;
  std::string hostPath;
  bool written = false;
  bool pinned = false;
  // A file of another volume than C:, read through its file system.
  std::unique_ptr<VolumeFile> volumeFile;
  std::uint64_t position = 0;
  ~SimFile() override {
    if (fd >= 0) ::close(fd);
  }
};

struct SimFileSearch : SimObject {};

std::uint32_t ErrnoToWin(int e) {
  switch (e) {
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ELOOP:
      return kErrorAccessDenied;
    case EEXIST:
      return kErrorFileExists;
    default:
      return kErrorGenFailure;
  }
}

bool ParentExists(const std::string& host) {
  auto slash = host.rfind('/');
  if (slash == std::string::npos) return false;
  struct stat st {};
  return ::stat(host.substr(0, slash).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool SimFiles::Host(const wchar_t* path, std::string* host, HostKind* kind) const {
  return path != nullptr && paths_.ToHost(system_.wow64().Redirect(paths_.Absolute(path)), host, kind);
}

bool SimFiles::HeldByScanner(const std::string& host) const {
  auto it = heldUntil_.find(host);
  return it != heldUntil_.end() && system_.elapsedMilliseconds() < it->second;
}

bool SimFiles::OpenTarget(const wchar_t* path, std::string* host, HostKind* kind) {
  if (!Host(path, host, kind)) return Failed(kErrorPathNotFound);
  if (Refused(faults_, SimOp::FileOpen, kErrorAccessDenied)) return false;
  // A path found as it stands has its folder; only a new name needs the check.
  if (*kind == HostKind::Unknown && !ParentExists(*host)) return Failed(kErrorPathNotFound);
  return true;
}

Handle SimFiles::AddFile(int fd, const std::string& host) {
  auto file = std::make_unique<SimFile>();
  file->fd = fd;
  file->hostPath = host;
  SetLastError(kErrorSuccess);
  return handles_.Add(std::move(file));
}

Handle SimFiles::OpenFile(const wchar_t* path, FileAccess access, FileCreate create, FileSecurity security) {
  bool wantsWrite =
      access == FileAccess::Write || access == FileAccess::ReadWrite || access == FileAccess::Append;
  std::unique_ptr<VolumeFile> volumeFile;
  if (const std::uint32_t error = VolumePath(path, &volumeFile); error != kNotVolumePath) {
    if (Refused(faults_, SimOp::FileOpen, kErrorAccessDenied)) return kInvalidHandle;
    const bool creates = create == FileCreate::CreateAlways || create == FileCreate::CreateNew ||
                         (create == FileCreate::OpenAlways && error == kErrorFileNotFound);
    std::uint32_t outcome = error;
    // A folder on the way that is missing is found missing before anything is written.
    if (error != kErrorPathNotFound && (wantsWrite || creates)) outcome = kErrorWriteProtect;
    // As on C:, a folder opened for data without backup semantics is refused.
    if (outcome == kErrorSuccess && volumeFile->directory() && access != FileAccess::None)
      outcome = kErrorAccessDenied;
    if (outcome != kErrorSuccess) {
      SetLastError(outcome);
      return kInvalidHandle;
    }
    auto file = std::make_unique<SimFile>();
    file->volumeFile = std::move(volumeFile);
    SetLastError(kErrorSuccess);
    return handles_.Add(std::move(file));
  }
  std::string host;
  HostKind kind = HostKind::Unknown;
  if (!OpenTarget(path, &host, &kind)) return kInvalidHandle;
  // The loader holds a running program's file without write sharing.
  if (wantsWrite && (Running(host) || Pinned(host, false))) {
    SetLastError(kErrorSharingViolation);
    return kInvalidHandle;
  }
  if (wantsWrite && readOnly_.count(host) != 0 && readOnly_[host]) {
    SetLastError(kErrorAccessDenied);
    return kInvalidHandle;
  }
  int flags = O_CLOEXEC;
  switch (access) {
    case FileAccess::None:
    case FileAccess::Read:
      flags |= O_RDONLY;
      break;
    case FileAccess::Write:
      flags |= O_WRONLY;
      break;
    case FileAccess::ReadWrite:
      flags |= O_RDWR;
      break;
    case FileAccess::Append:
      flags |= O_WRONLY | O_APPEND;
      break;
  }
  switch (create) {
    case FileCreate::OpenExisting:
      break;
    case FileCreate::CreateAlways:
      flags |= O_CREAT | O_TRUNC;
      break;
    // Windows' CREATE_NEW never follows a planted link: O_EXCL does the same.
    case FileCreate::CreateNew:
      flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
      break;
    case FileCreate::OpenAlways:
      flags |= O_CREAT;
      break;
  }
  if (wantsWrite || create != FileCreate::OpenExisting) {
    const std::wstring absolute = paths_.Absolute(path);
    const KeptFile kept = KeptFileOf(absolute);
    if (kept != KeptFile::None &&
        !faults_.PersistentWrite(kept == KeptFile::Journal ? "journal: written" : "write " + Narrow(absolute))) {
      SetLastError(kErrorNotReady);
      return kInvalidHandle;
    }
  }
  struct stat before {};
  const bool existed = ::lstat(host.c_str(), &before) == 0;
  int fd = ::open(host.c_str(), flags, 0644);
  const int openError = errno;
  // A kept file's data written after this may be cut off: a torn file.
  faults_.WriteDone();
  if (fd < 0) {
    SetLastError(ErrnoToWin(openError));
    return kInvalidHandle;
  }
  if (!existed) userOwned_.erase(host);
  struct stat st {};
  if (kind != HostKind::File && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && access != FileAccess::None) {
    ::close(fd);
    SetLastError(kErrorAccessDenied);
    return kInvalidHandle;
  }
  if (security == FileSecurity::AdminsOnly) adminsOnly_[host] = true;
  return AddFile(fd, host);
}

Handle SimFiles::OpenNameItself(const wchar_t* path) {
  if (const std::uint32_t error = VolumeChange(path); error != kNotVolumePath) {
    SetLastError(error);
    return kInvalidHandle;
  }
  std::string host;
  HostKind kind = HostKind::Unknown;
  if (!OpenTarget(path, &host, &kind)) return kInvalidHandle;
  if (Running(host)) {
    SetLastError(kErrorSharingViolation);
    return kInvalidHandle;
  }
  if (readOnly_.count(host) != 0 && readOnly_[host]) {
    SetLastError(kErrorAccessDenied);
    return kInvalidHandle;
  }
  // A file opens for reading and appending. A symbolic link opens as the link
  // itself (O_PATH), its target untouched: it holds no data to read or write,
  // as a Windows link opened by its reparse point holds none. A folder fails
  // with EISDIR, as CreateFileW fails on one without backup semantics.
  int fd = ::open(host.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ELOOP) fd = ::open(host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(ErrnoToWin(errno));
    return kInvalidHandle;
  }
  return AddFile(fd, host);
}

bool SimFiles::Identify(Handle file, FileIdentity* identity) {
  SimFile* f = Enter<SimFile>(handles_, faults_, file, SimOp::FileIdentify);
  if (f == nullptr) return false;
  if (f->volumeFile != nullptr) {
    *identity = FileIdentity{};
    identity->directory = f->volumeFile->directory();
    identity->links = 1;
    identity->ownerTrusted = true;
    return true;
  }
  struct stat st {};
  if (::fstat(f->fd, &st) != 0) return Failed(ErrnoToWin(errno));
  identity->reparsePoint = S_ISLNK(st.st_mode);
  identity->directory = S_ISDIR(st.st_mode);
  identity->links = static_cast<std::uint32_t>(st.st_nlink);
  identity->ownerTrusted = userOwned_.count(f->hostPath) == 0;
  return true;
}

bool SimFiles::Read(Handle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  if (read != nullptr) *read = 0;
  SimFile* f = Enter<SimFile>(handles_, faults_, file, SimOp::FileRead);
  if (f == nullptr) return false;
  if (f->volumeFile != nullptr) {
    std::uint32_t n = 0;
    if (!f->volumeFile->ReadAt(f->position, buffer, size, &n)) return Failed(kErrorGenFailure);
    f->position += n;
    if (read != nullptr) *read = n;
    return true;
  }
  ssize_t n = ::read(f->fd, buffer, size);
  if (n < 0) {
    SetLastError(ErrnoToWin(errno));
    return false;
  }
  if (read != nullptr) *read = static_cast<std::uint32_t>(n);
  return true;
}

bool SimFiles::Write(Handle file, const void* data, std::uint32_t size, std::uint32_t* written) {
  if (written != nullptr) *written = 0;
  SimFile* f = Enter<SimFile>(handles_, faults_, file, SimOp::FileWrite);
  if (f == nullptr) return false;
  // Opened for reading only.
  if (f->volumeFile != nullptr) return Failed(kErrorAccessDenied);
  ssize_t n = ::write(f->fd, data, size);
  if (n < 0) {
    SetLastError(ErrnoToWin(errno));
    return false;
  }
  f->written = true;
  if (written != nullptr) *written = static_cast<std::uint32_t>(n);
  return true;
}

bool SimFiles::Seek(Handle file, std::uint64_t offset) {
  SimFile* f = Enter<SimFile>(handles_, faults_, file, SimOp::FileSeek);
  if (f == nullptr) return false;
  if (f->volumeFile != nullptr) {
    f->position = offset;
    return true;
  }
  return ::lseek(f->fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool SimFiles::Size(Handle file, std::uint64_t* size) {
  SimFile* f = Enter<SimFile>(handles_, faults_, file, SimOp::FileSize);
  if (f == nullptr) return false;
  if (f->volumeFile != nullptr) {
    *size = f->volumeFile->size();
    return true;
  }
  struct stat st {};
  if (::fstat(f->fd, &st) != 0) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool SimFiles::Flush(Handle file) {
  SimFile* f = Enter<SimFile>(handles_, faults_, file, SimOp::FileFlush);
  if (f == nullptr) return false;
  if (f->volumeFile != nullptr) return Failed(kErrorAccessDenied);
  return ::fsync(f->fd) == 0;
}

bool SimFiles::Close(Handle handle) {
  std::string written;
  {
    std::unique_ptr<SimObject> object = handles_.Take(handle, HandleKind::Kernel);
    if (object == nullptr) {
      SetLastError(kErrorInvalidHandle);
      return false;
    }
    auto* f = dynamic_cast<SimFile*>(object.get());
    if (f != nullptr && f->written) written = f->hostPath;
    if (f != nullptr && f->pinned) {
      auto it = pins_.find(f->hostPath);
      if (it != pins_.end() && --it->second == 0) pins_.erase(it);
    }
  }
  if (!written.empty()) ScanAfterUse(written);
  return true;
}

void SimFiles::ScanAfterUse(const std::string& hostPath) {
  if (scanHold_ != 0) heldUntil_[hostPath] = system_.elapsedMilliseconds() + scanHold_;
}

bool SimFiles::MakeDirectories(const wchar_t* path) {
  if (const std::uint32_t error = VolumeChange(path); error != kNotVolumePath) return Failed(error);
  std::string host;
  HostKind kind = HostKind::Unknown;
  if (!Host(path, &host, &kind)) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  if (Refused(faults_, SimOp::DirCreate, kErrorAccessDenied)) return false;
  if (kind == HostKind::Directory) return true;
  // Each component was already matched without regard to case by ToHost; create
  // the missing tail one level at a time.
  std::size_t pos = paths_.root().size();
  while (pos != std::string::npos) {
    pos = host.find('/', pos + 1);
    std::string prefix = host.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
      SetLastError(ErrnoToWin(errno));
      return false;
    }
  }
  return true;
}

bool SimFiles::Remove(const wchar_t* path) {
  if (const std::uint32_t error = VolumeChange(path); error != kNotVolumePath) return Failed(error);
  std::string host;
  if (!Host(path, &host)) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  if (Refused(faults_, SimOp::FileRemove, kErrorAccessDenied)) return false;
  if (Running(host)) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  if (HeldByScanner(host) || Pinned(host, false)) {
    SetLastError(kErrorSharingViolation);
    return false;
  }
  if (const KeptFile kept = KeptFileOf(paths_.Absolute(path));
      kept != KeptFile::None &&
      !faults_.PersistentWrite(kept == KeptFile::Journal ? "journal: deleted"
                                                         : "delete " + Narrow(paths_.Absolute(path)))) {
    return Failed(kErrorNotReady);
  }
  const bool unlinked = ::unlink(host.c_str()) == 0;
  const int unlinkError = errno;
  faults_.WriteDone();
  if (!unlinked) {
    SetLastError(ErrnoToWin(unlinkError));
    return false;
  }
  adminsOnly_.erase(host);
  userOwned_.erase(host);
  if (afterRemove_) afterRemove_(host);
  return true;
}

// A host symbolic link stands for a Windows folder link, which
// RemoveDirectoryW removes itself.
bool SimFiles::RemoveFolder(const wchar_t* path) {
  std::string host;
  if (!Host(path, &host)) return Failed(kErrorPathNotFound);
  if (Refused(faults_, SimOp::FileRemove, kErrorAccessDenied)) return false;
  if (Pinned(host, false)) return Failed(kErrorSharingViolation);
  struct stat st {};
  if (::lstat(host.c_str(), &st) != 0) return Failed(ErrnoToWin(errno));
  if (S_ISLNK(st.st_mode)) {
    struct stat target {};
    if (::stat(host.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) return Failed(kErrorDirectory);
    if (::unlink(host.c_str()) != 0) return Failed(ErrnoToWin(errno));
  } else if (!S_ISDIR(st.st_mode)) {
    return Failed(kErrorDirectory);
  } else if (::rmdir(host.c_str()) != 0) {
    return Failed(errno == ENOTEMPTY || errno == EEXIST ? kErrorDirNotEmpty : ErrnoToWin(errno));
  }
  userOwned_.erase(host);
  if (afterRemove_) afterRemove_(host);
  return true;
}

bool SimFiles::MoveReplace(const wchar_t* from, const wchar_t* to) {
  for (const wchar_t* path : {from, to}) {
    if (const std::uint32_t error = VolumeChange(path); error != kNotVolumePath) return Failed(error);
  }
  std::string hostFrom, hostTo;
  if (from == nullptr || to == nullptr || !Host(from, &hostFrom) || !Host(to, &hostTo)) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  if (Refused(faults_, SimOp::FileRename, kErrorAccessDenied)) return false;
  // The loader opens a program's file with delete sharing: the running file
  // may take another name, but nothing may take its place.
  if ((readOnly_.count(hostTo) != 0 && readOnly_[hostTo]) || Running(hostTo)) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  if (HeldByScanner(hostFrom) || HeldByScanner(hostTo) || Pinned(hostFrom, true) || Pinned(hostTo, true)) {
    SetLastError(kErrorSharingViolation);
    return false;
  }
  if (KeptFileOf(paths_.Absolute(from)) != KeptFile::None || KeptFileOf(paths_.Absolute(to)) != KeptFile::None) {
    const bool journal = KeptFileOf(paths_.Absolute(to)) == KeptFile::Journal;
    if (!faults_.PersistentWrite(journal ? std::string("journal: written")
                                         : "rename " + Narrow(paths_.Absolute(from)) + " -> " +
                                               Narrow(paths_.Absolute(to)))) {
      return Failed(kErrorNotReady);
    }
  }
  const bool renamed = ::rename(hostFrom.c_str(), hostTo.c_str()) == 0;
  const int renameError = errno;
  faults_.WriteDone();
  if (!renamed) {
    SetLastError(ErrnoToWin(renameError));
    return false;
  }
  heldUntil_.erase(hostFrom);
  if (Running(hostFrom)) {
    running_.erase(hostFrom);
    running_[hostTo] = true;
  }
  return true;
}

bool SimFiles::MoveAtRestart(const wchar_t* from, const wchar_t* to) {
  std::string hostFrom, hostTo;
  if (from == nullptr || !Host(from, &hostFrom) || (to != nullptr && !Host(to, &hostTo))) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  if (Refused(faults_, SimOp::RestartRename, kErrorAccessDenied)) return false;
  if (!faults_.PersistentWrite(to != nullptr ? "move at restart " + Narrow(paths_.Absolute(from)) + " -> " +
                                                   Narrow(paths_.Absolute(to))
                                             : "delete at restart " + Narrow(paths_.Absolute(from)))) {
    return Failed(kErrorNotReady);
  }
  restartMoves_.push_back(
      RestartMove{paths_.Absolute(from), to != nullptr ? paths_.Absolute(to) : std::wstring()});
  faults_.WriteDone();
  return true;
}

std::wstring SimFiles::PendingRenameOperations() const {
  std::wstring value;
  for (const RestartMove& m : restartMoves_) {
    value += L"*1\\??\\" + m.from + L'\0';
    if (!m.to.empty()) value += L"*1!\\??\\" + m.to;
    value += L'\0';
  }
  value += L'\0';
  return value;
}

bool SimFiles::MovePendingAtRestart(const wchar_t* from, const wchar_t* to) {
  if (from == nullptr) return false;
  const std::wstring value = PendingRenameOperations();
  return PendingMoveListed(value.data(), value.size(), paths_.Absolute(from).c_str(),
                           to != nullptr ? paths_.Absolute(to).c_str() : nullptr);
}

void SimFiles::Restart() {
  for (const RestartMove& m : restartMoves_) {
    std::string hostFrom, hostTo;
    // A move whose file is gone is passed over, as the session manager does.
    if (!paths_.ToHost(m.from, &hostFrom)) continue;
    if (m.to.empty()) {
      (void)::unlink(hostFrom.c_str());
    } else if (paths_.ToHost(m.to, &hostTo)) {
      (void)::rename(hostFrom.c_str(), hostTo.c_str());
    }
  }
  restartMoves_.clear();
  running_.clear();
  heldUntil_.clear();
}

bool SimFiles::Exists(const wchar_t* path) {
  std::unique_ptr<VolumeFile> volumeFile;
  if (const std::uint32_t error = VolumePath(path, &volumeFile); error != kNotVolumePath)
    return error == kErrorSuccess;
  std::string host;
  if (!Host(path, &host)) return false;
  struct stat st {};
  return ::stat(host.c_str(), &st) == 0;
}

bool SimFiles::IsReadOnly(const wchar_t* path) {
  std::string host;
  if (!Host(path, &host) || !Exists(path)) return false;
  auto it = readOnly_.find(host);
  return it != readOnly_.end() && it->second;
}

bool SimFiles::Pinned(const std::string& host, bool below) const {
  for (const auto& [pinned, count] : pins_) {
    if (count == 0) continue;
    if (pinned == host) return true;
    // A folder above a held file cannot be renamed either.
    if (below && pinned.size() > host.size() && pinned.compare(0, host.size(), host) == 0 &&
        pinned[host.size()] == '/')
      return true;
  }
  return false;
}

Handle SimFiles::Pin(const wchar_t* path) {
  std::string host;
  HostKind kind = HostKind::Unknown;
  if (!OpenTarget(path, &host, &kind)) return kInvalidHandle;
  int fd = ::open(host.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ELOOP) fd = ::open(host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(ErrnoToWin(errno));
    return kInvalidHandle;
  }
  auto file = std::make_unique<SimFile>();
  file->fd = fd;
  file->hostPath = host;
  file->pinned = true;
  ++pins_[host];
  SetLastError(kErrorSuccess);
  return handles_.Add(std::move(file));
}

bool SimFiles::WindowsPathOfHost(const std::string& host, std::wstring* path) const {
  char resolved[PATH_MAX];
  char root[PATH_MAX];
  if (::realpath(paths_.root().c_str(), root) == nullptr) return false;
  // The name itself is not followed (a held link is the link); its folders are.
  const std::size_t slash = host.rfind('/');
  if (slash == std::string::npos) return false;
  if (::realpath(host.substr(0, slash).c_str(), resolved) == nullptr) return false;
  std::string full = std::string(resolved) + host.substr(slash);
  const std::string base(root);
  if (full.compare(0, base.size(), base) != 0 || (full.size() > base.size() && full[base.size()] != '/'))
    return false;
  std::string rest = full.substr(base.size());
  for (char& c : rest) {
    if (c == '/') c = '\\';
  }
  *path = L"C:" + Widen(rest.empty() ? std::string("\\") : rest);
  return true;
}

bool SimFiles::FinalPath(Handle file, wchar_t* path, std::size_t capacity) {
  SimFile* f = Enter<SimFile>(handles_, faults_, file, SimOp::FileIdentify);
  if (f == nullptr) return false;
  std::wstring windows;
  if (f->volumeFile != nullptr || !WindowsPathOfHost(f->hostPath, &windows)) return Failed(kErrorInvalidParameter);
  if (path == nullptr || windows.size() + 1 > capacity) return Failed(kErrorInsufficientBuffer);
  std::wmemcpy(path, windows.c_str(), windows.size() + 1);
  return true;
}

bool SimFiles::SecurityOf(Handle file, SecurityFacts* facts) {
  *facts = SecurityFacts{};
  SimFile* f = Enter<SimFile>(handles_, faults_, file, SimOp::SecurityQuery);
  if (f == nullptr) return false;
  std::wstring windows;
  if (f->volumeFile != nullptr || !WindowsPathOfHost(f->hostPath, &windows)) return Failed(kErrorInvalidParameter);
  return Security(windows.c_str(), facts);
}

bool SimFiles::MakeAdminsOnlyFolder(const wchar_t* path) {
  std::string host;
  HostKind kind = HostKind::Unknown;
  if (!OpenTarget(path, &host, &kind)) return false;
  if (::mkdir(host.c_str(), 0755) != 0) return Failed(errno == EEXIST ? kErrorAlreadyExists : ErrnoToWin(errno));
  adminsOnly_[host] = true;
  userOwned_.erase(host);
  SetLastError(kErrorSuccess);
  return true;
}

bool SimFiles::ClearReadOnly(const wchar_t* path) {
  std::string host;
  if (!Host(path, &host) || !Exists(path)) return Failed(kErrorFileNotFound);
  if (Refused(faults_, SimOp::FileAttributes, kErrorAccessDenied)) return false;
  readOnly_.erase(host);
  return true;
}

namespace {

// Upper case, without trailing separators except a root's.
std::wstring AclKey(const std::wstring& absolute) {
  std::wstring key = AsciiUpper(absolute);
  while (key.size() > 3 && (key.back() == L'\\' || key.back() == L'/')) key.pop_back();
  return key;
}

void Copy(const std::string& from, char (&to)[kSidChars], bool* cut) {
  if (from.size() >= kSidChars) {
    *cut = true;
    return;
  }
  from.copy(to, from.size());
  to[from.size()] = '\0';
}

}  // namespace

void SimFiles::AddUserWritable(const std::wstring& folder) {
  userWritable_.push_back(AclKey(paths_.Absolute(folder)));
}

void SimFiles::SetAcl(const std::wstring& path, const SimDescriptor& descriptor) {
  acls_[AclKey(paths_.Absolute(path))] = descriptor;
}

bool SimFiles::DescriptorOf(const std::wstring& path, SimDescriptor* descriptor) const {
  const std::wstring key = AclKey(path);
  if (key.size() < 3 || key[1] != L':' || key[2] != L'\\') return false;
  // From the root down, one step per name: each step has its own descriptor
  // or inherits from the one above.
  std::vector<std::wstring> levels{key.substr(0, 3)};
  for (std::size_t i = 3; i < key.size(); ++i) {
    if (key[i] == L'\\') levels.push_back(key.substr(0, i));
  }
  if (key.size() > 3) levels.push_back(key);
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const std::wstring& level = levels[i];
    std::string host;
    HostKind kind = HostKind::Unknown;
    const bool onHost = paths_.ToHost(level, &host, &kind);
    auto own = acls_.find(level);
    if (own != acls_.end()) {
      *descriptor = own->second;
    } else if (!DefaultDescriptor(level, descriptor)) {
      if (ownerDefaultCreator_) descriptor->owner = kOwnerAccountSid;
      *descriptor = InheritedDescriptor(*descriptor, i + 1 < levels.size() || kind == HostKind::Directory);
      if (ownerDefaultCreator_) descriptor->aces.push_back(CreatorOwnerAce(kOwnerAccountSid));
    }
    for (const std::wstring& folder : userWritable_) {
      if (folder == level) descriptor->aces.push_back(UserWritableAce());
    }
    if (onHost && adminsOnly_.count(host) != 0) *descriptor = AdminsOnlyDescriptor();
    if (onHost && userOwned_.count(host) != 0) descriptor->owner = kOwnerAccountSid;
  }
  return true;
}

bool SimFiles::Security(const wchar_t* path, SecurityFacts* facts) {
  *facts = SecurityFacts{};
  if (path == nullptr) return Failed(kErrorInvalidParameter);
  if (Refused(faults_, SimOp::SecurityQuery, kErrorAccessDenied)) return false;
  SimDescriptor descriptor;
  if (!DescriptorOf(system_.wow64().Redirect(paths_.Absolute(path)), &descriptor))
    return Failed(kErrorPathNotFound);
  Copy(descriptor.owner, facts->owner, &facts->cut);
  facts->daclPresent = descriptor.daclPresent;
  // The query opens the name itself: a host symbolic link is a junction or
  // symbolic link of the simulated Windows, whatever it points to.
  std::string host;
  struct stat st {};
  facts->reparsePoint = Host(path, &host) && ::lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  for (const SimAce& ace : descriptor.aces) {
    if (facts->aceCount == kMaxAceFacts) {
      facts->cut = true;
      break;
    }
    AceFact& fact = facts->aces[facts->aceCount++];
    fact.type = ace.type;
    fact.flags = ace.flags;
    fact.mask = ace.mask;
    Copy(ace.sid, fact.sid, &facts->cut);
  }
  return true;
}

Handle SimFiles::FindFirst(const wchar_t* pattern) {
  if (pattern == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidHandle;
  }
  if (Refused(faults_, SimOp::FileFind, kErrorAccessDenied)) return kInvalidHandle;
  // On another volume a name is looked up as it stands; no program of ours
  // lists such a folder.
  std::unique_ptr<VolumeFile> volumeFile;
  if (const std::uint32_t error = VolumePath(pattern, &volumeFile); error != kNotVolumePath) {
    if (error != kErrorSuccess) {
      SetLastError(error);
      return kInvalidHandle;
    }
    return handles_.Add(std::make_unique<SimFileSearch>(), HandleKind::FileSearch);
  }
  std::wstring abs = system_.wow64().Redirect(paths_.Absolute(pattern));
  auto sep = abs.find_last_of(L"\\/");
  std::wstring dir = sep == std::wstring::npos ? L"" : abs.substr(0, sep);
  std::wstring mask = sep == std::wstring::npos ? abs : abs.substr(sep + 1);
  std::string hostDir;
  if (!paths_.ToHost(dir.empty() ? paths_.current() : dir, &hostDir)) {
    SetLastError(kErrorPathNotFound);
    return kInvalidHandle;
  }
  bool found = false;
  if (DIR* d = opendir(hostDir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      if (WildcardMatch(mask, Widen(name))) {
        found = true;
        break;
      }
    }
    closedir(d);
  }
  if (!found) {
    SetLastError(kErrorFileNotFound);
    return kInvalidHandle;
  }
  return handles_.Add(std::make_unique<SimFileSearch>(), HandleKind::FileSearch);
}

bool SimFiles::CloseFind(Handle find) {
  if (!handles_.Close(find, HandleKind::FileSearch)) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return true;
}

bool SimFiles::SetCurrentDir(const wchar_t* path) {
  std::string host;
  struct stat st {};
  if (!Host(path, &host) || ::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  if (Refused(faults_, SimOp::SetCurrentDir, kErrorAccessDenied)) return false;
  paths_.SetCurrent(paths_.Absolute(path));
  return true;
}

bool SimFiles::IsAdminsOnly(const std::string& hostPath) const {
  auto it = adminsOnly_.find(hostPath);
  return it != adminsOnly_.end() && it->second;
}

void SimFiles::SetReadOnly(const std::string& hostPath, bool readOnly) { readOnly_[hostPath] = readOnly; }

}  // namespace tavu::sim
