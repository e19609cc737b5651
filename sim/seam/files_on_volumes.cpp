// The files of volumes other than C:, as their file systems hold them on the
// simulated disks. The programs only ever read them; Windows would let an
// administrator write, but no program of ours has reason to, so a write is
// refused as on write-protected media and shows up in a test at once.
#include "common/win_errors.h"
#include "sim/core/text.h"
#include "sim/formats/volume_files.h"
#include "sim/seam/disks.h"
#include "sim/seam/files.h"
#include "sim/seam/volumes.h"

namespace tavu::sim {

namespace {

// "A\B" from "\a\\b\", upper-cased: how hidden names are kept and compared.
std::wstring Key(const std::wstring& path) {
  std::wstring out;
  std::wstring part;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\' || path[i] == L'/') {
      if (!part.empty()) {
        if (!out.empty()) out.push_back(L'\\');
        out += AsciiUpper(part);
      }
      part.clear();
    } else {
      part.push_back(path[i]);
    }
  }
  return out;
}

// 0 with the volume and the path on it; kNotVolumePath for a path of C: (or
// no volumes at all); the Windows error for a volume that is not there.
std::uint32_t LocateOnVolume(SimVolumes* volumes, const wchar_t* path, SimVolumes::Info* info,
                             std::wstring* rest) {
  if (volumes == nullptr) return SimFiles::kNotVolumePath;
  switch (volumes->VolumeOfPath(path, info, rest)) {
    case SimVolumes::FilePath::NotVolume:
      return SimFiles::kNotVolumePath;
    case SimVolumes::FilePath::Unknown:
      return kErrorPathNotFound;
    case SimVolumes::FilePath::Volume:
      return kErrorSuccess;
  }
  return kErrorPathNotFound;
}

}  // namespace

void SimFiles::HideOnVolume(int disk, std::int64_t offset, const std::wstring& path) {
  hidden_[{disk, offset}].push_back(Key(path));
}

std::shared_ptr<VolumeFileSystem> SimFiles::FileSystemOf(int disk, std::int64_t offset, std::int64_t length) {
  const DiskImage* image =
      disks_ == nullptr || disk < 0 || disk >= disks_->Count() ? nullptr : disks_->Image(disk);
  if (image == nullptr || offset < 0 || length <= 0) return nullptr;
  // The file system is read again once the disk was written, so a volume shows
  // what its disk holds now.
  MountedVolume& m = mounted_[{disk, offset}];
  if (m.fs == nullptr || m.writeCount != image->writeCount()) {
    m.fs =
        OpenVolumeFileSystem(*image, static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(length));
    m.writeCount = image->writeCount();
  }
  return m.fs;
}

std::uint32_t SimFiles::VolumePath(const wchar_t* path, std::unique_ptr<VolumeFile>* file) {
  SimVolumes::Info info;
  std::wstring rest;
  if (const std::uint32_t error = LocateOnVolume(volumes_, path, &info, &rest); error != kErrorSuccess)
    return error;
  // Taken offline: the volume is listed, but no I/O reaches its files.
  if (info.offline) return kErrorNotReady;
  const std::wstring key = Key(rest);
  auto hidden = hidden_.find({info.disk, info.offset});
  if (hidden != hidden_.end()) {
    for (const std::wstring& h : hidden->second) {
      if (key == h) return kErrorFileNotFound;
      if (key.size() > h.size() && key.compare(0, h.size(), h) == 0 && key[h.size()] == L'\\')
        return kErrorPathNotFound;
    }
  }
  std::shared_ptr<VolumeFileSystem> fs = FileSystemOf(info.disk, info.offset, info.length);
  if (fs == nullptr) return key.empty() ? kErrorUnrecognizedVolume : kErrorPathNotFound;
  switch (fs->Open(Narrow(rest), file)) {
    case VolumeLookup::Found:
      return kErrorSuccess;
    case VolumeLookup::NoFile:
      return kErrorFileNotFound;
    case VolumeLookup::NoPath:
      return kErrorPathNotFound;
  }
  return kErrorPathNotFound;
}

std::uint32_t SimFiles::VolumeChange(const wchar_t* path) {
  SimVolumes::Info info;
  std::wstring rest;
  const std::uint32_t error = LocateOnVolume(volumes_, path, &info, &rest);
  return error == kErrorSuccess ? kErrorWriteProtect : error;
}

}  // namespace tavu::sim
