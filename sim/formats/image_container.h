// A container file (VHD, VHDX, VMDK, E01) read as the disk it holds, through
// The Sleuth Kit's image layer, which Debian builds with libvhdi, libvmdk and
// libewf. Read-only: the machine never writes into a container.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/formats/image_format.h"

namespace tavu::sim {

class ImageContainer {
 public:
  virtual ~ImageContainer() = default;
  // The size of the disk inside, in bytes.
  virtual std::uint64_t size() const = 0;
  // Reads [offset, offset + size) of the disk inside; false when it leaves the
  // disk or the library fails.
  virtual bool Read(std::uint64_t offset, void* buffer, std::size_t size) const = 0;
};

// The file opened as the container format it was identified as, so that the
// library probes no other format (its VMDK probe leaks what it allocates when
// it fails). nullptr with *error set to the library's reason when it cannot.
std::unique_ptr<ImageContainer> OpenImageContainer(const std::string& path, ImageFormat format,
                                                   std::string* error);

}  // namespace tavu::sim
