// Version information of a Windows program file, read the way version.dll
// reads it: the RT_VERSION resource (identifier 1) of a PE image, and the
// VS_VERSIONINFO tree inside it. Every number in the file is outside input and
// is checked against what has been read before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tavu::sim {

// Reads size bytes at offset of the file; false unless all of them are there.
using ReadAtFn = std::function<bool(std::uint64_t offset, void* out, std::size_t size)>;

// Resource type and identifier that GetFileVersionInfoW looks up.
inline constexpr std::uint32_t kRtVersion = 16;
inline constexpr std::uint32_t kVsVersionInfoId = 1;
// VS_VERSIONINFO measures itself in 16 bits; a larger resource is not one.
inline constexpr std::uint32_t kMaxVersionResource = 0x10000;

// The bytes of the file's version resource. False when the file is no PE
// image, has no resource directory, no version resource, or any structure on
// the way lies outside the file.
bool ReadVersionResource(const ReadAtFn& read, std::uint64_t fileSize, std::vector<std::uint8_t>* out);

// VerQueryValueW over a block of blockSize bytes: subBlock is "\" (the root's
// VS_FIXEDFILEINFO) or a path of keys such as "\StringFileInfo\040904b0\FileVersion",
// matched without regard to ASCII case. *valueOffset is the value's offset in
// the block; *length counts UTF-16 units for text values and bytes for binary
// ones, never reaching past the value's node.
bool QueryVersionValue(const std::uint8_t* block, std::size_t blockSize, const wchar_t* subBlock,
                       std::size_t* valueOffset, std::uint32_t* length);

}  // namespace tavu::sim
