#include "sim/formats/disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavu::sim {

std::unique_ptr<DiskImage> DiskImage::OpenFile(const std::string& path, bool writeThrough,
                                               std::string* error) {
  int fd = ::open(path.c_str(), (writeThrough ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  struct stat st{};
  if (::fstat(fd, &st) != 0) {
    *error = std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file";
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<DiskImage> image(new DiskImage());
  image->path_ = path;
  image->fd_ = fd;
  image->writeThrough_ = writeThrough;
  image->size_ = static_cast<std::uint64_t>(st.st_size);
  if (S_ISBLK(st.st_mode)) {
    off_t end = ::lseek(fd, 0, SEEK_END);
    image->size_ = end < 0 ? 0 : static_cast<std::uint64_t>(end);
  }
  return image;
}

std::unique_ptr<DiskImage> DiskImage::FromBytes(std::vector<std::uint8_t> bytes) {
  return FromShared(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)));
}

std::unique_ptr<DiskImage> DiskImage::FromShared(std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
  std::unique_ptr<DiskImage> image(new DiskImage());
  image->inMemory_ = true;
  image->memory_ = bytes != nullptr ? std::move(bytes) : std::make_shared<const std::vector<std::uint8_t>>();
  image->size_ = image->memory_->size();
  image->path_ = "(memory)";
  return image;
}

DiskImage::~DiskImage() {
  if (fd_ >= 0) ::close(fd_);
}

bool DiskImage::ReadBase(std::uint64_t offset, std::uint8_t* out, std::size_t size) const {
  if (inMemory_) {
    std::memcpy(out, memory_->data() + offset, size);
    return true;
  }
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool DiskImage::WriteBase(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
  // Bytes in memory may be shared: they never write through.
  if (inMemory_) return false;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool DiskImage::Read(std::uint64_t offset, void* buffer, std::size_t size) const {
  if (offset > size_ || size > size_ - offset) return false;
  auto* out = static_cast<std::uint8_t*>(buffer);
  if (size == 0) return true;
  if (!ReadBase(offset, out, size)) return false;
  // Lay the overlay's sectors over what the base holds.
  const std::uint64_t end = offset + size;
  for (auto it = overlay_.lower_bound(offset / kSectorSize);
       it != overlay_.end() && it->first * kSectorSize < end; ++it) {
    std::uint64_t sectorStart = it->first * kSectorSize;
    std::uint64_t from = sectorStart > offset ? sectorStart : offset;
    std::uint64_t to = sectorStart + kSectorSize < end ? sectorStart + kSectorSize : end;
    std::memcpy(out + (from - offset), it->second.data() + (from - sectorStart), to - from);
  }
  return true;
}

bool DiskImage::Write(std::uint64_t offset, const void* data, std::size_t size) {
  if (offset % kSectorSize != 0 || size % kSectorSize != 0) return false;
  if (offset > size_ || size > size_ - offset) return false;
  ++writeCount_;
  const auto* in = static_cast<const std::uint8_t*>(data);
  if (writeThrough_) return WriteBase(offset, in, size);
  for (std::size_t done = 0; done < size; done += kSectorSize) {
    auto& sector = overlay_[(offset + done) / kSectorSize];
    std::memcpy(sector.data(), in + done, kSectorSize);
  }
  return true;
}

}  // namespace tavu::sim
