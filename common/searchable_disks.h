// The one walk over the physical disks that the locator's searches and the
// patcher share: disks from 0 upward by the disk-name rule until one cannot
// be opened, each said once to be searched or passed over. Only the notebook's
// own disks are searched: a USB disk, a removable medium on any bus (a card in
// an SD or PCIe reader, a recovery stick) and a slot without a medium are
// passed over.
#pragma once

#include <cstdint>

#include "common/platform.h"
#include "common/unique_handle.h"

namespace tavu {

enum class DiskVerdict : std::uint8_t {
  Searched,
  UsbBus,          // the adapter reports BusTypeUsb
  RemovableMedia,  // the geometry reports RemovableMedia, whatever the bus
  NoMedium,        // ERROR_NOT_READY: a reader or drive without its medium
};

class SearchableDisks {
 public:
  // write: the disks are opened for reading and writing (the patcher).
  explicit SearchableDisks(bool write) : write_(write) {}

  // Opens the next disk and says what it is; false when it cannot be opened,
  // which ends the walk (a gap in the numbering ends it too).
  [[nodiscard]] bool Next();

  [[nodiscard]] std::int32_t Number() const { return number_; }
  [[nodiscard]] Handle Disk() const { return disk_.get(); }
  [[nodiscard]] DiskVerdict Verdict() const { return verdict_; }
  [[nodiscard]] bool Searched() const { return verdict_ == DiskVerdict::Searched; }

  // A searched disk whose layout read failed with ERROR_NOT_READY (a slot whose
  // geometry answered before its medium was read) has no medium after all:
  // true, and the verdict becomes NoMedium; false for any other failure.
  bool PassOverAfterFailedLayout();

 private:
  bool write_;
  std::int32_t number_ = -1;
  UniqueHandle disk_;
  DiskVerdict verdict_ = DiskVerdict::Searched;
};

}  // namespace tavu
