// The volumes and drive letters the simulated Windows presents for its disks.
//
// GPT: every partition but the Microsoft reserved one is a volume, except a
// basic-data partition with attribute bit 62 (hidden). MBR: types 0x07, 0x0B,
// 0x0C, 0x0E and 0x06 are volumes, hidden types are not. When a disk is added
// (machine start) its basic-data (GPT, without bit 63 or 62) and presented MBR
// volumes receive letters: C: the first basic-data or type 0x07 volume of the
// first fixed disk off the USB bus, whatever order the disks came in, the
// others the next free from D: upward. After a layout write
// a volume no longer presented disappears at once with its letter and folders,
// while a newly presented one arrives only after the arrival time has passed on
// the machine's clock (which moves only through the programs' own waits); with
// automatic mounting on, it then takes the first free letter when it is an MBR
// volume or a GPT basic-data volume without attribute bit 63. A volume locked,
// dismounted and taken offline stays listed, but no path reaches its files.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/volume_api.h"
#include "common/win_records.h"
#include "sim/core/faults.h"
#include "sim/core/handles.h"
#include "sim/formats/volume_files.h"
#include "sim/seam/disks.h"

namespace tavu::sim {

class SimVolumes : public VolumeApi {
 public:
  SimVolumes(SimDisks& disks, SimHandles& handles, SimFaults& faults)
      : disks_(disks), handles_(handles), faults_(faults) {}

  Handle FirstVolume(wchar_t* name, std::uint32_t capacity) override;
  bool NextVolume(Handle search, wchar_t* name, std::uint32_t capacity) override;
  bool CloseVolumeSearch(Handle search) override;
  Handle OpenVolume(const wchar_t* path, bool readAccess) override;
  Handle OpenVolumeForChange(const wchar_t* path) override;
  bool LockVolume(Handle volume) override;
  bool DismountVolume(Handle volume) override;
  bool OfflineVolume(Handle volume) override;
  bool GetExtents(Handle volume, void* buffer, std::uint32_t size) override;
  bool PathNames(const wchar_t* volumeName, wchar_t* buffer, std::uint32_t capacity,
                 std::uint32_t* needed) override;
  bool SetMountPoint(const wchar_t* root, const wchar_t* volumeName) override;
  std::uint32_t DriveStrings(std::uint32_t capacity, wchar_t* buffer) override;
  bool VolumeLabel(const wchar_t* root, wchar_t* label, std::uint32_t capacity) override;
  bool FileSystemName(const wchar_t* root, wchar_t* name, std::uint32_t capacity) override;
  bool FreeSpace(const wchar_t* root, std::uint64_t* freeBytes, std::uint64_t* totalBytes) override;
  std::uint32_t DeviceName(const wchar_t* dosName, wchar_t* buffer, std::uint32_t capacity) override;

  // Recomputes which partitions are presented. autoMountNew: newly presented
  // volumes get letters by the machine-start rule (used when disks are added);
  // otherwise they get none.
  void Refresh(bool autoMountNew);
  // What a layout write on a disk causes (wired to SimDisks by the machine).
  void RefreshAfterLayoutWrite(int disk);

  // The machine's clock in milliseconds, which decides when volumes arrive.
  void SetClock(std::function<std::uint64_t()> now) { now_ = std::move(now); }
  // How long after the table write a newly presented partition arrives.
  void SetArrivalMilliseconds(std::uint32_t ms) { arrivalMs_ = ms; }
  // Whether the mount manager letters an arriving volume (mountvol /N: off).
  void SetAutomount(bool on) { automount_ = on; }
  // Volumes still to arrive, and the clock time the last of them is due.
  std::size_t PendingArrivals() const { return pending_.size(); }
  std::uint64_t LastArrivalDue() const;
  // Volumes that arrived after a table write, in order.
  struct Arrival {
    std::wstring volume;
    int disk = -1;
    std::int64_t offset = 0;
    std::uint64_t afterMilliseconds = 0;  // since the write that presented it
    std::uint64_t at = 0;                 // the machine's clock when it arrived
    wchar_t letter = 0;                   // given by automatic mounting
  };
  const std::vector<Arrival>& arrivals() const { return arrivals_; }

