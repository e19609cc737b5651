#include "win32/win32_firmware.h"

#include <windows.h>

namespace tavu::win32 {

Handle Win32Firmware::OpenDevice(const wchar_t* name) {
  HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : h;
}

bool Win32Firmware::Control(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                            void* out, std::uint32_t outSize, std::uint32_t* returned) {
  DWORD got = 0;
  BOOL ok = DeviceIoControl(device, code, const_cast<void*>(in), inSize, out, outSize, &got, nullptr);
  if (returned != nullptr) *returned = got;
  return ok != FALSE;
}

}  // namespace tavu::win32
