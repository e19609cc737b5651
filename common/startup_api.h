// The few Windows calls that only the launcher's start-up makes: its string
// table, the window class, the private namespace and named mutex that keep it
// to one instance, and the window mode. Through this interface the whole
// start-up sequence runs on the simulated machine too.
#pragma once

#include <cstdint>

namespace tavu {

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

}  // namespace tavu
