// The firmware's recovery status, asked through the maker's ACPI control
// device "\\.\QVXACPI" (used by the "/AUTO" mode only).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavu {

// CTL_CODE(FILE_DEVICE_UNKNOWN 0x22, 0x903, METHOD_BUFFERED, FILE_ANY_ACCESS).
inline constexpr std::uint32_t IOCTL_FIRMWARE_CALL = 0x0022240C;
static_assert(IOCTL_FIRMWARE_CALL == ((0x22u << 16) | (0u << 14) | (0x903u << 2) | 0u));

inline constexpr wchar_t kFirmwareDeviceName[] = L"\\\\.\\QVXACPI";
// "BSTS" with its first character in the lowest byte.
inline constexpr std::uint32_t kMethodBsts = 0x53545342;
inline constexpr std::uint32_t kFirmwareReplyBytes = 1024;
// The status for which the launcher offers the recovery.
inline constexpr std::int32_t kRecoveryStatusOffer = 9;

// The driver's input record, little-endian on the wire as on x86.
struct FirmwareRequest {
  std::uint32_t method;          // four ASCII characters
  std::uint32_t argumentLength;  // bytes of argument data that follow
  std::uint32_t argument;
};
static_assert(sizeof(FirmwareRequest) == 12);
static_assert(offsetof(FirmwareRequest, method) == 0);
static_assert(offsetof(FirmwareRequest, argumentLength) == 4);
static_assert(offsetof(FirmwareRequest, argument) == 8);

// Opens the device into g_firmwareDevice (valid or not); true when it opened.
[[nodiscard]] bool OpenFirmwareDevice();
// A device that opened is closed and g_firmwareDevice set back to 0; the
// invalid value a failed open left stays, as the record of that failure.
void CloseFirmwareDevice();
// Runs "BSTS" with the argument on g_firmwareDevice. On entry *capacity is the
// room in output; on success it is the number of reply bytes copied there.
[[nodiscard]] bool CallFirmwareMethod(std::uint32_t argument, std::uint32_t* capacity, void* output);
// The recovery status: false without a device or when the request fails (then
// *status is untouched); a reply shorter than 4 bytes gives status 0.
[[nodiscard]] bool QueryRecoveryStatus(std::int32_t* status);

// g_firmwareDevice for the length of one query: opened when the owner is
// made, closed (CloseFirmwareDevice) when it goes, on every path.
class FirmwareDeviceSession {
 public:
  FirmwareDeviceSession() : opened_(OpenFirmwareDevice()) {}
  ~FirmwareDeviceSession() { CloseFirmwareDevice(); }
  FirmwareDeviceSession(const FirmwareDeviceSession&) = delete;
  FirmwareDeviceSession& operator=(const FirmwareDeviceSession&) = delete;
  explicit operator bool() const { return opened_; }

 private:
  bool opened_;
};

}  // namespace tavu
