// Minimal PE images with a resource section, for reading version information
// on the simulated machine (and for the older launcher that tavu-sim demo
// installs). The offsets of the structures are returned so that
// tests can damage exactly one of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavu::images {

struct BuiltPe {
  std::string bytes;
  std::size_t peHeader = 0;        // "PE\0\0"
  std::size_t optionalHeader = 0;  // magic
  std::size_t sectionTable = 0;    // the one section header (.rsrc)
  std::size_t resourceRoot = 0;    // file offset of the resource directory
  std::size_t dataEntry = 0;       // file offset of the IMAGE_RESOURCE_DATA_ENTRY
  std::size_t versionData = 0;     // file offset of the VS_VERSIONINFO bytes
};

// A PE32 image (PE32+ when pe32Plus) whose only resource is RT_VERSION,
// identifier 1, language `language`, holding versionBlock. An empty block gives
// an image with no resource directory at all.
BuiltPe BuildPe(const std::string& versionBlock, bool pe32Plus = false, std::uint16_t language = 0x409);

}  // namespace tavu::images
