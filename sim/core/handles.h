// One handle table for everything the simulated machine hands out, so a test can
// check that every handle of every kind was given back, through the right call.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "common/platform.h"

namespace tavu::sim {

enum class HandleKind : std::uint8_t { Kernel, FileSearch, VolumeSearch, ComObject };

struct SimObject {
  virtual ~SimObject() = default;
};

class SimHandles {
 public:
  Handle Add(std::unique_ptr<SimObject> object, HandleKind kind = HandleKind::Kernel);

  template <class T>
  T* Get(Handle h) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = table_.find(Key(h));
    return it == table_.end() ? nullptr : dynamic_cast<T*>(it->second.object.get());
  }

  // Closes a handle through the call of its kind. A wrong call (CloseHandle on a
  // search handle, say) fails and is counted as a misuse.
  bool Close(Handle h, HandleKind kind);
  // Closes a handle and gives its object to the caller; nullptr as Close fails.
  std::unique_ptr<SimObject> Take(Handle h, HandleKind kind);

  std::size_t OpenCount() const;
  std::size_t Misuses() const;

 private:
  struct Entry {
    std::unique_ptr<SimObject> object;
    HandleKind kind;
  };
  static std::uintptr_t Key(Handle h) { return reinterpret_cast<std::uintptr_t>(h); }

  mutable std::mutex lock_;
  std::map<std::uintptr_t, Entry> table_;
  std::uintptr_t next_ = 0x100;
  std::size_t misuses_ = 0;
};

}  // namespace tavu::sim
