#include "sim/formats/image_container.h"

#include <tsk/libtsk.h>

namespace tavu::sim {

namespace {

class TskContainer final : public ImageContainer {
 public:
  explicit TskContainer(TSK_IMG_INFO* info) : info_(info) {}
  ~TskContainer() override { tsk_img_close(info_); }
  TskContainer(const TskContainer&) = delete;
  TskContainer& operator=(const TskContainer&) = delete;

  std::uint64_t size() const override {
    return info_->size > 0 ? static_cast<std::uint64_t>(info_->size) : 0;
  }

  bool Read(std::uint64_t offset, void* buffer, std::size_t size) const override {
    if (offset > this->size() || size > this->size() - offset) return false;
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = tsk_img_read(info_, static_cast<TSK_OFF_T>(offset + done), out + done, size - done);
      if (n <= 0) {
        tsk_error_reset();
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  TSK_IMG_INFO* info_;
};

}  // namespace

std::unique_ptr<ImageContainer> OpenImageContainer(const std::string& path, ImageFormat format,
                                                   std::string* error) {
  // VHD and VHDX are both libvhdi's. For an E01 the library also finds the
  // segments that follow the first (E02, ...).
  const TSK_IMG_TYPE_ENUM type = format == ImageFormat::E01    ? TSK_IMG_TYPE_EWF_EWF
                                 : format == ImageFormat::Vmdk ? TSK_IMG_TYPE_VMDK_VMDK
                                                               : TSK_IMG_TYPE_VHD_VHD;
  TSK_IMG_INFO* info = tsk_img_open_utf8_sing(path.c_str(), type, 0);
  if (info == nullptr) {
    const char* why = tsk_error_get();
    *error = why != nullptr && *why != '\0' ? why : "the image library cannot open it";
    tsk_error_reset();
    return nullptr;
  }
  if (TSK_IMG_TYPE_ISRAW(info->itype)) {
    // A file with a container's signature that the library takes for raw
    // bytes is damaged: reading it as a disk would show its header as sector 0.
    tsk_img_close(info);
    *error = "the image library does not recognise the container";
    return nullptr;
  }
  return std::make_unique<TskContainer>(info);
}

}  // namespace tavu::sim
