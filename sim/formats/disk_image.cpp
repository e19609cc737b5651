#include "sim/formats/disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/formats/image_container.h"

namespace tavu::sim {

namespace {

// Closes the descriptor unless it was handed on.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool PreadAll(int fd, std::uint8_t* out, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The file's own signatures, from its first and last 512 bytes.
ImageKind KindOfFile(int fd, std::uint64_t size) {
  std::uint8_t head[512] = {};
  std::uint8_t tail[512] = {};
  const std::size_t headSize = size < sizeof head ? static_cast<std::size_t>(size) : sizeof head;
  const std::size_t tailSize = size < sizeof tail ? static_cast<std::size_t>(size) : sizeof tail;
  if (!PreadAll(fd, head, headSize, 0) || !PreadAll(fd, tail, tailSize, size - tailSize)) return ImageKind{};
  return IdentifyImage(head, headSize, tail, tailSize);
}

std::string FirstLine(const std::string& text) {
  const std::size_t end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

}  // namespace

std::unique_ptr<DiskImage> DiskImage::OpenFile(const std::string& path, bool writeThrough,
                                               std::uint32_t sectorSize, std::string* error) {
  Fd fd(::open(path.c_str(), (writeThrough ? O_RDWR : O_RDONLY) | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file";
    return nullptr;
  }
  std::unique_ptr<DiskImage> image(new DiskImage());
  image->path_ = path;
  image->writeThrough_ = writeThrough;
  image->size_ = static_cast<std::uint64_t>(st.st_size);
  if (S_ISBLK(st.st_mode)) {
    off_t end = ::lseek(fd.get(), 0, SEEK_END);
    image->size_ = end < 0 ? 0 : static_cast<std::uint64_t>(end);
  } else {
    // A block device is a disk; a file may be a container around one.
    image->kind_ = KindOfFile(fd.get(), image->size_);
  }
  const ImageKind& kind = image->kind_;
  const std::string refusal = FormatRefusal(kind, path, writeThrough);
  if (!refusal.empty()) {
    *error = refusal;
    return nullptr;
  }
  if (IsContainer(kind.format)) {
    std::string why;
    image->container_ = OpenImageContainer(path, kind.format, &why);
    if (image->container_ == nullptr) {
      *error = WithArticle(kind.name) + " image that cannot be read: " + FirstLine(why);
      return nullptr;
    }
    image->size_ = image->container_->size();
  } else {
    image->fd_ = fd.release();
  }
  image->SetSectorSize(sectorSize);
  return image;
}

std::unique_ptr<DiskImage> DiskImage::FromBytes(std::vector<std::uint8_t> bytes, std::uint32_t sectorSize) {
  return FromShared(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)), sectorSize);
}

std::unique_ptr<DiskImage> DiskImage::FromShared(std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                                                 std::uint32_t sectorSize) {
  std::unique_ptr<DiskImage> image(new DiskImage());
  image->inMemory_ = true;
  image->memory_ = bytes != nullptr ? std::move(bytes) : std::make_shared<const std::vector<std::uint8_t>>();
  image->size_ = image->memory_->size();
  image->path_ = "(memory)";
  image->SetSectorSize(sectorSize);
  return image;
}

DiskImage::~DiskImage() {
  if (fd_ >= 0) ::close(fd_);
}

void DiskImage::SetSectorSize(std::uint32_t sectorSize) {
  sectorSize_ =
      sectorSize == kLargeSectorSize || sectorSize == kSectorSize ? sectorSize : GuessSectorSize(*this);
}

std::uint32_t GuessSectorSize(const DiskImage& image) {
  char at512[8] = {};
  char at4096[8] = {};
  const bool small = image.Read(512, at512, sizeof at512) && std::memcmp(at512, "EFI PART", 8) == 0;
  const bool large = image.Read(4096, at4096, sizeof at4096) && std::memcmp(at4096, "EFI PART", 8) == 0;
  return large && !small ? kLargeSectorSize : kSectorSize;
}

bool DiskImage::ReadBase(std::uint64_t offset, std::uint8_t* out, std::size_t size) const {
  if (inMemory_) {
    std::memcpy(out, memory_->data() + offset, size);
    return true;
  }
  if (container_ != nullptr) return container_->Read(offset, out, size);
  return PreadAll(fd_, out, size, offset);
}

bool DiskImage::WriteBase(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
  // Bytes in memory may be shared, and containers are read only: neither
  // writes through.
  if (inMemory_ || fd_ < 0) return false;
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
  // Lay the overlay's blocks over what the base holds.
  const std::uint64_t end = offset + size;
  for (auto it = overlay_.lower_bound(offset / kBlock); it != overlay_.end() && it->first * kBlock < end;
       ++it) {
    std::uint64_t blockStart = it->first * kBlock;
    std::uint64_t from = blockStart > offset ? blockStart : offset;
    std::uint64_t to = blockStart + kBlock < end ? blockStart + kBlock : end;
    std::memcpy(out + (from - offset), it->second.data() + (from - blockStart), to - from);
  }
  return true;
}

bool DiskImage::Write(std::uint64_t offset, const void* data, std::size_t size) {
  if (offset % sectorSize_ != 0 || size % sectorSize_ != 0) return false;
  if (offset > size_ || size > size_ - offset) return false;
  ++writeCount_;
  const auto* in = static_cast<const std::uint8_t*>(data);
  if (writeThrough_) return WriteBase(offset, in, size);
  for (std::size_t done = 0; done < size; done += kBlock) {
    auto& block = overlay_[(offset + done) / kBlock];
    std::memcpy(block.data(), in + done, kBlock);
  }
  return true;
}

}  // namespace tavu::sim
