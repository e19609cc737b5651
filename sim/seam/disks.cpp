#include "sim/seam/disks.h"

#include <cstring>

#include "common/win_errors.h"
#include "sim/core/last_error.h"
#include "sim/core/operation.h"
#include "sim/core/text.h"

namespace tavu::sim {

struct SimDisks::DiskHandle : SimObject {
  int number = 0;
  bool write = false;
};

namespace {

constexpr wchar_t kDrivePrefix[] = L"\\\\.\\PHYSICALDRIVE";
constexpr std::size_t kDrivePrefixChars = sizeof(kDrivePrefix) / sizeof(wchar_t) - 1;

// The number in "\\.\PHYSICALDRIVEn" (any case), or -1 for any other name.
int DriveNumber(const wchar_t* name) {
  if (name == nullptr) return -1;
  for (std::size_t i = 0; i < kDrivePrefixChars; ++i) {
    if (AsciiUpper(name[i]) != kDrivePrefix[i]) return -1;
  }
  const wchar_t* digits = name + kDrivePrefixChars;
  // "PHYSICALDRIVE07" names no disk.
  if (*digits == L'\0' || (digits[0] == L'0' && digits[1] != L'\0')) return -1;
  int n = 0;
  for (; *digits != L'\0'; ++digits) {
    if (*digits < L'0' || *digits > L'9' || n > 1000) return -1;
    n = n * 10 + (*digits - L'0');
  }
  return n;
}

}  // namespace

// The device calls count before they look at the handle: the fault stands for
// the device failing, whatever it was given.
SimDisks::DiskHandle* SimDisks::Enter(Handle h, SimOp op) {
  return sim::Enter<DiskHandle>(handles_, faults_, h, op, kErrorGenFailure, Count::BeforeHandle);
}

bool SimDisks::AddDisk(const std::string& imagePath, DiskKind kind, std::string* error) {
  return AddDisk(imagePath, kind, kSectorSizeFromImage, error);
}

bool SimDisks::AddDisk(const std::string& imagePath, DiskKind kind, std::uint32_t sectorSize,
                       std::string* error) {
  if (kind == DiskKind::Absent) {
    AddAbsent();
    return true;
  }
  std::string reason;
  std::unique_ptr<DiskImage> image = DiskImage::OpenFile(imagePath, writeThrough_, sectorSize, &reason);
  if (image == nullptr) {
    if (error != nullptr) *error = reason;
    return false;
  }
  disks_.push_back(Disk{kind, std::move(image), {}});
  return true;
}

void SimDisks::AddDiskBytes(std::vector<std::uint8_t> bytes, DiskKind kind, std::uint32_t sectorSize) {
  disks_.push_back(Disk{kind, DiskImage::FromBytes(std::move(bytes), sectorSize), {}});
}

void SimDisks::AddSharedDisk(std::shared_ptr<const std::vector<std::uint8_t>> bytes, DiskKind kind,
                             std::uint32_t sectorSize) {
  disks_.push_back(Disk{kind, DiskImage::FromShared(std::move(bytes), sectorSize), {}});
}

void SimDisks::AddAbsent() { disks_.push_back(Disk{DiskKind::Absent, nullptr, {}}); }

void SimDisks::AddCardReader() { disks_.push_back(Disk{DiskKind::CardReader, nullptr, {}}); }

const SimLayout& SimDisks::CurrentLayout(const Disk& d) const {
  if (!d.cached.read || d.cached.writeCount != d.image->writeCount()) {
    // A stick or a medium formatted without a table is presented as one
    // partition over the whole medium; a fixed disk is never.
    d.cached.layout = d.kind != DiskKind::Fixed && FileSystemAtStart(*d.image) != nullptr
                          ? SuperfloppyLayout(*d.image)
                          : ReadLayout(*d.image);
    d.cached.writeCount = d.image->writeCount();
    d.cached.read = true;
  }
  return d.cached.layout;
}

SimLayout SimDisks::Layout(int disk) const {
  if (disk < 0 || disk >= Count() || Image(disk) == nullptr) return SimLayout{};
  return CurrentLayout(disks_[static_cast<std::size_t>(disk)]);
}

Handle SimDisks::OpenDisk(const wchar_t* deviceName, bool write) {
  if (Refused(faults_, SimOp::DiskOpen, kErrorAccessDenied)) return kInvalidHandle;
  int n = DriveNumber(deviceName);
  if (n < 0 || n >= Count() ||
      (disks_[static_cast<std::size_t>(n)].image == nullptr && disks_[static_cast<std::size_t>(n)].kind != DiskKind::CardReader)) {
    SetLastError(kErrorFileNotFound);
    return kInvalidHandle;
  }
  auto object = std::make_unique<DiskHandle>();
  object->number = n;
  object->write = write;
  SetLastError(kErrorSuccess);
  return handles_.Add(std::move(object));
}

bool SimDisks::GetGeometry(Handle disk, DISK_GEOMETRY* geometry) {
  DiskHandle* h = Enter(disk, SimOp::DiskGeometry);
  if (h == nullptr) return false;
  if (geometry == nullptr) return Failed(kErrorInsufficientBuffer);
  const Disk& d = disks_[static_cast<std::size_t>(h->number)];
  if (d.image == nullptr) return Failed(kErrorNotReady);
  *geometry = DISK_GEOMETRY{};
  // The classic translation of 255 heads and 63 sectors per track.
  geometry->Cylinders = static_cast<std::int64_t>(d.image->sectors() / (255u * 63u));
  geometry->MediaType = d.kind == DiskKind::Removable ? kMediaTypeRemovable : kMediaTypeFixed;
  geometry->TracksPerCylinder = 255;
  geometry->SectorsPerTrack = 63;
  geometry->BytesPerSector = d.image->sectorSize();
  return true;
}

bool SimDisks::GetLayout(Handle disk, void* buffer, std::uint32_t size) {
  DiskHandle* h = Enter(disk, SimOp::DiskLayoutQuery);
  if (h == nullptr) return false;
  if (disks_[static_cast<std::size_t>(h->number)].image == nullptr) return Failed(kErrorNotReady);
  const SimLayout& layout = CurrentLayout(disks_[static_cast<std::size_t>(h->number)]);
  if (buffer == nullptr || size < DriveLayoutSize(layout.entries.size())) {
    return Failed(kErrorInsufficientBuffer);
  }
  auto* out = static_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer);
  std::memset(buffer, 0, DriveLayoutSize(layout.entries.size()));
  out->PartitionStyle = layout.style;
  out->PartitionCount = static_cast<std::uint32_t>(layout.entries.size());
  if (layout.style == PARTITION_STYLE_MBR) out->Mbr = layout.mbr;
  if (layout.style == PARTITION_STYLE_GPT) out->Gpt = layout.gpt;
  for (std::size_t i = 0; i < layout.entries.size(); ++i) *LayoutEntry(out, i) = layout.entries[i];
  return true;
}

