// The program's own resources and other programs' version information.
//
// The version calls stay one Windows call each, so the walk over the
// translation table and the building of each sub-block name are the logic's
// own, the same on every platform. Values come back as the raw bytes that
// VerQueryValueW points at: UTF-16LE text or little-endian binary records,
// read with common/utf16.h, because wchar_t is not UTF-16 everywhere.
#pragma once

#include <cstdint>

#include "common/platform.h"

namespace tavu {

class ResourceApi {
 public:
  virtual ~ResourceApi() = default;

  // FindResourceW(own module, MAKEINTRESOURCEW(id), type), LoadResource,
  // LockResource and SizeofResource. The bytes stay valid for the life of the
  // process; false when any of the four steps fails.
  virtual bool OwnResource(std::uint16_t id, const wchar_t* type, const std::uint8_t** bytes,
                           std::uint32_t* size) = 0;

  // GetFileVersionInfoSizeW: the size of the file's version information, 0 when
  // it has none (or the file cannot be read).
  virtual std::uint32_t VersionInfoSize(const wchar_t* path) = 0;
  // GetFileVersionInfoW(path, 0, size, block).
  virtual bool VersionInfo(const wchar_t* path, std::uint32_t size, void* block) = 0;
  // VerQueryValueW(block, subBlock, &value, &length). length is in UTF-16 units
  // for text values and in bytes for binary ones, as VerQueryValueW reports it.
  // *value stays null when the sub-block does not exist.
  virtual bool QueryValue(const void* block, const wchar_t* subBlock, const std::uint8_t** value,
                          std::uint32_t* length) = 0;
};

}  // namespace tavu
