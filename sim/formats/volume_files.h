// The files a volume's file system (NTFS or FAT) holds, read from the disk
// image through The Sleuth Kit, the field's library for reading file systems
// in disk images. What the image holds now is read, in-memory changes
// included; a volume the library cannot read has no files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tavu::sim {

class DiskImage;

// An open file of a volume; reads need the file system it came from, which it
// keeps alive.
class VolumeFile {
 public:
  virtual ~VolumeFile() = default;
  virtual std::uint64_t size() const = 0;
  virtual bool directory() const = 0;
  // Reads up to size bytes from offset; *read is 0 at or past the end.
  virtual bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t* read) = 0;
};

enum class VolumeLookup : std::uint8_t { Found, NoFile, NoPath };

class VolumeFileSystem {
 public:
  virtual ~VolumeFileSystem() = default;
  // path: components separated by '\' or '/', from the volume's root, in
  // UTF-8; names compare without regard to case, as the file systems do on
  // Windows. Found with *file set, NoFile when the folder holds no such name,
  // NoPath when a folder on the way is missing or is a file.
  virtual VolumeLookup Open(const std::string& path, std::unique_ptr<VolumeFile>* file) = 0;
};

// What Windows' GetVolumeInformationW and GetDiskFreeSpaceExW answer for a
// volume, as the library reads its file system: the file system's name
// ("NTFS", "FAT32", "FAT"), its label (NTFS: the $Volume file's name; FAT:
// the root folder's label entry; empty without one) and the bytes its
// allocation map leaves free.
struct VolumeFacts {
  bool recognized = false;
  std::string fileSystem;
  std::u16string label;
  std::uint64_t freeBytes = 0;
  std::uint64_t totalBytes = 0;
};
VolumeFacts ReadVolumeFacts(const DiskImage& image, std::uint64_t offset, std::uint64_t length);

// The file system of the volume at [offset, offset + length) of the image, or
// nullptr when the library recognises neither NTFS nor FAT there. The image
// must outlive what this returns.
std::shared_ptr<VolumeFileSystem> OpenVolumeFileSystem(const DiskImage& image, std::uint64_t offset,
                                                       std::uint64_t length);

}  // namespace tavu::sim
