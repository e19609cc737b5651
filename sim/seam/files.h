// The simulated machine's files: drive C: is a real folder on the host.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/file_api.h"
#include "sim/core/faults.h"
#include "sim/core/handles.h"
#include "sim/core/paths.h"
#include "sim/core/sddl.h"
#include "sim/seam/system.h"

namespace tavu::sim {

class SimVolumes;
class SimDisks;
class VolumeFile;
class VolumeFileSystem;

class SimFiles : public FileApi {
 public:
  // The machine's system gives the WOW64 redirection of the calling thread
  // (every path is seen as a 32-bit program sees it) and the clock of Pause.
  SimFiles(SimPaths& paths, SimHandles& handles, SimFaults& faults, SimSystem& system)
      : paths_(paths), handles_(handles), faults_(faults), system_(system) {}

  Handle OpenFile(const wchar_t* path, FileAccess access, FileCreate create, FileSecurity security) override;
  Handle OpenNameItself(const wchar_t* path) override;
  bool Identify(Handle file, FileIdentity* identity) override;
  bool Read(Handle file, void* buffer, std::uint32_t size, std::uint32_t* read) override;
  bool Write(Handle file, const void* data, std::uint32_t size, std::uint32_t* written) override;
  bool Seek(Handle file, std::uint64_t offset) override;
  bool Size(Handle file, std::uint64_t* size) override;
  bool Flush(Handle file) override;
  bool Close(Handle handle) override;
  bool MakeDirectories(const wchar_t* path) override;
  bool Remove(const wchar_t* path) override;
  bool RemoveFolder(const wchar_t* path) override;
  bool MoveReplace(const wchar_t* from, const wchar_t* to) override;
  bool MoveAtRestart(const wchar_t* from, const wchar_t* to) override;
  bool MovePendingAtRestart(const wchar_t* from, const wchar_t* to) override;
  bool FlushRestartMoves() override { return !faults_.Fail(SimOp::RestartRename); }
  bool Exists(const wchar_t* path) override;
  bool IsReadOnly(const wchar_t* path) override;
  bool ClearReadOnly(const wchar_t* path) override;
  Handle Pin(const wchar_t* path) override;
  bool FinalPath(Handle file, wchar_t* path, std::size_t capacity) override;
  bool SecurityOf(Handle file, SecurityFacts* facts) override;
  bool MakeAdminsOnlyFolder(const wchar_t* path) override;
  bool Security(const wchar_t* path, SecurityFacts* facts) override;
  Handle FindFirst(const wchar_t* pattern) override;
  bool CloseFind(Handle find) override;
  bool SetCurrentDir(const wchar_t* path) override;

  // Files created with FileSecurity::AdminsOnly, by host path.
  bool IsAdminsOnly(const std::string& hostPath) const;
  // Who owns a file. A host symbolic link is a reparse point and a host file
  // with more than one name has that many links, as Windows shows them; the
  // owner is Administrators (the programs run elevated, and a file that was
  // there before the run is taken as theirs) unless a test marks the file, by
  // host path, as one a standard user left. A removed or newly created name
  // loses the mark.
  void SetUserOwned(const std::string& hostPath) { userOwned_[hostPath] = true; }
  // Host paths of files that are read-only for the simulated programs.
  void SetReadOnly(const std::string& hostPath, bool readOnly);

  // Runs after every successful Remove with the host path: a test stands in
  // for a user who plants the name again at once.
  void SetAfterRemove(std::function<void(const std::string&)> hook) { afterRemove_ = std::move(hook); }

  // An anti-malware scanner: every file a program wrote is opened by it when
  // its writer closes it, and every file a started program read once that
  // program has it (ScanAfterUse), and held for this many milliseconds of the
  // machine's clock without FILE_SHARE_DELETE: a rename or a delete of it
  // fails with ERROR_SHARING_VIOLATION until then. 0: none.
  void SetScanner(std::uint32_t holdMilliseconds) { scanHold_ = holdMilliseconds; }
  void ScanAfterUse(const std::string& hostPath);

  // A program running from this host path: its file can be read and
  // renamed (the mark follows it), but not replaced or deleted
  // (ERROR_ACCESS_DENIED), nor opened for writing (ERROR_SHARING_VIOLATION,
  // the loader's sharing), until Restart.
  void SetRunning(const std::string& hostPath) { running_[hostPath] = true; }
  // The moves asked for at the next restart, in order, as Windows paths; an
  // empty `to` for a deletion.
  struct RestartMove {
    std::wstring from;
    std::wstring to;
  };
  const std::vector<RestartMove>& restartMoves() const { return restartMoves_; }
  // What an earlier run left pending (a machine's state read back).
  void SetRestartMoves(std::vector<RestartMove> moves) { restartMoves_ = std::move(moves); }
  // The registry value PendingFileRenameOperations that holds them, in the
  // form Windows 10 22H2 and 11 write, with its final terminators.
  std::wstring PendingRenameOperations() const;
  // The machine restarts: the moves are carried out in order, nothing runs
  // and no scanner holds anything any more.
  void Restart();

