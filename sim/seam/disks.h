// The simulated machine's physical disks: "\\.\PHYSICALDRIVEn" for n in the
// order the disks were added, each backed by an image of 512- or 4096-byte
// logical sectors and read as Windows presents it (sim/disk_layout.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/disk_api.h"
#include "sim/core/faults.h"
#include "sim/core/handles.h"
#include "sim/formats/disk_image.h"
#include "sim/formats/disk_layout.h"

namespace tavu::sim {

enum class DiskKind : std::uint8_t {
  Fixed,      // media type FixedMedia (12), adapter on the SATA bus
  Usb,        // adapter BusType 7 (USB); media type fixed
  Removable,  // media type RemovableMedia (11)
  Absent,     // the number exists but the disk cannot be opened (a gap)
  CardReader, // an empty card-reader slot: opens, adapter on the SD bus, no medium
};

class SimDisks : public DiskApi {
 public:
  SimDisks(SimHandles& handles, SimFaults& faults) : handles_(handles), faults_(faults) {}

  Handle OpenDisk(const wchar_t* deviceName, bool write) override;
  bool GetGeometry(Handle disk, DISK_GEOMETRY* geometry) override;
  bool GetLayout(Handle disk, void* buffer, std::uint32_t size) override;
  bool SetLayout(Handle disk, const void* buffer, std::uint32_t size) override;
  // The same, for a program of the machine whose own command was counted as
  // the persistent write (counted: false).
  bool SetLayout(Handle disk, const void* buffer, std::uint32_t size, bool counted);
  SimFaults& faults() { return faults_; }
  bool QueryProperty(Handle disk, const STORAGE_PROPERTY_QUERY* query, void* answer,
                     std::uint32_t answerSize) override;
  bool ReadAt(Handle disk, std::uint64_t offset, void* buffer, std::uint32_t size,
              std::uint32_t* read) override;

  // Adds the next disk number. False with *error (naming the reason) when the
  // image cannot be opened; no disk number is taken then.
  // sectorSize: 512, 4096, or kSectorSizeFromImage (GuessSectorSize).
  bool AddDisk(const std::string& imagePath, DiskKind kind, std::string* error);
  bool AddDisk(const std::string& imagePath, DiskKind kind, std::uint32_t sectorSize, std::string* error);
  // A disk held in memory.
  void AddDiskBytes(std::vector<std::uint8_t> bytes, DiskKind kind,
                    std::uint32_t sectorSize = kSectorSizeFromImage);
  // A disk over bytes other disks may share; its writes stay its own.
  void AddSharedDisk(std::shared_ptr<const std::vector<std::uint8_t>> bytes, DiskKind kind,
                     std::uint32_t sectorSize = kSectorSizeFromImage);
  void AddAbsent();
  // An empty card-reader slot: geometry, layout, reads and writes fail with
  // ERROR_NOT_READY until a medium is inserted (never, here).
  void AddCardReader();

  // Layout writes go into the image files themselves (tavu-sim --write) when
  // set before the disks are added; otherwise into an in-memory copy.
  void SetWriteThrough(bool on) { writeThrough_ = on; }

  // Called after every successful layout write with the disk's number.
  void OnLayoutWritten(std::function<void(int disk)> hook) { layoutWritten_ = std::move(hook); }

  int Count() const { return static_cast<int>(disks_.size()); }
  DiskKind Kind(int disk) const { return disks_[static_cast<std::size_t>(disk)].kind; }
  // The image of a disk (nullptr for an absent one).
  DiskImage* Image(int disk) const { return disks_[static_cast<std::size_t>(disk)].image.get(); }
  // The layout as the disk presents it now.
  SimLayout Layout(int disk) const;

  // Bytes and calls that went through ReadAt, for the benchmark and for tests
  // that check how much a reader read.
  std::uint64_t BytesRead() const { return bytesRead_; }
  std::uint64_t ReadCalls() const { return readCalls_; }
  void ResetCounters() {
    bytesRead_ = 0;
    readCalls_ = 0;
    reads_.clear();
  }
  // With recording on, every ReadAt that succeeded: disk, offset, size asked.
  struct ReadRecord {
    int disk;
    std::uint64_t offset;
    std::uint32_t size;
    bool operator==(const ReadRecord&) const = default;
  };
  void RecordReads(bool on) { recordReads_ = on; }
  const std::vector<ReadRecord>& reads() const { return reads_; }
  // Layout writes that succeeded, in order.
  struct LayoutWrite {
    int disk;
  };
  const std::vector<LayoutWrite>& layoutWrites() const { return layoutWrites_; }

 private:
  struct Disk {
    DiskKind kind = DiskKind::Fixed;
    std::unique_ptr<DiskImage> image;
    // The layout last read, good while the image has seen no write since: a
    // pass asks for the layout of the same disk after each of its writes.
    struct Cached {
      SimLayout layout;
      std::uint64_t writeCount = 0;
      bool read = false;
    };
    mutable Cached cached;
  };
  // The layout of a present disk, read again only after a write.
  const SimLayout& CurrentLayout(const Disk& d) const;
  struct DiskHandle;
  DiskHandle* Enter(Handle h, SimOp op);

  SimHandles& handles_;
  SimFaults& faults_;
  std::vector<Disk> disks_;
  bool writeThrough_ = false;
  std::function<void(int)> layoutWritten_;
  std::atomic<std::uint64_t> bytesRead_{0};
  std::atomic<std::uint64_t> readCalls_{0};
  std::vector<LayoutWrite> layoutWrites_;
  bool recordReads_ = false;
  std::vector<ReadRecord> reads_;
};

}  // namespace tavu::sim
