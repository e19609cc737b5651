// The CoUninitialize that a successful CoInitialize owes, owned like a handle
// (WIL's unique_couninitialize_call): the call is made when the owner goes, on
// every path, and only after an initialise that succeeded.
#pragma once

#include "common/com_api.h"
#include "common/platform.h"

namespace tavu {

class UniqueCoUninitializeCall {
 public:
  UniqueCoUninitializeCall() = default;
  ~UniqueCoUninitializeCall() { reset(); }
  UniqueCoUninitializeCall(const UniqueCoUninitializeCall&) = delete;
  UniqueCoUninitializeCall& operator=(const UniqueCoUninitializeCall&) = delete;
  UniqueCoUninitializeCall(UniqueCoUninitializeCall&& other) noexcept : owed_(other.owed_) {
    other.owed_ = false;
  }
  UniqueCoUninitializeCall& operator=(UniqueCoUninitializeCall&& other) noexcept {
    if (this != &other) {
      reset();
      owed_ = other.owed_;
      other.owed_ = false;
    }
    return *this;
  }

  explicit operator bool() const { return owed_; }
  // CoUninitialize now, if one is owed.
  void reset() {
    if (owed_) {
      owed_ = false;
      Sys().com->Uninitialize();
    }
  }

  // CoInitialize(NULL) on the calling thread: a single-threaded apartment. A
  // failed initialise owes nothing, and the owner comes back empty; *result,
  // when given, is the initialise's HRESULT.
  [[nodiscard]] static UniqueCoUninitializeCall EnterApartment(HResult* result = nullptr) {
    UniqueCoUninitializeCall call;
    HResult hr = Sys().com->InitializeApartment();
    if (result != nullptr) *result = hr;
    call.owed_ = Succeeded(hr);
    return call;
  }

 private:
  bool owed_ = false;
};

}  // namespace tavu
