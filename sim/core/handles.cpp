#include "sim/core/handles.h"

namespace tavu::sim {

Handle SimHandles::Add(std::unique_ptr<SimObject> object, HandleKind kind) {
  std::lock_guard<std::mutex> hold(lock_);
  next_ += 4;  // Windows handles are multiples of four, too
  table_[next_] = Entry{std::move(object), kind};
  return reinterpret_cast<Handle>(next_);
}

bool SimHandles::Close(Handle h, HandleKind kind) {
  // The object goes once the lock is given back.
  return Take(h, kind) != nullptr;
}

std::unique_ptr<SimObject> SimHandles::Take(Handle h, HandleKind kind) {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = table_.find(Key(h));
  if (it == table_.end() || it->second.kind != kind) {
    ++misuses_;
    return nullptr;
  }
  std::unique_ptr<SimObject> object = std::move(it->second.object);
  table_.erase(it);
  return object;
}

std::size_t SimHandles::OpenCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return table_.size();
}

std::size_t SimHandles::Misuses() const {
  std::lock_guard<std::mutex> hold(lock_);
  return misuses_;
}

}  // namespace tavu::sim