  // A folder that standard users may write to, and everything in it: Users
  // get modify rights on it, passed to what lies below.
  void AddUserWritable(const std::wstring& folder);
  // A file or folder with a descriptor of its own; what lies below inherits
  // its OI and CI entries and its owner unless it has one too. Without one, a
  // path has Windows' own (sim/seam/file_acls.h). Security answers from where
  // a path lies, whether it exists or not; a file created admins-only has
  // that descriptor, and one marked SetUserOwned the owner's account as owner.
  void SetAcl(const std::wstring& path, const SimDescriptor& descriptor);
  // The policy "Default owner for objects created by members of the
  // Administrators group" set to "Object creator": what an elevated
  // administrator made (an installer's folders, whatever lay there before a
  // run) belongs to the owner's account, with the full control that the
  // program folders' CREATOR OWNER entry gives. Files made admins-only keep
  // Administrators as owner, as the programs ask explicitly.
  void SetOwnerDefaultCreator(bool creator) { ownerDefaultCreator_ = creator; }

  // The volumes whose files "\\?\GLOBALROOT\Device\HarddiskVolumeN\...",
  // "\\?\Volume{GUID}\..." and drive letters other than C: reach, read-only,
  // as their file systems hold them on the disk images.
  void SetVolumes(SimVolumes* volumes, SimDisks* disks) {
    volumes_ = volumes;
    disks_ = disks;
  }
  // A file or folder (path from the volume's root) that the volume of the
  // partition at this disk and offset no longer holds, whatever its image says.
  void HideOnVolume(int disk, std::int64_t offset, const std::wstring& path);

  // Host objects that Close and CloseFind dispatch to other components register here.
  SimHandles& handles() { return handles_; }

  // What the volume-path helpers answer for a path of C: (or no volume).
  static constexpr std::uint32_t kNotVolumePath = 0xFFFFFFFF;

 private:
  SimPaths& paths_;
  SimHandles& handles_;
  // The host path of a Windows path as the calling thread reaches it.
  bool Host(const wchar_t* path, std::string* host, HostKind* kind = nullptr) const;
  bool HeldByScanner(const std::string& host) const;
  // The common start of both opens: the host path, the counted operation, the
  // folder of a new name. False with the last error set.
  bool OpenTarget(const wchar_t* path, std::string* host, HostKind* kind);
  // A handle for an open host file descriptor.
  Handle AddFile(int fd, const std::string& host);

  // 0 with *file for a volume path that names a file or folder there; the
  // Windows error otherwise; kNotVolumePath for a path of C: (or no volume).
  std::uint32_t VolumePath(const wchar_t* path, std::unique_ptr<VolumeFile>* file);
  // The last error for a change asked of a volume path, or kNotVolumePath.
  std::uint32_t VolumeChange(const wchar_t* path);
  std::shared_ptr<VolumeFileSystem> FileSystemOf(int disk, std::int64_t offset, std::int64_t length);
  SimVolumes* volumes_ = nullptr;
  SimDisks* disks_ = nullptr;
  struct MountedVolume {
    std::uint64_t writeCount = 0;
    std::shared_ptr<VolumeFileSystem> fs;
  };
  std::map<std::pair<int, std::int64_t>, MountedVolume> mounted_;
  std::map<std::pair<int, std::int64_t>, std::vector<std::wstring>> hidden_;  // upper-cased, no leading '\'

  SimFaults& faults_;
  SimSystem& system_;
  std::uint32_t scanHold_ = 0;
  std::map<std::string, std::uint64_t> heldUntil_;
  std::map<std::string, bool> adminsOnly_;
  std::map<std::string, bool> readOnly_;
  std::map<std::string, bool> userOwned_;
  std::map<std::string, bool> running_;
  std::vector<std::wstring> userWritable_;      // upper-cased, absolute
  std::map<std::wstring, SimDescriptor> acls_;  // by upper-cased absolute path
  bool ownerDefaultCreator_ = false;
  // The descriptor of an absolute, redirected Windows path; false outside a drive.
  bool DescriptorOf(const std::wstring& path, SimDescriptor* descriptor) const;
  std::vector<RestartMove> restartMoves_;
  bool Running(const std::string& host) const { return running_.count(host) != 0; }
  // Held by Pin: no write, delete or rename of it, nor (below) of a folder above it.
  bool Pinned(const std::string& host, bool below) const;
  std::map<std::string, int> pins_;
  // The Windows path ("C:\\...") of a host path under the root, its folders resolved.
  bool WindowsPathOfHost(const std::string& host, std::wstring* path) const;
  std::function<void(const std::string&)> afterRemove_;
};

}  // namespace tavu::sim
