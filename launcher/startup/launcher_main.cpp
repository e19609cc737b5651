#include "launcher/startup/launcher_main.h"

#include <cwchar>

#include "common/com_api.h"
#include "common/error_mode.h"
#include "common/ui_api.h"
#include "common/wide_text.h"
#include "common/win_errors.h"
#include "launcher/arming/disarm.h"
#include "launcher/arming/system_checks.h"
#include "launcher/services/firmware_device.h"
#include "launcher/services/fw_mode_tool.h"
#include "launcher/startup/globals.h"

namespace tavu {

wchar_t g_windowTitle[kResourceTextChars] = {};
wchar_t g_windowClassName[kResourceTextChars] = {};

namespace {

constexpr wchar_t kGateText[] =
    L"Recovery partition cannot be found! Recovery process is aborted. Please contact TAVU Service Center "
    L"for further assistance.";
constexpr wchar_t kAbortCaption[] = L"Recovery Aborted";

// True when another launcher already holds the instance mutex. Any process
// of the session may make a mutex under the plain name, so the launcher's
// lies in its private namespace, which an elevated launcher on Windows
// always gets. Where Windows offers none (Wine has none), the session's
// name is the only place left.
bool AnotherLauncherRuns(StartupApi& api) {
  std::uint32_t error = 0;
  const bool inNamespace = api.MakeAdminsNamespace(kInstanceNamespace, &error) ||
                           (error == kErrorAlreadyExists && api.OpenAdminsNamespace(kInstanceNamespace));
  wchar_t name[kPathChars];
  if (!inNamespace) {
    CopyBounded(name, kPathChars, kInstanceMutexName);
  } else if (FormatBounded(name, kPathChars, L"%ls\\%ls", kInstanceNamespace, kInstanceMutexName) < 0) {
    return false;
  }
  if (api.OpenNamedMutex(name)) return true;
  api.CreateNamedMutex(name, &error);
  return error == kErrorAlreadyExists;
}

// "/AUTO": true when the firmware asks for the recovery to be offered.
bool FirmwareOffersRecovery() {
  std::int32_t status = 0;
  {
    // Closed straight after the query, before anything is printed.
    FirmwareDeviceSession device;
    if (!device) return false;
    // A failed request leaves the status at 0, which offers nothing.
    static_cast<void>(QueryRecoveryStatus(&status));
  }
  wchar_t text[kPathChars] = {};
  FormatBounded(text, kPathChars, L"ret = %d\nGet returen value from BIOS (BSTS)--> %d", 0, status);
  Sys().ui->DebugOutput(text);
  return status == kRecoveryStatusOffer;
}

}  // namespace

int LauncherMain(StartupApi& api, void* instance, const wchar_t* commandLine, int showCommand) {
  FailCriticalErrorsQuietly();
  api.LoadText(instance, kStringWindowTitle, g_windowTitle, static_cast<int>(kResourceTextChars));
  api.LoadText(instance, kStringWindowClassName, g_windowClassName, static_cast<int>(kResourceTextChars));
  api.RegisterWindowClass(instance);

  if (AnotherLauncherRuns(api)) return 0;

  ComApi& com = *Sys().com;
  if (Failed(com.InitializeMultithreaded())) return 0;
  if (Failed(com.InitializeSecurity(kAuthnLevelDefault, kImpLevelImpersonate))) {
    com.Uninitialize();
    return 0;
  }
  g_comReady = 1;

  // Before the command line is looked at, so that it guards every mode.
  if (!CheckManufacturer()) {
    Sys().ui->ShowMessage(nullptr, kGateText, kAbortCaption, kMbOk);
    return 1;
  }

  // The line is handled within a path-sized buffer. A longer one is cut to its
  // first 259 characters: the cut text is longer than every mode switch, so it
  // can only open the window, with whatever switch flags its first part holds.
  wchar_t line[kPathChars] = {};
  CopyBounded(line, kPathChars, commandLine != nullptr ? commandLine : L"");
  UpperAscii(line, kPathChars);
  if (Contains(line, L"/DEBUG")) g_debugSwitch = 1;
  if (Contains(line, L"/LOG")) g_logSwitch = 1;

  if (std::wcscmp(line, L"/AUTO") == 0 && !FirmwareOffersRecovery()) return 0;
  if (std::wcscmp(line, L"/CHECK") == 0 || std::wcscmp(line, L"/DISABLE") == 0) {
    static_cast<void>(Disarm());
    return 0;
  }
  if (std::wcscmp(line, L"/ENABLE") == 0) {
    RunFwModeTool(true);
    return 0;
  }
  return api.RunWindowMode(instance, showCommand);
}

}  // namespace tavu
