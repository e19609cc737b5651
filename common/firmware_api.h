// The maker's ACPI control device: opened like a file, spoken to with one
// device I/O control request.
#pragma once

#include <cstdint>

#include "common/platform.h"

namespace tavu {

class FirmwareApi {
 public:
  virtual ~FirmwareApi() = default;

  // CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ |
  // FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL). kInvalidHandle with LastError
  // set on failure. Closed with FileApi::Close (CloseHandle).
  virtual Handle OpenDevice(const wchar_t* name) = 0;
  // DeviceIoControl(device, code, in, inSize, out, outSize, &returned, NULL).
  virtual bool Control(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned) = 0;
};

}  // namespace tavu
