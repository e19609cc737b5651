#include "launcher/services/firmware_device.h"

#include <bit>
#include <cstring>

#include "common/file_api.h"
#include "common/firmware_api.h"
#include "launcher/startup/globals.h"

namespace tavu {

// The request goes to the driver as the bytes of the record.
static_assert(std::endian::native == std::endian::little);

bool OpenFirmwareDevice() {
  g_firmwareDevice = Sys().firmware->OpenDevice(kFirmwareDeviceName);
  return IsValidHandle(g_firmwareDevice);
}

void CloseFirmwareDevice() {
  if (!IsValidHandle(g_firmwareDevice)) return;
  Sys().files->Close(g_firmwareDevice);
  g_firmwareDevice = nullptr;
}

bool CallFirmwareMethod(std::uint32_t argument, std::uint32_t* capacity, void* output) {
  FirmwareRequest request{kMethodBsts, sizeof(argument), argument};
  unsigned char reply[kFirmwareReplyBytes] = {};
  std::uint32_t returned = 0;
  bool ok = Sys().firmware->Control(g_firmwareDevice, IOCTL_FIRMWARE_CALL, &request, sizeof(request), reply,
                                    sizeof(reply), &returned);
  if (ok) {
    // A driver that claims more than the buffer it was given is not believed.
    std::uint32_t n = returned < *capacity ? returned : *capacity;
    if (n > sizeof(reply)) n = sizeof(reply);
    std::memcpy(output, reply, n);
    *capacity = n;
  }
  return ok;
}

bool QueryRecoveryStatus(std::int32_t* status) {
  if (!IsValidHandle(g_firmwareDevice)) return false;
  unsigned char result[4] = {};
  std::uint32_t capacity = sizeof(result);
  if (!CallFirmwareMethod(0, &capacity, result)) return false;
  std::int32_t value = 0;
  if (capacity >= 4) {
    value = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(result[0]) | (static_cast<std::uint32_t>(result[1]) << 8) |
        (static_cast<std::uint32_t>(result[2]) << 16) | (static_cast<std::uint32_t>(result[3]) << 24));
  }
  *status = value;
  return true;
}

}  // namespace tavu
