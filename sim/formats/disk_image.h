// The bytes behind a simulated disk: a raw image file, a container the image
// layer reads (VHD, VHDX, VMDK, E01), or bytes held in memory, of 512- or
// 4096-byte logical sectors. Writes land in an in-memory overlay, so the image
// file stays as it was, unless a raw image writes through to the file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/formats/image_format.h"

namespace tavu::sim {

// The logical sector sizes a simulated disk can have.
inline constexpr std::uint32_t kSectorSize = 512;
inline constexpr std::uint32_t kLargeSectorSize = 4096;
// Given for the sector size: found from the image (GuessSectorSize).
inline constexpr std::uint32_t kSectorSizeFromImage = 0;

class ImageContainer;

class DiskImage {
 public:
  // Opens an image file. nullptr with *error set to a reason ("No such file or
  // directory", "is a directory", "a qcow2 image, not a raw disk: ...") when
  // it cannot be opened for reading (or for writing when writeThrough is
  // asked: containers are read-only). sectorSize: 512, 4096 or
  // kSectorSizeFromImage.
  static std::unique_ptr<DiskImage> OpenFile(const std::string& path, bool writeThrough,
                                             std::uint32_t sectorSize, std::string* error);
  static std::unique_ptr<DiskImage> OpenFile(const std::string& path, bool writeThrough, std::string* error) {
    return OpenFile(path, writeThrough, kSectorSizeFromImage, error);
  }
  // An image held in memory (a fuzzer's input, a test's hand-made disk).
  static std::unique_ptr<DiskImage> FromBytes(std::vector<std::uint8_t> bytes,
                                              std::uint32_t sectorSize = kSectorSizeFromImage);
  // The same, over bytes that several images share: each writes only to its
  // own overlay, so a test that stands up hundreds of machines on one disk
  // copies it not once.
  static std::unique_ptr<DiskImage> FromShared(std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                                               std::uint32_t sectorSize = kSectorSizeFromImage);

  ~DiskImage();
  DiskImage(const DiskImage&) = delete;
  DiskImage& operator=(const DiskImage&) = delete;

  // The size in bytes; the disk holds size() / sectorSize() whole sectors.
  std::uint64_t size() const { return size_; }
  std::uint32_t sectorSize() const { return sectorSize_; }
  std::uint64_t sectors() const { return size_ / sectorSize_; }
  const std::string& path() const { return path_; }
  // What the file is: raw, or the container it was read through.
  const ImageKind& kind() const { return kind_; }

  // Reads [offset, offset + size) as it stands now (overlay included). Fails when
  // the range leaves the image or the file cannot be read.
  bool Read(std::uint64_t offset, void* buffer, std::size_t size) const;
  // Writes whole sectors of the disk's size; fails outside the image.
  bool Write(std::uint64_t offset, const void* data, std::size_t size);

  bool writeThrough() const { return writeThrough_; }
  // Grows with every write, so that what was read from the image before can be
  // known to be stale.
  std::uint64_t writeCount() const { return writeCount_; }
  // 512-byte blocks changed in the overlay (always empty when writing through).
  std::size_t DirtySectors() const { return overlay_.size(); }

 private:
  // The overlay keeps 512-byte blocks whatever the sector size: a write of
  // whole sectors is always whole blocks.
  static constexpr std::uint32_t kBlock = 512;

  DiskImage() = default;
  void SetSectorSize(std::uint32_t sectorSize);
  bool ReadBase(std::uint64_t offset, std::uint8_t* out, std::size_t size) const;
  bool WriteBase(std::uint64_t offset, const std::uint8_t* data, std::size_t size);

  std::string path_;
  int fd_ = -1;
  std::unique_ptr<ImageContainer> container_;
  std::shared_ptr<const std::vector<std::uint8_t>> memory_;
  bool inMemory_ = false;
  bool writeThrough_ = false;
  ImageKind kind_;
  std::uint32_t sectorSize_ = kSectorSize;
  std::uint64_t size_ = 0;
  std::uint64_t writeCount_ = 0;
  std::map<std::uint64_t, std::array<std::uint8_t, kBlock>> overlay_;
};

// The logical sector size of a disk image given without one: 4096 when it has
// a GPT header ("EFI PART") at byte 4096 and none at byte 512, else 512.
std::uint32_t GuessSectorSize(const DiskImage& image);

}  // namespace tavu::sim
