// The launcher's process entry: the real Windows under the portable start-up.
#include <windows.h>
#include <winioctl.h>

#include "launcher/services/firmware_device.h"
#include "launcher/startup/launcher_main.h"
#include "launcher/ui/main_window.h"
#include "win32/dll_search.h"
#include "win32/win32_platform.h"

namespace {

static_assert(tavu::IOCTL_FIRMWARE_CALL ==
              CTL_CODE(FILE_DEVICE_UNKNOWN, 0x903, METHOD_BUFFERED, FILE_ANY_ACCESS));

class Win32Startup : public tavu::StartupApi {
 public:
  int LoadText(void* instance, std::uint32_t id, wchar_t* buffer, int capacity) override {
    return LoadStringW(static_cast<HINSTANCE>(instance), id, buffer, capacity);
  }
  void RegisterWindowClass(void* instance) override { tavu::RegisterMainWindowClass(instance); }
  // Either handle is held until the process ends: the mutex marks the running
  // launcher for as long as it lives.
  bool OpenNamedMutex(const wchar_t* name) override { return OpenMutexW(0, FALSE, name) != nullptr; }
  bool CreateNamedMutex(const wchar_t* name, std::uint32_t* error) override {
    SetLastError(ERROR_SUCCESS);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, name);
    *error = GetLastError();
    return mutex != nullptr;
  }
  int RunWindowMode(void* instance, int showCommand) override {
    return tavu::RunWindowMode(instance, showCommand);
  }
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int showCommand) {
  tavu::win32::RestrictDllSearchToSystem();
  tavu::win32::InstallWin32Platform();
  Win32Startup startup;
  return tavu::LauncherMain(startup, instance, commandLine, showCommand);
}