  // What a test or tavu-sim inspects.
  struct Info {
    std::wstring name;  // "\\?\Volume{GUID}\"
    int disk = -1;      // -1 for a volume added with AddForeignVolume
    std::int64_t offset = 0;
    std::int64_t length = 0;
    wchar_t letter = 0;  // 0: none
    std::vector<std::wstring> folders;
    int device = 0;  // N of \Device\HarddiskVolumeN
    bool offline = false;
  };
  std::vector<Info> Volumes();
  // The volume of a partition; empty name when it is not presented.
  Info VolumeOf(int disk, std::int64_t offset);
  // The volume whose files a path reaches: "\\?\GLOBALROOT\Device\HarddiskVolumeN\...",
  // "\\?\Volume{GUID}\..." or "X:\..." (any letter but C:, whose files are the
  // host folder's). Volume: *info and *rest (the path within the volume, from
  // its root) set. NotVolume: a path of C: or of no volume form. Unknown: the
  // form of a volume path naming no volume present.
  enum class FilePath : std::uint8_t { NotVolume, Volume, Unknown };
  FilePath VolumeOfPath(const wchar_t* path, Info* info, std::wstring* rest);
  // Letters given by SetMountPoint, in order: volume name and root ("E:\").
  struct Assignment {
    std::wstring volume;
    std::wstring root;
  };
  const std::vector<Assignment>& assignments() const { return assignments_; }

  // Test hooks.
  // A volume outside the simulated disks (a card reader, a network-less
  // virtual drive): letter (0 for none), label, extents, and whether the volume
  // enumeration lists it. Returns its name; empty when the letter is taken.
  std::wstring AddForeignVolume(wchar_t letter, const std::wstring& label,
                                const std::vector<DISK_EXTENT>& extents, bool enumerated = true);
  // A folder mount point ("C:\Mount\Data\") of a volume. False if no such volume.
  bool AddFolderMount(const std::wstring& volumeName, const std::wstring& folder);
  // One more extent for a volume (a spanned volume).
  bool AddExtent(const std::wstring& volumeName, const DISK_EXTENT& extent);
  // Takes a letter away from whatever volume holds it.
  void RemoveLetter(wchar_t letter);

  // The drive of an empty card-reader slot on disk: listed, with the first
  // free letter from D: (C: is the system's), and every question about its
  // medium answered ERROR_NOT_READY. Its label query first calls the prompt,
  // which stands for the box Windows shows unless the program asked it not to.
  std::wstring AddCardReader(int disk);
  void SetNoMediaPrompt(std::function<void(int disk)> prompt) { noMediaPrompt_ = std::move(prompt); }

 private:
  struct Volume {
    std::uint64_t id = 0;
    std::wstring name;
    bool foreign = false;
    bool enumerated = true;
    int disk = -1;
    std::int64_t offset = 0;
    std::int64_t length = 0;
    std::vector<DISK_EXTENT> extraExtents;
    std::vector<DISK_EXTENT> foreignExtents;
    std::wstring foreignLabel;
    wchar_t letter = 0;
    std::vector<std::wstring> folders;
    int noMediaDisk = -1;  // the card-reader slot's disk number
    int device = 0;
    // Lettered by the rule of machine start, and of a kind Windows can run
    // from (GPT basic data, MBR type 0x07).
    bool startLettered = false;
    bool windowsKind = false;
    // Taken offline: until the machine restarts no file, root or label of it
    // can be reached, though the enumeration still lists it and its device
    // still opens.
    bool offline = false;
  };
  enum class NewVolumes : std::uint8_t { NoLetter, StartRule, Arrive };
  // A volume's label as last read from its disk.
  struct VolumeHandle;
  struct SearchHandle;

