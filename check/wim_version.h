// The Windows version of the recovery image, as the WIM's own XML data names
// it (WINDOWS/VERSION of the image that boots): what decides which servicing
// update applies to Windows RE.
#pragma once

#include <cstddef>
#include <cstdint>

#include "launcher/arming/recovery_image.h"

namespace tavu::check {

struct WimVersion {
  bool found = false;  // the image has a VERSION element
  enum Field : std::uint8_t { kMajor, kMinor, kBuild, kSpBuild, kFields };
  bool has[kFields] = {};
  std::uint32_t value[kFields] = {};
};

// XML data larger than this is not read; a recovery image's is a few KiB.
inline constexpr std::uint64_t kMaxWimXmlBytes = 1u << 20;

// Reads bytes (UTF-16LE, a byte-order mark allowed) as a WIM's XML data: the
// IMAGE whose INDEX is bootIndex (the first IMAGE when bootIndex is 0), its
// WINDOWS/VERSION. Never reads past size; malformed text gives found false.
[[nodiscard]] WimVersion ParseWimXmlVersion(const std::uint8_t* bytes, std::size_t size,
                                            std::uint32_t bootIndex);

// Reads the XML data of the image file at path (made openable as the launcher
// opens it) that header describes. found false when it is compressed, too
// large, or cannot be read.
[[nodiscard]] WimVersion ReadWimVersion(const wchar_t* path, const WimHeader& header);

}  // namespace tavu::check
