// The launcher's start-up: single instance, COM, the manufacturer gate, the
// switches and the one mode a run executes. The few Windows calls that only
// start-up makes come through StartupApi, so the whole sequence runs on the
// simulated machine too.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavu {

inline constexpr std::size_t kResourceTextChars = 100;
inline constexpr std::uint32_t kStringWindowTitle = 103;      // "TAVUF9Recovery"
inline constexpr std::uint32_t kStringWindowClassName = 109;  // "TAVUF9RECOVERY"
inline constexpr wchar_t kInstanceMutexName[] = L"TAVU F9 Recovery";
// The private namespace that holds the instance mutex: only a process with
// the Administrators group enabled can make or open one of this boundary, so
// no process of a standard user can hold the name first. Its alias prefixes
// the names in it: "TavuRecovery\TAVU F9 Recovery".
inline constexpr wchar_t kInstanceNamespace[] = L"TavuRecovery";

// Loaded by start-up before the window class is registered; the window uses them.
extern wchar_t g_windowTitle[kResourceTextChars];
extern wchar_t g_windowClassName[kResourceTextChars];

class StartupApi {
 public:
  virtual ~StartupApi() = default;

  // LoadStringW(instance, id, buffer, capacity).
  virtual int LoadText(void* instance, std::uint32_t id, wchar_t* buffer, int capacity) = 0;
  // RegisterMainWindowClass(instance); its result is not used.
  virtual void RegisterWindowClass(void* instance) = 0;
  // CreateBoundaryDescriptorW(alias) with the Administrators group added
  // (AddSIDToBoundaryDescriptor), then CreatePrivateNamespaceW(descriptor
  // granting Administrators and SYSTEM alone, boundary, alias); *error is
  // GetLastError() right after it (ERROR_ALREADY_EXISTS when another process
  // made it first). The namespace is held until the process ends.
  virtual bool MakeAdminsNamespace(const wchar_t* alias, std::uint32_t* error) = 0;
  // OpenPrivateNamespaceW(the same boundary, alias), held likewise.
  virtual bool OpenAdminsNamespace(const wchar_t* alias) = 0;
  // OpenMutexW(0, FALSE, name): true when it gave a handle. That handle, like
  // the created one, is held until the process ends.
  virtual bool OpenNamedMutex(const wchar_t* name) = 0;
  // CreateMutexW(NULL, TRUE, name); *error is GetLastError() right after it
  // (ERROR_ALREADY_EXISTS when another process made it first, 0 for a new one).
  virtual bool CreateNamedMutex(const wchar_t* name, std::uint32_t* error) = 0;
  // RunWindowMode(instance, showCommand): the process exit code.
  virtual int RunWindowMode(void* instance, int showCommand) = 0;
};

// wWinMain after the platform is installed. commandLine is the line without
// the program name (null counts as empty); it is read, never written. Returns
// the process exit code.
int LauncherMain(StartupApi& api, void* instance, const wchar_t* commandLine, int showCommand);

}  // namespace tavu
