#include "sim/core/faults.h"

namespace tavu::sim {

bool SimFaults::Fail(SimOp op) {
  std::lock_guard<std::mutex> hold(lock_);
  ++count_;
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

}  // namespace tavu::sim
