#include "sim/formats/image_format.h"

#include <cstring>

namespace tavu::sim {

namespace {

bool At(const std::uint8_t* bytes, std::size_t size, std::size_t offset, const char* magic,
        std::size_t length) {
  return bytes != nullptr && offset + length <= size && std::memcmp(bytes + offset, magic, length) == 0;
}

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

ImageKind Kind(ImageFormat format, const char* name) { return ImageKind{format, name}; }

}  // namespace

ImageKind IdentifyImage(const std::uint8_t* head, std::size_t headSize, const std::uint8_t* tail,
                        std::size_t tailSize) {
  // Containers the image layer reads.
  if (At(head, headSize, 0, "vhdxfile", 8)) return Kind(ImageFormat::Vhdx, "VHDX");
  // A dynamic VHD starts with a copy of its footer; a fixed one has the footer
  // only, in its last 512 bytes, after the raw sectors. The footer's disk type
  // (big-endian, at 60) tells fixed (2) from dynamic (3) and differencing (4).
  if (At(head, headSize, 0, "conectix", 8)) {
    const bool differencing = headSize >= 64 && Be32(head + 60) == 4;
    return differencing ? Kind(ImageFormat::Unsupported, "VHD (differencing)")
                        : Kind(ImageFormat::VhdDynamic, "VHD (dynamic)");
  }
  if (tailSize == 512 && At(tail, tailSize, 0, "conectix", 8) && Be32(tail + 60) == 2) {
    return Kind(ImageFormat::VhdFixed, "VHD (fixed)");
  }
  if (At(head, headSize, 0, "KDMV", 4) || At(head, headSize, 0, "# Disk DescriptorFile", 21)) {
    return Kind(ImageFormat::Vmdk, "VMDK");
  }
  if (At(head, headSize, 0, "EVF\x09\x0d\x0a\xff\x00", 8)) return Kind(ImageFormat::E01, "E01");

  // Formats the machine does not read: named, so the technician can convert.
  if (At(head, headSize, 0, "QFI\xfb", 4)) {
    const bool v1 = headSize >= 8 && Be32(head + 4) == 1;
    return Kind(ImageFormat::Unsupported, v1 ? "qcow" : "qcow2");
  }
  if (At(head, headSize, 0, "QED\0", 4)) return Kind(ImageFormat::Unsupported, "QED");
  if (At(head, headSize, 64, "\x7f\x10\xda\xbe", 4)) return Kind(ImageFormat::Unsupported, "VDI");
  if (At(head, headSize, 0, "WithoutFreeSpace", 16) || At(head, headSize, 0, "WithouFreSpacExt", 16)) {
    return Kind(ImageFormat::Unsupported, "Parallels");
  }
  if (At(head, headSize, 0, "COWD", 4)) return Kind(ImageFormat::Unsupported, "VMware COWD");
  if (At(head, headSize, 0, "EVF2\r\n\x81\x00", 8)) return Kind(ImageFormat::Unsupported, "Ex01");
  if (At(head, headSize, 0, "LVF\x09\x0d\x0a\xff\x00", 8))
    return Kind(ImageFormat::Unsupported, "L01 (files, not a disk)");
  if (At(head, headSize, 0, "AFF10\r\n", 7)) return Kind(ImageFormat::Unsupported, "AFF");
  if (At(head, headSize, 0, "MSWIM\0\0\0", 8))
    return Kind(ImageFormat::Unsupported, "WIM (files, not a disk)");
  if (tailSize == 512 && At(tail, tailSize, 0, "koly", 4)) return Kind(ImageFormat::Unsupported, "DMG");
  return Kind(ImageFormat::Raw, "");
}

std::string WithArticle(const std::string& name) {
  const bool vowelSound = !name.empty() && (name[0] == 'A' || name[0] == 'E' || name[0] == 'L');
  return (vowelSound ? "an " : "a ") + name;
}

std::string FormatRefusal(const ImageKind& kind, const std::string& path, bool write) {
  const std::string convert = "qemu-img convert -O raw " + path + " disk.img";
  if (kind.format == ImageFormat::Unsupported) {
    return WithArticle(kind.name) + " image, not a raw disk: convert it with " + convert;
  }
  if (IsContainer(kind.format) && write) {
    return WithArticle(kind.name) + " image is read only: convert it with " + convert +
           " to write to the disk";
  }
  return "";
}

}  // namespace tavu::sim
