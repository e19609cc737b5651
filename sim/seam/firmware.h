// The maker's ACPI control device on the simulated machine: absent, refusing
// the open, failing requests, or answering with programmed reply bytes.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/firmware_api.h"
#include "sim/core/faults.h"
#include "sim/core/handles.h"

namespace tavu::sim {

struct SimFirmwareRequest {
  std::uint32_t code = 0;
  std::vector<std::uint8_t> input;
  std::uint32_t outputCapacity = 0;
};

class SimFirmware : public FirmwareApi {
 public:
  SimFirmware(SimHandles& handles, SimFaults& faults) : handles_(handles), faults_(faults) {}

  Handle OpenDevice(const wchar_t* name) override;
  bool Control(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
               std::uint32_t outSize, std::uint32_t* returned) override;

  // The driver and its device "\\.\QVXACPI" exist (they do not from the start).
  void SetPresent(bool present);
  // The device exists but its open fails with this error (0: it opens).
  void SetOpenError(std::uint32_t error);
  // Every request fails with this error (0: requests succeed).
  void SetRequestError(std::uint32_t error);
  // The bytes of every reply (4 bytes of 0 from the start).
  void SetReply(const std::vector<std::uint8_t>& bytes);
  // A 4-byte little-endian reply.
  void SetReplyStatus(std::int32_t status);

  std::vector<std::wstring> opens() const;
  // The requests that reached the device.
  std::vector<SimFirmwareRequest> requests() const;
  // Every Control call, including those on a handle that is not the device.
  std::size_t controlCalls() const;

 private:
  SimHandles& handles_;
  SimFaults& faults_;
  mutable std::mutex lock_;
  bool present_ = false;
  std::uint32_t openError_ = 0;
  std::uint32_t requestError_ = 0;
  std::vector<std::uint8_t> reply_{0, 0, 0, 0};
  std::vector<std::wstring> opens_;
  std::vector<SimFirmwareRequest> requests_;
  std::size_t controlCalls_ = 0;
};

}  // namespace tavu::sim
