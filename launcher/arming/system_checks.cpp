#include "launcher/arming/system_checks.h"

#include <cwchar>

#include "common/com_api.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "common/win_errors.h"
#include "common/wmi_api.h"
#include "launcher/startup/globals.h"

namespace tavu {

namespace {

bool ReleaseWmiObject(Handle object) {
  Sys().wmi->Release(object);
  return true;
}
using WmiObject = UniqueHandleOf<&ReleaseWmiObject>;

// The path of one Win32_EncryptableVolume: the prefix already ends in the four
// characters \\?\ that are cut off the DeviceID, so a well-formed DeviceID is
// quoted unchanged. False when the path does not fit.
bool EncryptableVolumePath(const wchar_t* deviceId, wchar_t (&path)[kPathChars]) {
  const wchar_t* rest = std::wcslen(deviceId) >= 4 ? deviceId + 4 : L"";
  return FormatBounded(path, kPathChars, L"Win32_EncryptableVolume.DeviceID='\\\\?\\%ls'", rest) >= 0;
}

}  // namespace

int Is64BitWindows() {
  bool present = false;
  std::uint32_t error = 0;
  if (Sys().system->SystemWow64Directory(&present, &error)) return 1;
  if (!present) return 0;
  // 32-bit Windows has the function but answers "not implemented"; any other
  // failure still means a WOW64 layer exists.
  return error == kErrorCallNotImplemented ? 0 : 1;
}

int CheckManufacturer(wchar_t* reported) {
  WmiApi& wmi = *Sys().wmi;
  wchar_t manufacturer[kPathChars] = {};

  Handle rawServices = nullptr;
  if (Failed(wmi.Connect(L"ROOT\\CIMV2", &rawServices))) {
    Sys().com->Uninitialize();
    return 0;
  }
  WmiObject services(rawServices);
  Handle rawEnum = nullptr;
  if (Failed(wmi.Query(services.get(), L"SELECT * FROM Win32_ComputerSystem", &rawEnum))) {
    services.reset();
    Sys().com->Uninitialize();
    return 0;
  }
  WmiObject objects(rawEnum);
  for (;;) {
    Handle rawObject = nullptr;
    if (wmi.Next(objects.get(), &rawObject) != kSOk || !IsValidHandle(rawObject)) break;
    WmiObject system(rawObject);
    // The last system's text counts; one without a readable text counts as empty.
    if (Failed(wmi.GetText(system.get(), L"Manufacturer", manufacturer, kPathChars))) manufacturer[0] = L'\0';
  }
  objects.reset();
  services.reset();

  if (reported != nullptr) CopyBounded(reported, kPathChars, manufacturer);
  UpperAscii(manufacturer, kPathChars);
  return Contains(manufacturer, L"TAVU") ? 1 : 0;
}

namespace {

void QueryFailed(ProtectionReport* report, HResult hr) {
  if (report == nullptr) return;
  report->failed = true;
  report->failure = static_cast<std::int32_t>(hr);
}

ProtectionReport::Volume* Reported(ProtectionReport* report, const wchar_t* deviceId) {
  if (report == nullptr) return nullptr;
  std::size_t at = report->count++;
  if (at >= ProtectionReport::kRoom) return nullptr;
  ProtectionReport::Volume& v = report->volumes[at];
  CopyBounded(v.deviceId, kPathChars, deviceId);
  return &v;
}

}  // namespace

int IsVolumeProtected(ProtectionReport* report) {
  ComApi& com = *Sys().com;
  WmiApi& wmi = *Sys().wmi;
  if (g_comReady == 0) {
    if (Failed(com.InitializeMultithreaded())) return 0;
    if (Failed(com.InitializeSecurity(kAuthnLevelDefault, kImpLevelImpersonate))) {
      com.Uninitialize();
      return 0;
    }
  }

  Handle rawServices = nullptr;
  HResult hr = wmi.Connect(L"ROOT\\CIMV2\\Security\\MicrosoftVolumeEncryption", &rawServices);
  if (Failed(hr)) {
    QueryFailed(report, hr);
    com.Uninitialize();
    return 0;
  }
  WmiObject services(rawServices);
  Handle rawEnum = nullptr;
  hr = wmi.Query(services.get(), L"SELECT * FROM Win32_EncryptableVolume", &rawEnum);
  if (Failed(hr)) {
    QueryFailed(report, hr);
    services.reset();
    com.Uninitialize();
    return 0;
  }
  WmiObject volumes(rawEnum);

  int result = 0;
  for (;;) {
    Handle rawVolume = nullptr;
    if (wmi.Next(volumes.get(), &rawVolume) != kSOk || !IsValidHandle(rawVolume)) break;
    WmiObject volume(rawVolume);

    wchar_t deviceId[kPathChars] = {};
    wchar_t path[kPathChars] = {};
    Handle rawOut = nullptr;
    hr = wmi.GetText(volume.get(), L"DeviceID", deviceId, kPathChars);
    if (Succeeded(hr)) hr = EncryptableVolumePath(deviceId, path) ? kSOk : kWbemEFailed;
    if (Succeeded(hr)) hr = wmi.ExecMethod(services.get(), path, L"GetProtectionStatus", &rawOut);
    bool asked = Succeeded(hr);
    ProtectionReport::Volume* reported = Reported(report, deviceId);
    if (reported != nullptr && Failed(wmi.GetText(volume.get(), L"DriveLetter", reported->letter, 4))) {
      reported->letter[0] = L'\0';
    }
    if (!asked) {
      QueryFailed(report, hr);
      // A volume that cannot be asked ends the check. It must not undo what an
      // earlier volume reported: a machine seen protected stays protected, or
      // the worker would go on to arm it.
      if (IsValidHandle(rawOut)) wmi.Release(rawOut);
      volume.reset();
      volumes.reset();
      services.reset();
      com.Uninitialize();
      return result;
    }
    WmiObject out(rawOut);
    std::int32_t status = 0;
    bool read = Succeeded(wmi.GetInteger(out.get(), L"ProtectionStatus", &status));
    if (reported != nullptr) {
      reported->asked = read;
      reported->status = status;
    }
    // 1: protection on, 2: unknown (for example a locked volume); both forbid arming.
    if (read && (status == 1 || status == 2)) result = 1;
  }
  return result;
}

}  // namespace tavu
