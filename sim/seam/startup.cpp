#include "sim/seam/startup.h"

#include <memory>

#include "common/wide_text.h"
#include "common/win_errors.h"
#include "sim/core/last_error.h"

namespace tavu::sim {

namespace {
struct SimMutex : SimObject {};
constexpr std::uint32_t kErrorResourceNameNotFound = 1814;
}  // namespace

int SimStartup::LoadText(void*, std::uint32_t id, wchar_t* buffer, int capacity) {
  bool fail = faults_.Fail(SimOp::ResourceLoad);
  std::lock_guard<std::mutex> hold(lock_);
  loaded_.push_back(id);
  if (buffer == nullptr || capacity <= 0) return 0;
  buffer[0] = L'\0';
  auto it = strings_.find(id);
  if (fail || it == strings_.end()) {
    SetLastError(kErrorResourceNameNotFound);
    return 0;
  }
  // LoadStringW cuts to the buffer, terminator included.
  CopyBounded(buffer, static_cast<std::size_t>(capacity), it->second.c_str());
  return static_cast<int>(std::wstring(buffer).size());
}

void SimStartup::RegisterWindowClass(void* instance) {
  faults_.Fail(SimOp::WindowClass);  // counted only: its result is not used
  std::lock_guard<std::mutex> hold(lock_);
  registrations_.push_back(instance);
}

bool SimStartup::MakeAdminsNamespace(const wchar_t* alias, std::uint32_t* error) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::wstring a = alias != nullptr ? alias : L"";
  std::uint32_t e = kErrorSuccess;
  if (namespacesRefused_) {
    e = kErrorAccessDenied;
  } else if (namespaces_.count(a) != 0) {
    e = kErrorAlreadyExists;
  } else {
    namespaces_.insert(a);
    entered_.insert(a);
    madeNamespaces_.insert(a);
  }
  SetLastError(e);
  if (error != nullptr) *error = e;
  return e == kErrorSuccess;
}

bool SimStartup::OpenAdminsNamespace(const wchar_t* alias) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::wstring a = alias != nullptr ? alias : L"";
  if (namespacesRefused_ || namespaces_.count(a) == 0) {
    SetLastError(namespacesRefused_ ? kErrorAccessDenied : kErrorPathNotFound);
    return false;
  }
  entered_.insert(a);
  SetLastError(kErrorSuccess);
  return true;
}

bool SimStartup::Reachable(const std::wstring& name) const {
  const std::size_t slash = name.find(L'\\');
  return slash == std::wstring::npos || entered_.count(name.substr(0, slash)) != 0;
}

void SimStartup::SetNamespacesRefused(bool refused) {
  std::lock_guard<std::mutex> hold(lock_);
  namespacesRefused_ = refused;
}

bool SimStartup::OpenNamedMutex(const wchar_t* name) {
  bool fail = faults_.Fail(SimOp::NamedMutex);
  std::lock_guard<std::mutex> hold(lock_);
  std::wstring n = name != nullptr ? name : L"";
  mutexCalls_.push_back(L"open " + n);
  if (fail) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  if (!Reachable(n)) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  if (mutexes_.count(n) == 0) {
    SetLastError(kErrorFileNotFound);
    return false;
  }
  handles_.Add(std::make_unique<SimMutex>());
  SetLastError(kErrorSuccess);
  return true;
}

bool SimStartup::CreateNamedMutex(const wchar_t* name, std::uint32_t* error) {
  bool fail = faults_.Fail(SimOp::NamedMutex);
  std::lock_guard<std::mutex> hold(lock_);
  std::wstring n = name != nullptr ? name : L"";
  mutexCalls_.push_back(L"create " + n);
  std::uint32_t e = kErrorSuccess;
  bool made = true;
  if (fail || !Reachable(n)) {
    e = fail ? kErrorAccessDenied : kErrorPathNotFound;
    made = false;
  } else if (mutexes_.count(n) != 0) {
    e = kErrorAlreadyExists;  // a handle to the existing one, not owned
  } else {
    mutexes_.insert(n);
    madeMutexes_.insert(n);
  }
  if (made) handles_.Add(std::make_unique<SimMutex>());
  SetLastError(e);
  if (error != nullptr) *error = e;
  return made;
}

int SimStartup::RunWindowMode(void* instance, int showCommand) {
  std::function<int(void*, int)> mode;
  {
    std::lock_guard<std::mutex> hold(lock_);
    windowCalls_.push_back(SimWindowModeCall{instance, showCommand});
    mode = windowMode_;
  }
  return mode ? mode(instance, showCommand) : 0;
}

void SimStartup::HoldMutex(const std::wstring& name) {
  std::lock_guard<std::mutex> hold(lock_);
  mutexes_.insert(name);
  const std::size_t slash = name.find(L'\\');
  if (slash != std::wstring::npos) namespaces_.insert(name.substr(0, slash));
}

bool SimStartup::MutexExists(const std::wstring& name) const {
  std::lock_guard<std::mutex> hold(lock_);
  return mutexes_.count(name) != 0;
}

void SimStartup::SetString(std::uint32_t id, const std::wstring& text) {
  std::lock_guard<std::mutex> hold(lock_);
  strings_[id] = text;
}

void SimStartup::SetWindowMode(std::function<int(void*, int)> mode) {
  std::lock_guard<std::mutex> hold(lock_);
  windowMode_ = std::move(mode);
}

std::vector<std::uint32_t> SimStartup::loadedStrings() const {
  std::lock_guard<std::mutex> hold(lock_);
  return loaded_;
}

std::vector<void*> SimStartup::classRegistrations() const {
  std::lock_guard<std::mutex> hold(lock_);
  return registrations_;
}

std::vector<std::wstring> SimStartup::mutexCalls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return mutexCalls_;
}

std::vector<SimWindowModeCall> SimStartup::windowModeCalls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return windowCalls_;
}

void SimStartup::EndProcess() {
  std::lock_guard<std::mutex> hold(lock_);
  for (const std::wstring& name : madeMutexes_) mutexes_.erase(name);
  for (const std::wstring& name : madeNamespaces_) namespaces_.erase(name);
  madeMutexes_.clear();
  madeNamespaces_.clear();
  entered_.clear();
}

}  // namespace tavu::sim
