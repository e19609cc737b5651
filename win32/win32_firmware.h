#pragma once

#include "common/firmware_api.h"

namespace tavu::win32 {

class Win32Firmware : public FirmwareApi {
 public:
  Handle OpenDevice(const wchar_t* name) override;
  bool Control(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
               std::uint32_t outSize, std::uint32_t* returned) override;
};

}  // namespace tavu::win32
