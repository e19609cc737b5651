#include "common/searchable_disks.h"

#include <utility>

#include "common/disk_api.h"
#include "common/system_api.h"
#include "common/win_errors.h"
#include "common/win_records.h"

namespace tavu {

bool SearchableDisks::Next() {
  disk_.reset();
  if (number_ + 1 >= kNameableDisks) return false;
  wchar_t name[32];
  PhysicalDriveName(number_ + 1, name);
  UniqueHandle disk(Sys().disks->OpenDisk(name, write_));
  if (!disk) return false;
  ++number_;
  disk_ = std::move(disk);
  DISK_GEOMETRY geometry{};
  // A disk whose geometry cannot be read for another reason is searched like a fixed one.
  if (!Sys().disks->GetGeometry(disk_.get(), &geometry)) {
    verdict_ = Sys().system->LastError() == kErrorNotReady ? DiskVerdict::NoMedium : DiskVerdict::Searched;
  } else if (geometry.MediaType == kMediaTypeRemovable) {
    verdict_ = DiskVerdict::RemovableMedia;
  } else {
    verdict_ = DiskVerdict::Searched;
  }
  // An external USB disk reports fixed media like the system disk: its bus is
  // what marks it as one that leaves with its owner.
  if (verdict_ == DiskVerdict::Searched && IsUsbDisk(disk_.get())) verdict_ = DiskVerdict::UsbBus;
  return true;
}

bool SearchableDisks::PassOverAfterFailedLayout() {
  if (Sys().system->LastError() != kErrorNotReady) return false;
  verdict_ = DiskVerdict::NoMedium;
  return true;
}

}  // namespace tavu
