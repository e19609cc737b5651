// The bytes behind a simulated disk: a raw image file (or bytes held in memory)
// of 512-byte sectors. Writes land in an in-memory overlay of whole sectors, so
// the image file stays as it was, unless the image writes through to the file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tavu::sim {

inline constexpr std::uint32_t kSectorSize = 512;

class DiskImage {
 public:
  // Opens an image file. nullptr with *error set to a reason ("No such file or
  // directory", "is a directory") when it cannot be opened for reading (or for
  // writing when writeThrough is asked).
  static std::unique_ptr<DiskImage> OpenFile(const std::string& path, bool writeThrough,
                                             std::string* error);
  // An image held in memory (a fuzzer's input, a test's hand-made disk).
  static std::unique_ptr<DiskImage> FromBytes(std::vector<std::uint8_t> bytes);
  // The same, over bytes that several images share: each writes only to its
  // own overlay, so a test that stands up hundreds of machines on one disk
  // copies it not once.
  static std::unique_ptr<DiskImage> FromShared(std::shared_ptr<const std::vector<std::uint8_t>> bytes);

  ~DiskImage();
  DiskImage(const DiskImage&) = delete;
  DiskImage& operator=(const DiskImage&) = delete;

  // The size in bytes; the disk holds size() / 512 whole sectors.
  std::uint64_t size() const { return size_; }
  std::uint64_t sectors() const { return size_ / kSectorSize; }
  const std::string& path() const { return path_; }

  // Reads [offset, offset + size) as it stands now (overlay included). Fails when
  // the range leaves the image or the file cannot be read.
  bool Read(std::uint64_t offset, void* buffer, std::size_t size) const;
  // Writes whole sectors; fails outside the image.
  bool Write(std::uint64_t offset, const void* data, std::size_t size);

  bool writeThrough() const { return writeThrough_; }
  // Grows with every write, so that what was read from the image before can be
  // known to be stale.
  std::uint64_t writeCount() const { return writeCount_; }
  // Sectors changed in the overlay (always empty when writing through).
  std::size_t DirtySectors() const { return overlay_.size(); }

 private:
  DiskImage() = default;
  bool ReadBase(std::uint64_t offset, std::uint8_t* out, std::size_t size) const;
  bool WriteBase(std::uint64_t offset, const std::uint8_t* data, std::size_t size);

  std::string path_;
  int fd_ = -1;
  std::shared_ptr<const std::vector<std::uint8_t>> memory_;
  bool inMemory_ = false;
  bool writeThrough_ = false;
  std::uint64_t size_ = 0;
  std::uint64_t writeCount_ = 0;
  std::map<std::uint64_t, std::array<std::uint8_t, kSectorSize>> overlay_;
};

}  // namespace tavu::sim