  // onlyDisk -1: every disk.
  void Recompute(NewVolumes rule, int onlyDisk = -1);
  // Brings in every volume whose arrival time has come.
  void Arrive();
  std::uint64_t Now() const { return now_ ? now_() : 0; }
  void AddDiskVolume(int disk, const PARTITION_INFORMATION_EX& entry, std::uint32_t style, wchar_t letter);
  // The volume a device path ("\\.\E:", "\\?\Volume{GUID}") names; null
  // with the last error set.
  Volume* ByDevicePath(const wchar_t* path);
  Handle OpenDevice(const wchar_t* path, bool forChange);
  // The volume behind a handle from OpenVolumeForChange, for op.
  Volume* ForChange(Handle volume, SimOp op, std::uint32_t error, VolumeHandle** handle);
  Volume* ByName(const wchar_t* name, bool trailingBackslash);
  Volume* ByLetter(wchar_t letter);
  Volume* ById(std::uint64_t id);
  Volume* ByRoot(const wchar_t* root);
  wchar_t FirstFreeLetter() const;
  // The volume a root names, ready for GetVolumeInformationW-like questions:
  // null with the last error set when it cannot answer.
  Volume* AnsweringVolume(const wchar_t* root);
  // Its file system as The Sleuth Kit reads it, read again after a write.
  const VolumeFacts& FactsOf(const Volume& v);
  // The letters of machine start, for every disk there is: C: for the first
  // volume of a kind Windows runs from on the first fixed disk off the USB
  // bus, then the next free from D: upward in disk and table order.
  void LetterAtStart();
  bool LetterInUse(wchar_t letter) const;
  std::wstring MakeName(int disk, const PARTITION_INFORMATION_EX& entry, std::uint32_t style) const;

  // Looked up with a view of the caller's text, so a lookup allocates nothing.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::wstring_view key) const { return std::hash<std::wstring_view>{}(key); }
  };
  struct VolumeIndex {
    std::unordered_map<std::wstring, std::size_t, KeyHash, std::equal_to<>> byName;
    std::unordered_map<std::uint64_t, std::size_t> byId;
  };
  // Rebuilt after volumes go; a new one is added to it.
  const VolumeIndex& Index();
  void Indexed(std::size_t at);
  VolumeIndex index_;
  bool indexValid_ = false;
  // Where the last lookup by name found its volume.
  std::size_t lastFound_ = 0;
  // The names a volume search hands out, in order, taken when a search starts;
  // shared by every search until a volume comes or goes.
  using NameList = std::vector<std::wstring>;
  std::shared_ptr<const NameList> Listed();
  std::shared_ptr<NameList> listed_;

  SimDisks& disks_;
  SimHandles& handles_;
  SimFaults& faults_;
  std::vector<Volume> volumes_;
  struct CachedFacts {
    std::uint64_t writeCount = 0;
    std::int64_t length = 0;
    VolumeFacts facts;
  };
  std::map<std::pair<int, std::int64_t>, CachedFacts> facts_;
  std::uint64_t nextId_ = 1;
  // Windows numbers volume devices in the order they arrive and never hands a
  // number out twice while it runs.
  int nextDevice_ = 1;
  static Info InfoOf(const Volume& v) {
    return Info{v.name, v.disk, v.offset, v.length, v.letter, v.folders, v.device, v.offline};
  }
  std::vector<Assignment> assignments_;
  std::function<void(int)> noMediaPrompt_;
  std::function<std::uint64_t()> now_;
  std::uint32_t arrivalMs_ = 300;
  bool automount_ = true;
  struct Pending {
    int disk;
    std::int64_t offset;
    std::uint64_t written;
    std::uint64_t due;
  };
  std::vector<Pending> pending_;
  std::vector<Arrival> arrivals_;
};

}  // namespace tavu::sim
