#include "sim/seam/resources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "common/win_errors.h"
#include "sim/core/last_error.h"
#include "sim/core/operation.h"
#include "sim/formats/pe_version.h"

namespace tavu::sim {

namespace {

constexpr std::uint32_t kErrorResourceTypeNotFound = 1813;
constexpr std::uint32_t kErrorResourceDataNotFound = 1812;

class HostFile {
 public:
  explicit HostFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~HostFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  bool Size(std::uint64_t* size) const {
    struct stat st{};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
  }
  bool ReadAt(std::uint64_t offset, void* out, std::size_t size) const {
    auto* p = static_cast<std::uint8_t*>(out);
    while (size > 0) {
      ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
      if (n <= 0) return false;
      p += n;
      offset += static_cast<std::uint64_t>(n);
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

bool EqualsIgnoreCase(const wchar_t* a, const wchar_t* b) {
  for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
    wchar_t x = (*a >= L'a' && *a <= L'z') ? *a - L'a' + L'A' : *a;
    wchar_t y = (*b >= L'a' && *b <= L'z') ? *b - L'a' + L'A' : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

}  // namespace

bool ReadHostBytes(const std::string& hostPath, std::vector<std::uint8_t>* out) {
  HostFile file(hostPath);
  std::uint64_t size = 0;
  if (!file.ok() || !file.Size(&size) || size > 0xFFFFFFFFull) return false;
  out->resize(static_cast<std::size_t>(size));
  return size == 0 || file.ReadAt(0, out->data(), out->size());
}

bool SimResources::SetCarriedLauncherFile(const std::string& hostPath) {
  std::vector<std::uint8_t> bytes;
  if (!ReadHostBytes(hostPath, &bytes)) return false;
  carried_ = std::move(bytes);
  return true;
}

bool SimResources::OwnResource(std::uint16_t id, const wchar_t* type, const std::uint8_t** bytes,
                               std::uint32_t* size) {
  *bytes = nullptr;
  *size = 0;
  if (Refused(faults_, SimOp::ResourceLoad, kErrorResourceDataNotFound)) return false;
  if (id != 129 || type == nullptr || !EqualsIgnoreCase(type, L"EXE") || !carried_) {
    SetLastError(kErrorResourceTypeNotFound);
    return false;
  }
  *bytes = carried_->data();
  *size = static_cast<std::uint32_t>(carried_->size());
  return true;
}

bool SimResources::LoadVersionResource(const wchar_t* path, std::vector<std::uint8_t>* out) {
  std::string host;
  if (path == nullptr || !paths_.ToHost(path, &host)) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  HostFile file(host);
  std::uint64_t size = 0;
  if (!file.ok() || !file.Size(&size)) {
    SetLastError(kErrorFileNotFound);
    return false;
  }
  ReadAtFn read = [&file](std::uint64_t offset, void* buffer, std::size_t n) {
    return file.ReadAt(offset, buffer, n);
  };
  if (!ReadVersionResource(read, size, out)) {
    SetLastError(kErrorResourceTypeNotFound);
    return false;
  }
  return true;
}

std::uint32_t SimResources::VersionInfoSize(const wchar_t* path) {
  if (Refused(faults_, SimOp::VersionInfo, kErrorAccessDenied)) return 0;
  std::vector<std::uint8_t> resource;
  if (!LoadVersionResource(path, &resource)) return 0;
  return static_cast<std::uint32_t>(resource.size());
}

bool SimResources::VersionInfo(const wchar_t* path, std::uint32_t size, void* block) {
  if (block == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (Refused(faults_, SimOp::VersionInfo, kErrorAccessDenied)) return false;
  std::vector<std::uint8_t> resource;
  if (!LoadVersionResource(path, &resource)) return false;
  std::size_t n = resource.size() < size ? resource.size() : size;
  std::memcpy(block, resource.data(), n);
  blocks_[block] = n;
  return true;
}

bool SimResources::QueryValue(const void* block, const wchar_t* subBlock, const std::uint8_t** value,
                              std::uint32_t* length) {
  *value = nullptr;
  *length = 0;
  auto known = blocks_.find(block);
  if (known == blocks_.end()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  std::size_t offset = 0;
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  if (!QueryVersionValue(bytes, known->second, subBlock, &offset, length)) {
    SetLastError(kErrorResourceTypeNotFound);
    return false;
  }
  *value = bytes + offset;
  return true;
}

}  // namespace tavu::sim
