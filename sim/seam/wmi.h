// WMI of the simulated machine: Win32_ComputerSystem with its manufacturer and,
// in the BitLocker namespace, Win32_EncryptableVolume with GetProtectionStatus.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/wmi_api.h"
#include "sim/core/faults.h"
#include "sim/core/handles.h"
#include "sim/core/wow64.h"
#include "sim/seam/com.h"

namespace tavu::sim {

struct SimEncryptableVolume {
  std::wstring deviceId;     // "\\?\Volume{GUID}\"
  std::int32_t status = 0;   // ProtectionStatus: 0 off, 1 on, 2 unknown
  bool methodFails = false;  // GetProtectionStatus fails for this volume
};

struct SimWmiMethodCall {
  std::wstring objectPath;
  std::wstring method;
  HResult result = 0;
};

class SimWmi : public WmiApi {
 public:
  // wow64: the Task Scheduler and the WMI locator are in-process servers
  // under System32, which a thread with redirection off cannot load.
  SimWmi(SimHandles& handles, SimFaults& faults, SimCom& com, SimWow64& wow64)
      : handles_(handles), faults_(faults), com_(com), wow64_(wow64) {}

  HResult Connect(const wchar_t* nameSpace, Handle* services) override;
  HResult Query(Handle services, const wchar_t* wql, Handle* enumerator) override;
  HResult Next(Handle enumerator, Handle* object) override;
  HResult GetText(Handle object, const wchar_t* property, wchar_t* out, std::size_t capacity) override;
  HResult GetInteger(Handle object, const wchar_t* property, std::int32_t* value) override;
  HResult ExecMethod(Handle services, const wchar_t* objectPath, const wchar_t* method,
                     Handle* outParameters) override;
  void Release(Handle object) override;

  // One Win32_ComputerSystem with this manufacturer ("TAVU" from the start).
  void SetManufacturer(const std::wstring& text);
  // Win32_ComputerSystem.Model ("TAVU Notebook 14" from the start).
  void SetModel(const std::wstring& text) { model_ = text; }
  // Any number of Win32_ComputerSystem objects, none included.
  void SetComputerSystems(const std::vector<std::wstring>& manufacturers);
  // Encryptable volumes (none from the start).
  void SetEncryptableVolumes(const std::vector<SimEncryptableVolume>& volumes);
  // The DriveLetter of each volume, in order ("D:"; empty: none). Without
  // them, the first volume is C: and the others have none.
  void SetEncryptableVolumeLetters(std::vector<std::wstring> letters) { letters_ = std::move(letters); }
  // A volume with a made-up DeviceID, numbered in the order added.
  void AddEncryptableVolume(std::int32_t status, bool methodFails = false);
  // Whether ROOT\CIMV2\Security\MicrosoftVolumeEncryption exists (it does not on
  // editions without BitLocker).
  void SetBitLockerNamespace(bool present);
  // Forces the result of every following Connect or Query (0: behave normally).
  void SetConnectResult(HResult hr);
  void SetQueryResult(HResult hr);

  std::vector<std::wstring> connects() const;
  std::vector<std::wstring> queries() const;
  std::vector<SimWmiMethodCall> methodCalls() const;

 private:
  SimHandles& handles_;
  SimFaults& faults_;
  SimCom& com_;
  SimWow64& wow64_;
  mutable std::mutex lock_;
  std::vector<std::wstring> manufacturers_{L"TAVU"};
  std::wstring model_ = L"TAVU Notebook 14";
  std::vector<SimEncryptableVolume> volumes_;
  std::vector<std::wstring> letters_;
  bool bitLocker_ = true;
  HResult connectResult_ = 0;
  HResult queryResult_ = 0;
  std::vector<std::wstring> connects_;
  std::vector<std::wstring> queries_;
  std::vector<SimWmiMethodCall> methodCalls_;
};

}  // namespace tavu::sim
