// What the launcher's start-up asks of the simulated machine: its string
// table, the window class, the named mutexes of all processes, and the window
// mode (recorded; its behaviour can be replaced).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/startup_api.h"
#include "sim/core/faults.h"
#include "sim/core/handles.h"

namespace tavu::sim {

struct SimWindowModeCall {
  void* instance = nullptr;
  int showCommand = 0;
};

class SimStartup : public StartupApi {
 public:
  SimStartup(SimHandles& handles, SimFaults& faults) : handles_(handles), faults_(faults) {}

  int LoadText(void* instance, std::uint32_t id, wchar_t* buffer, int capacity) override;
  void RegisterWindowClass(void* instance) override;
  bool MakeAdminsNamespace(const wchar_t* alias, std::uint32_t* error) override;
  bool OpenAdminsNamespace(const wchar_t* alias) override;
  bool OpenNamedMutex(const wchar_t* name) override;
  bool CreateNamedMutex(const wchar_t* name, std::uint32_t* error) override;
  int RunWindowMode(void* instance, int showCommand) override;

  // Another process holds a mutex of this name (names are case-sensitive). A
  // plain name lies in the session's namespace, where any process of a
  // standard user may make it; "ALIAS\NAME" lies in the private namespace
  // ALIAS, which an elevated process then made.
  void HoldMutex(const std::wstring& name);
  // Windows refuses to make or open private namespaces (as for a process
  // whose token lacks the boundary's group).
  void SetNamespacesRefused(bool refused);
  bool MutexExists(const std::wstring& name) const;
  // Replaces a string of the launcher's table.
  void SetString(std::uint32_t id, const std::wstring& text);
  // What the window mode does (by default: nothing, exit code 0).
  void SetWindowMode(std::function<int(void*, int)> mode);
  // The process that made the launcher's namespace and mutexes has ended:
  // they are gone with it, and a new process starts without any entered.
  void EndProcess();

  std::vector<std::uint32_t> loadedStrings() const;
  std::vector<void*> classRegistrations() const;
  std::vector<std::wstring> mutexCalls() const;  // "open NAME", "create NAME"
  std::vector<SimWindowModeCall> windowModeCalls() const;

 private:
  SimHandles& handles_;
  SimFaults& faults_;
  mutable std::mutex lock_;
  std::map<std::uint32_t, std::wstring> strings_{{103, L"TAVUF9Recovery"}, {109, L"TAVUF9RECOVERY"}};
  std::set<std::wstring> mutexes_;
  std::set<std::wstring> namespaces_;  // made by an elevated process
  std::set<std::wstring> entered_;     // made or opened by this one
  std::set<std::wstring> madeNamespaces_;  // made by this one
  std::set<std::wstring> madeMutexes_;     // made by this one
  bool namespacesRefused_ = false;
  // The mutex name's namespace is reachable: the session's, or a private
  // one this process made or opened.
  bool Reachable(const std::wstring& name) const;
  std::function<int(void*, int)> windowMode_;
  std::vector<std::uint32_t> loaded_;
  std::vector<void*> registrations_;
  std::vector<std::wstring> mutexCalls_;
  std::vector<SimWindowModeCall> windowCalls_;
};

}  // namespace tavu::sim
