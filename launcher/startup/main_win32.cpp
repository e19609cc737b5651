// The launcher's process entry: the real Windows under the portable start-up.
#include <windows.h>
#include <winioctl.h>

#include "launcher/services/firmware_device.h"
#include "launcher/startup/launcher_main.h"
#include "launcher/ui/main_window.h"
#include "win32/dll_search.h"
#include "win32/local_security.h"
#include "win32/win32_platform.h"

namespace {

static_assert(tavu::IOCTL_FIRMWARE_CALL ==
              CTL_CODE(FILE_DEVICE_UNKNOWN, 0x903, METHOD_BUFFERED, FILE_ANY_ACCESS));

// A boundary descriptor named after the alias that holds the Administrators
// group: a process must have that group enabled in its token to make or open
// a namespace of it.
class AdminsBoundary {
 public:
  explicit AdminsBoundary(const wchar_t* alias) : boundary_(CreateBoundaryDescriptorW(alias, 0)) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    if (boundary_ != nullptr && (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) ||
                                 !AddSIDToBoundaryDescriptor(&boundary_, sid))) {
      DeleteBoundaryDescriptor(boundary_);
      boundary_ = nullptr;
    }
  }
  ~AdminsBoundary() {
    if (boundary_ != nullptr) DeleteBoundaryDescriptor(boundary_);
  }
  AdminsBoundary(const AdminsBoundary&) = delete;
  AdminsBoundary& operator=(const AdminsBoundary&) = delete;
  HANDLE get() const { return boundary_; }

 private:
  HANDLE boundary_;
};

class Win32Startup : public tavu::StartupApi {
 public:
  int LoadText(void* instance, std::uint32_t id, wchar_t* buffer, int capacity) override {
    return LoadStringW(static_cast<HINSTANCE>(instance), id, buffer, capacity);
  }
  void RegisterWindowClass(void* instance) override { tavu::RegisterMainWindowClass(instance); }
  // The namespace's handle is never closed: the namespace, and the mutex in
  // it, last as long as the launcher that made them.
  bool MakeAdminsNamespace(const wchar_t* alias, std::uint32_t* error) override {
    AdminsBoundary boundary(alias);
    if (boundary.get() == nullptr) {
      *error = GetLastError();
      return false;
    }
    tavu::win32::LocalSecurityDescriptor adminsOnly(L"D:P(A;;GA;;;BA)(A;;GA;;;SY)");
    if (adminsOnly.get() == nullptr) {
      *error = GetLastError();
      return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, adminsOnly.get(), FALSE};
    SetLastError(ERROR_SUCCESS);
    HANDLE space = CreatePrivateNamespaceW(&attributes, boundary.get(), alias);
    *error = GetLastError();
    return space != nullptr;
  }
  bool OpenAdminsNamespace(const wchar_t* alias) override {
    AdminsBoundary boundary(alias);
    return boundary.get() != nullptr && OpenPrivateNamespaceW(boundary.get(), alias) != nullptr;
  }
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
