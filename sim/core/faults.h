// Fault injection for the simulated machine: every platform operation is counted,
// and any one of them (the k-th of a run, or every one of a kind) can be told to
// fail the way Windows would fail it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tavu::sim {

// The kinds of operation, listed once: the enum and the names that failure
// messages print both come from here.
#define TAVU_SIM_OPS(X)                                                                           \
  X(FileOpen) X(FileRead) X(FileWrite) X(FileSeek) X(FileSize) X(FileFlush) X(FileRename)          \
  X(FileRemove) X(DirCreate) X(FileFind) X(SetCurrentDir)                                          \
  X(DiskOpen) X(DiskRead) X(DiskGeometry) X(DiskLayoutQuery) X(DiskLayoutWrite) X(AdapterQuery)    \
  X(VolumeEnum) X(VolumeOpen) X(VolumeExtents) X(VolumeInfo) X(VolumePathNames) X(MountPoint)      \
  X(VolumeLock) X(VolumeDismount) X(VolumeOffline)                                                 \
  X(DriveStrings) X(ProcessStart) X(ProcessWait) X(ExitCode) X(WmiCall) X(TaskCall) X(ComRelease)  \
  X(FirmwareOpen) X(FirmwareCall) X(MessageBox) X(PostMessage) X(DebugOutput) X(ThreadStart)       \
  X(WindowClass) X(NamedMutex) X(ResourceLoad) X(VersionInfo) X(ComInit) X(ModulePath)             \
  X(RestartRename) X(RedirectionSwitch)                                                            \
  X(SecurityQuery) X(FileIdentify) X(Wow64Query) X(FileAttributes)

enum class SimOp : std::uint8_t {
#define TAVU_SIM_OP_ENUMERATOR(name) name,
  TAVU_SIM_OPS(TAVU_SIM_OP_ENUMERATOR)
#undef TAVU_SIM_OP_ENUMERATOR
};

inline constexpr const char* kSimOpNames[] = {
#define TAVU_SIM_OP_NAME(name) #name,
    TAVU_SIM_OPS(TAVU_SIM_OP_NAME)
#undef TAVU_SIM_OP_NAME
};
inline constexpr std::size_t kSimOpCount = sizeof(kSimOpNames) / sizeof(kSimOpNames[0]);

constexpr const char* SimOpName(SimOp op) {
  return static_cast<std::size_t>(op) < kSimOpCount ? kSimOpNames[static_cast<std::size_t>(op)] : "?";
}

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

  // Power cuts. What survives a cut is what was written to the disks, the
  // boot store, the task store, the firmware and the files by then: each such
  // write asks PersistentWrite first. After the n-th the power goes off: from
  // then on that call refuses every further write and every operation fails,
  // so the programs change nothing more, show nothing and start nothing.
  // n = 0 cuts when the first write is about to be made. The list of writes
  // starts anew.
  void CutPowerAfter(std::optional<std::uint64_t> n);
  // True when the write may be made (it is then recorded as `what`). The
  // caller makes it, then says WriteDone: a cut after this write falls
  // there, so the write itself is whole. (A caller that does not say so is
  // cut at its next write.)
  [[nodiscard]] bool PersistentWrite(const std::string& what);
  void WriteDone();
  bool PowerOff() const;
  // The machine is looked at after the cut (a report, the next start): the
  // operations work again; the writes stay as they were.
  void PowerOn();
  std::vector<std::string> persistentWrites() const;
  std::optional<std::uint64_t> powerCutAfter() const;

 private:
  std::optional<std::uint64_t> cutAfter_;    // as asked, for reports
  std::optional<std::uint64_t> pendingCut_;  // until PowerOn
  bool powerOff_ = false;
  bool cutDue_ = false;
  std::vector<std::string> writes_;
  mutable std::mutex lock_;
  std::uint64_t count_ = 0;
  std::uint64_t failAt_ = 0;
  bool injected_ = false;
  SimOp injectedOp_ = SimOp::FileOpen;
  std::set<SimOp> failAll_;
};

}  // namespace tavu::sim
