// diskpart.exe on the simulated machine: runs a script of the commands the
// launcher writes (select disk, select partition, set id, active, inactive, remove) on
// whatever disks stand behind a SimDiskpartTarget.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavu::sim {

// The disks and volumes diskpart acts on. Partitions are named by the numbers
// Windows gives them in the drive layout.
class SimDiskpartTarget {
 public:
  virtual ~SimDiskpartTarget() = default;
  // 0 MBR, 1 GPT, 2 RAW; -1 when there is no such disk or it cannot be opened.
  virtual int DiskStyle(int disk) = 0;
  virtual bool HasPartition(int disk, int partition) = 0;
  // MBR only: the type byte, and the boot indicator on this partition alone.
  // False when the disk refuses the layout write.
  virtual bool SetMbrType(int disk, int partition, std::uint8_t type) = 0;
  virtual bool SetActive(int disk, int partition) = 0;
  // MBR only: this partition's boot indicator cleared, the others left alone.
  virtual bool SetInactive(int disk, int partition) {
    (void)disk;
    (void)partition;
    return false;
  }
  // The drive letter of the partition's volume; 0 when it has none. False when
  // the partition is not presented as a volume.
  virtual bool VolumeLetter(int disk, int partition, wchar_t* letter) = 0;
  virtual bool RemoveLetter(int disk, int partition) = 0;
  // How many volumes are offline: what a script run finds when it starts.
  virtual std::size_t OfflineVolumes() { return 0; }
  // A change of a partition table is about to be made (what: one line); false
  // when the power is gone and nothing more may be written.
  virtual bool Persist(const std::string& what) {
    (void)what;
    return true;
  }
  // That change is made (or refused): a power cut after it falls here.
  virtual void WriteDone() {}
};

// Exit codes diskpart documents.
inline constexpr std::uint32_t kDiskpartOk = 0;
inline constexpr std::uint32_t kDiskpartBadArguments = 2;
inline constexpr std::uint32_t kDiskpartNoScript = 3;
inline constexpr std::uint32_t kDiskpartServiceFailure = 4;
inline constexpr std::uint32_t kDiskpartCommandFailed = 5;

// Runs a script's text. *output gets what diskpart prints. A failing command
// stops the script unless it carries noerr; a syntax error stops it always.
std::uint32_t RunDiskpartScript(const std::string& script, SimDiskpartTarget& target, std::wstring* output);

}  // namespace tavu::sim
