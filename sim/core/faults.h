// Fault injection for the simulated machine: every platform operation is counted,
// and any one of them (the k-th of a run, or every one of a kind) can be told to
// fail the way Windows would fail it.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>

namespace tavu::sim {

enum class SimOp : std::uint8_t {
  FileOpen, FileRead, FileWrite, FileSeek, FileSize, FileFlush, FileRename, FileRemove,
  DirCreate, FileFind, SetCurrentDir,
  DiskOpen, DiskRead, DiskGeometry, DiskLayoutQuery, DiskLayoutWrite, AdapterQuery,
  VolumeEnum, VolumeOpen, VolumeExtents, VolumeInfo, VolumePathNames, MountPoint, DriveStrings,
  ProcessStart, WmiCall, TaskCall, FirmwareOpen, FirmwareCall, MessageBox, ThreadStart,
  ResourceLoad, VersionInfo, ComInit, Other,
};

class SimFaults {
 public:
  // Counts one operation; true when this one is to fail.
  bool Fail(SimOp op);

  // Fail the k-th counted operation (1-based) from now on counting; 0: none.
  void FailNth(std::uint64_t k);
  // Every operation of this kind fails (or stops failing).
  void FailAll(SimOp op, bool on = true);
  void Reset();

  std::uint64_t Count() const;
  // The kind of the operation that was made to fail by FailNth, if it happened.
  bool Injected(SimOp* op) const;

 private:
  mutable std::mutex lock_;
  std::uint64_t count_ = 0;
  std::uint64_t failAt_ = 0;
  bool injected_ = false;
  SimOp injectedOp_ = SimOp::Other;
  std::set<SimOp> failAll_;
};

}  // namespace tavu::sim
