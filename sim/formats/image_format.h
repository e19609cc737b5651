// What kind of file a disk image is, from its own signatures: a raw disk, a
// container that The Sleuth Kit's image layer reads (VHD, VHDX, VMDK, E01),
// or another format the machine does not read (qcow2, VDI, ...), so that a
// technician's file is either read as the disk it holds or refused by name.
#pragma once

#include <cstdint>
#include <string>

namespace tavu::sim {

enum class ImageFormat : std::uint8_t {
  Raw,
  VhdFixed,
  VhdDynamic,
  Vhdx,
  Vmdk,
  E01,
  Unsupported,  // a known container the machine does not read
};

struct ImageKind {
  ImageFormat format = ImageFormat::Raw;
  // "VHD (fixed)", "qcow2", ...; empty for a raw disk.
  std::string name;
};

// head: the file's first bytes (up to 512); tail: its last 512 bytes (fewer
// when the file is shorter). A file that matches no signature is raw.
ImageKind IdentifyImage(const std::uint8_t* head, std::size_t headSize, const std::uint8_t* tail,
                        std::size_t tailSize);

// Whether the format is one the image layer reads (everything but Raw and
// Unsupported).
inline bool IsContainer(ImageFormat f) { return f != ImageFormat::Raw && f != ImageFormat::Unsupported; }

// Why the file at path cannot be used as a disk of this kind, one sentence
// naming the format and the conversion that makes it usable; "" when it can.
// write: the disk is to be written (containers are read only).
std::string FormatRefusal(const ImageKind& kind, const std::string& path, bool write);

// "a VHDX", "an E01".
std::string WithArticle(const std::string& formatName);

}  // namespace tavu::sim
