#pragma once

#include "common/com_api.h"

namespace tavu::win32 {

class Win32Com : public ComApi {
 public:
  HResult InitializeMultithreaded() override;
  HResult InitializeApartment() override;
  HResult InitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) override;
  void Uninitialize() override;
};

}  // namespace tavu::win32
