#include "sim/seam/firmware.h"

#include <cstring>
#include <memory>

#include "common/win_errors.h"
#include "sim/core/last_error.h"

namespace tavu::sim {

namespace {

struct SimFirmwareDevice : SimObject {};

bool IsDeviceName(const std::wstring& name) {
  const std::wstring device = L"\\\\.\\QVXACPI";
  if (name.size() != device.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    wchar_t c = name[i];
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (c != device[i]) return false;
  }
  return true;
}

}  // namespace

Handle SimFirmware::OpenDevice(const wchar_t* name) {
  bool fail = faults_.Fail(SimOp::FirmwareOpen);
  std::lock_guard<std::mutex> hold(lock_);
  std::wstring n = name != nullptr ? name : L"";
  opens_.push_back(n);
  if (fail) {
    SetLastError(kErrorAccessDenied);
    return kInvalidHandle;
  }
  if (!present_ || !IsDeviceName(n)) {
    SetLastError(kErrorFileNotFound);
    return kInvalidHandle;
  }
  if (openError_ != 0) {
    SetLastError(openError_);
    return kInvalidHandle;
  }
  SetLastError(kErrorSuccess);
  return handles_.Add(std::make_unique<SimFirmwareDevice>());
}

bool SimFirmware::Control(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                          std::uint32_t outSize, std::uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  bool fail = faults_.Fail(SimOp::FirmwareCall);
  bool isDevice = handles_.Get<SimFirmwareDevice>(device) != nullptr;
  std::lock_guard<std::mutex> hold(lock_);
  ++controlCalls_;
  if (!isDevice) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  SimFirmwareRequest request;
  request.code = code;
  if (in != nullptr) {
    const auto* bytes = static_cast<const std::uint8_t*>(in);
    request.input.assign(bytes, bytes + inSize);
  }
  request.outputCapacity = outSize;
  requests_.push_back(request);
  if (fail || requestError_ != 0) {
    SetLastError(fail ? kErrorGenFailure : requestError_);
    return false;
  }
  if (out == nullptr || outSize < reply_.size()) {
    // METHOD_BUFFERED: a reply that does not fit is not delivered.
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  if (!reply_.empty()) std::memcpy(out, reply_.data(), reply_.size());
  if (returned != nullptr) *returned = static_cast<std::uint32_t>(reply_.size());
  SetLastError(kErrorSuccess);
  return true;
}

void SimFirmware::SetPresent(bool present) {
  std::lock_guard<std::mutex> hold(lock_);
  present_ = present;
}

void SimFirmware::SetOpenError(std::uint32_t error) {
  std::lock_guard<std::mutex> hold(lock_);
  openError_ = error;
}

void SimFirmware::SetRequestError(std::uint32_t error) {
  std::lock_guard<std::mutex> hold(lock_);
  requestError_ = error;
}

void SimFirmware::SetReply(const std::vector<std::uint8_t>& bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  reply_ = bytes;
}

void SimFirmware::SetReplyStatus(std::int32_t status) {
  auto v = static_cast<std::uint32_t>(status);
  SetReply({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

std::vector<std::wstring> SimFirmware::opens() const {
  std::lock_guard<std::mutex> hold(lock_);
  return opens_;
}

std::vector<SimFirmwareRequest> SimFirmware::requests() const {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

std::size_t SimFirmware::controlCalls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return controlCalls_;
}

}  // namespace tavu::sim
