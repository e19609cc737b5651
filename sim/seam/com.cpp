#include "sim/seam/com.h"

#include <cstdio>

namespace tavu::sim {

void SimCom::Record(const std::string& call, HResult hr) {
  char text[96];
  (void)std::snprintf(text, sizeof(text), "%s = 0x%08X", call.c_str(), static_cast<unsigned>(hr));
  calls_.push_back(text);
}

HResult SimCom::Enter(Apartment kind, const char* name) {
  bool fail = faults_.Fail(SimOp::ComInit);
  std::lock_guard<std::mutex> hold(lock_);
  HResult hr = kSOk;
  ThreadState& t = threads_[std::this_thread::get_id()];
  if (fail) {
    hr = kEOutOfMemory;
  } else if (Failed(initializeResult_)) {
    hr = initializeResult_;
  } else if (t.apartment != Apartment::None && t.apartment != kind) {
    hr = kRpcEChangedMode;
  } else if (t.apartment == kind) {
    ++t.count;
    hr = kSFalse;
  } else {
    t.apartment = kind;
    t.count = 1;
    if (kind == Apartment::Multithreaded) ++multithreadedThreads_;
  }
  Record(name, hr);
  return hr;
}

HResult SimCom::InitializeMultithreaded() {
  return Enter(Apartment::Multithreaded, "CoInitializeEx(MULTITHREADED)");
}

HResult SimCom::InitializeApartment() { return Enter(Apartment::SingleThreaded, "CoInitialize"); }

HResult SimCom::InitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) {
  bool fail = faults_.Fail(SimOp::ComInit);
  bool usable = Usable();
  std::lock_guard<std::mutex> hold(lock_);
  HResult hr = kSOk;
  if (fail) {
    hr = kEFail;
  } else if (Failed(securityResult_)) {
    hr = securityResult_;
  } else if (!usable) {
    hr = kCoENotInitialized;
  } else if (securitySet_) {
    hr = kRpcETooLate;
  } else {
    securitySet_ = true;
    authnLevel_ = authnLevel;
    impLevel_ = impLevel;
  }
  Record("CoInitializeSecurity(" + std::to_string(authnLevel) + "," + std::to_string(impLevel) + ")", hr);
  return hr;
}

void SimCom::Uninitialize() {
  faults_.Fail(SimOp::ComInit);  // counted only: CoUninitialize cannot fail
  std::lock_guard<std::mutex> hold(lock_);
  calls_.push_back("CoUninitialize");
  auto it = threads_.find(std::this_thread::get_id());
  if (it == threads_.end() || it->second.count == 0) {
    ++unbalanced_;
    return;
  }
  if (--it->second.count == 0) {
    if (it->second.apartment == Apartment::Multithreaded) --multithreadedThreads_;
    it->second.apartment = Apartment::None;
  }
}

void SimCom::SetInitializeResult(HResult hr) {
  std::lock_guard<std::mutex> hold(lock_);
  initializeResult_ = hr;
}

void SimCom::SetSecurityResult(HResult hr) {
  std::lock_guard<std::mutex> hold(lock_);
  securityResult_ = hr;
}

bool SimCom::Usable() const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = threads_.find(std::this_thread::get_id());
  bool own = it != threads_.end() && it->second.apartment != Apartment::None;
  return own || multithreadedThreads_ > 0;
}

void SimCom::TouchSecurity() {
  std::lock_guard<std::mutex> hold(lock_);
  securitySet_ = true;
}

Apartment SimCom::CurrentApartment() const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = threads_.find(std::this_thread::get_id());
  return it == threads_.end() ? Apartment::None : it->second.apartment;
}

int SimCom::CurrentCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = threads_.find(std::this_thread::get_id());
  return it == threads_.end() ? 0 : it->second.count;
}

bool SimCom::securitySet() const {
  std::lock_guard<std::mutex> hold(lock_);
  return securitySet_;
}

std::uint32_t SimCom::securityAuthnLevel() const {
  std::lock_guard<std::mutex> hold(lock_);
  return authnLevel_;
}

std::uint32_t SimCom::securityImpLevel() const {
  std::lock_guard<std::mutex> hold(lock_);
  return impLevel_;
}

std::size_t SimCom::unbalancedUninitializes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return unbalanced_;
}

std::vector<std::string> SimCom::calls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return calls_;
}

void SimCom::ClearCalls() {
  std::lock_guard<std::mutex> hold(lock_);
  calls_.clear();
}

void SimCom::NewProcess() {
  std::lock_guard<std::mutex> hold(lock_);
  threads_.clear();
  multithreadedThreads_ = 0;
  securitySet_ = false;
}

}  // namespace tavu::sim