bool SimDisks::SetLayout(Handle disk, const void* buffer, std::uint32_t size) {
  return SetLayout(disk, buffer, size, true);
}

bool SimDisks::SetLayout(Handle disk, const void* buffer, std::uint32_t size, bool counted) {
  DiskHandle* h = Enter(disk, SimOp::DiskLayoutWrite);
  if (h == nullptr) return false;
  if (!h->write) return Failed(kErrorAccessDenied);
  if (disks_[static_cast<std::size_t>(h->number)].image == nullptr) return Failed(kErrorNotReady);
  if (counted && !faults_.PersistentWrite("layout write: disk " + std::to_string(h->number))) {
    return Failed(kErrorNotReady);
  }
  std::uint32_t error = kErrorSuccess;
  const Disk& d = disks_[static_cast<std::size_t>(h->number)];
  if (!WriteLayout(*d.image, CurrentLayout(d), buffer, size, &error)) {
    return Failed(error);
  }
  layoutWrites_.push_back(LayoutWrite{h->number});
  if (counted) faults_.WriteDone();
  if (layoutWritten_) layoutWritten_(h->number);
  SetLastError(kErrorSuccess);
  return true;
}

bool SimDisks::QueryProperty(Handle disk, const STORAGE_PROPERTY_QUERY* query, void* answer,
                             std::uint32_t answerSize) {
  DiskHandle* h = Enter(disk, SimOp::AdapterQuery);
  if (h == nullptr) return false;
  if (query == nullptr || query->PropertyId != StorageAdapterProperty ||
      query->QueryType != PropertyStandardQuery) {
    return Failed(kErrorInvalidFunction);
  }
  // Smaller than the descriptor's Version and Size fields: nothing fits.
  if (answer == nullptr || answerSize < 8) return Failed(kErrorInsufficientBuffer);
  STORAGE_ADAPTER_DESCRIPTOR d{};
  d.Version = sizeof(STORAGE_ADAPTER_DESCRIPTOR);
  d.Size = sizeof(STORAGE_ADAPTER_DESCRIPTOR);
  d.MaximumTransferLength = 128u * 1024u;
  d.MaximumPhysicalPages = 33;
  d.AlignmentMask = 1;
  const DiskKind kind = disks_[static_cast<std::size_t>(h->number)].kind;
  d.BusType = kind == DiskKind::Usb ? BusTypeUsb : kind == DiskKind::CardReader ? BusTypeSd : 11;
  // A short answer area receives the descriptor's first bytes, as the storage
  // port driver copies them.
  std::memcpy(answer, &d, answerSize < sizeof(d) ? answerSize : sizeof(d));
  return true;
}

bool SimDisks::ReadAt(Handle disk, std::uint64_t offset, void* buffer, std::uint32_t size,
                      std::uint32_t* read) {
  if (read != nullptr) *read = 0;
  DiskHandle* h = Enter(disk, SimOp::DiskRead);
  if (h == nullptr) return false;
  if (buffer == nullptr) return Failed(kErrorInvalidParameter);
  // SetFilePointerEx takes a signed distance.
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return Failed(kErrorInvalidParameter);
  if (disks_[static_cast<std::size_t>(h->number)].image == nullptr) return Failed(kErrorNotReady);
  const DiskImage& image = *disks_[static_cast<std::size_t>(h->number)].image;
  // A disk reads whole logical sectors of its own size, as on Windows, where
  // a 512-byte read of a 4096-byte-sector disk fails.
  const std::uint32_t sector = image.sectorSize();
  if (offset % sector != 0 || size % sector != 0) return Failed(kErrorInvalidParameter);
  const std::uint64_t end = image.sectors() * sector;
  if (offset >= end) return Failed(kErrorSectorNotFound);
  std::uint64_t count = end - offset < size ? end - offset : size;
  if (!image.Read(offset, buffer, static_cast<std::size_t>(count))) return Failed(kErrorGenFailure);
  ++readCalls_;
  bytesRead_ += count;
  if (recordReads_) reads_.push_back(ReadRecord{h->number, offset, size});
  if (read != nullptr) *read = static_cast<std::uint32_t>(count);
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace tavu::sim
