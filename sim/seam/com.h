// COM's apartments and process security on the simulated machine, kept per
// thread as COM keeps them, so that a wrong order of initialisations fails here
// the way it fails on Windows (RPC_E_CHANGED_MODE, RPC_E_TOO_LATE,
// CO_E_NOTINITIALIZED).
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/com_api.h"
#include "sim/core/faults.h"

namespace tavu::sim {

enum class Apartment { None, Multithreaded, SingleThreaded };

class SimCom : public ComApi {
 public:
  explicit SimCom(SimFaults& faults) : faults_(faults) {}

  HResult InitializeMultithreaded() override;
  HResult InitializeApartment() override;
  HResult InitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) override;
  void Uninitialize() override;

  // Whether the calling thread may use COM objects: it is in an apartment, or
  // it joins the process's multithreaded apartment implicitly while another
  // thread keeps that alive.
  bool Usable() const;
  // COM sets default security by itself the first time an object is reached
  // across processes; afterwards CoInitializeSecurity is too late.
  void TouchSecurity();

  // Forces the result of every following CoInitialize/CoInitializeEx, or of
  // CoInitializeSecurity (0: behave normally). A forced failure changes nothing.
  void SetInitializeResult(HResult hr);
  void SetSecurityResult(HResult hr);

  Apartment CurrentApartment() const;
  int CurrentCount() const;
  bool securitySet() const;
  // The levels of the explicit CoInitializeSecurity that succeeded.
  std::uint32_t securityAuthnLevel() const;
  std::uint32_t securityImpLevel() const;
  // CoUninitialize calls on a thread that was not initialised.
  std::size_t unbalancedUninitializes() const;
  // Every call in order, for example "CoInitializeEx(MULTITHREADED) = 0x00000000",
  // "CoInitialize = 0x80010106", "CoInitializeSecurity(6,3) = 0x80010119", "CoUninitialize".
  std::vector<std::string> calls() const;
  void ClearCalls();
  // A new process starts: no apartment entered, no security set.
  void NewProcess();

 private:
  struct ThreadState {
    Apartment apartment = Apartment::None;
    int count = 0;
  };
  HResult Enter(Apartment kind, const char* name);
  void Record(const std::string& call, HResult hr);

  SimFaults& faults_;
  mutable std::mutex lock_;
  std::map<std::thread::id, ThreadState> threads_;
  int multithreadedThreads_ = 0;
  bool securitySet_ = false;
  std::uint32_t authnLevel_ = 0;
  std::uint32_t impLevel_ = 0;
  std::size_t unbalanced_ = 0;
  HResult initializeResult_ = 0;
  HResult securityResult_ = 0;
  std::vector<std::string> calls_;
};

}  // namespace tavu::sim
