#include "sim/core/faults.h"

namespace tavu::sim {

bool SimFaults::Fail(SimOp op) {
  std::lock_guard<std::mutex> hold(lock_);
  ++count_;
  if (powerOff_) return true;
  if (failAll_.count(op) != 0) return true;
  if (failAt_ != 0 && count_ == failAt_) {
    injected_ = true;
    injectedOp_ = op;
    return true;
  }
  return false;
}

void SimFaults::FailNth(std::uint64_t k) {
  std::lock_guard<std::mutex> hold(lock_);
  failAt_ = k == 0 ? 0 : count_ + k;
  injected_ = false;
}

void SimFaults::FailAll(SimOp op, bool on) {
  std::lock_guard<std::mutex> hold(lock_);
  if (on) {
    failAll_.insert(op);
  } else {
    failAll_.erase(op);
  }
}

void SimFaults::Reset() {
  std::lock_guard<std::mutex> hold(lock_);
  count_ = 0;
  failAt_ = 0;
  injected_ = false;
  failAll_.clear();
}

std::uint64_t SimFaults::Count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return count_;
}

bool SimFaults::Injected(SimOp* op) const {
  std::lock_guard<std::mutex> hold(lock_);
  if (injected_ && op != nullptr) *op = injectedOp_;
  return injected_;
}

void SimFaults::CutPowerAfter(std::optional<std::uint64_t> n) {
  std::lock_guard<std::mutex> hold(lock_);
  cutAfter_ = n;
  pendingCut_ = n;
  writes_.clear();
  powerOff_ = false;
  cutDue_ = false;
}

bool SimFaults::PersistentWrite(const std::string& what) {
  std::lock_guard<std::mutex> hold(lock_);
  if (powerOff_) return false;
  if (cutDue_ || (pendingCut_.has_value() && writes_.size() >= *pendingCut_)) {
    powerOff_ = true;
    return false;
  }
  writes_.push_back(what);
  cutDue_ = pendingCut_.has_value() && writes_.size() >= *pendingCut_;
  return true;
}

void SimFaults::WriteDone() {
  std::lock_guard<std::mutex> hold(lock_);
  if (cutDue_) powerOff_ = true;
}

bool SimFaults::PowerOff() const {
  std::lock_guard<std::mutex> hold(lock_);
  return powerOff_;
}

void SimFaults::PowerOn() {
  std::lock_guard<std::mutex> hold(lock_);
  powerOff_ = false;
  cutDue_ = false;
  pendingCut_.reset();
}

std::vector<std::string> SimFaults::persistentWrites() const {
  std::lock_guard<std::mutex> hold(lock_);
  return writes_;
}

std::optional<std::uint64_t> SimFaults::powerCutAfter() const {
  std::lock_guard<std::mutex> hold(lock_);
  return cutAfter_;
}

}  // namespace tavu::sim
