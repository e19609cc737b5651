#pragma once

#include "common/resource_api.h"

namespace tavu::win32 {

class Win32Resources : public ResourceApi {
 public:
  bool OwnResource(std::uint16_t id, const wchar_t* type, const std::uint8_t** bytes,
                   std::uint32_t* size) override;
  std::uint32_t VersionInfoSize(const wchar_t* path) override;
  bool VersionInfo(const wchar_t* path, std::uint32_t size, void* block) override;
  bool QueryValue(const void* block, const wchar_t* subBlock, const std::uint8_t** value,
                  std::uint32_t* length) override;
};

}  // namespace tavu::win32
