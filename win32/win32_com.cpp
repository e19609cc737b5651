#include "win32/win32_com.h"

// <windows.h> first: the other SDK headers build on it.
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

namespace tavu::win32 {

static_assert(kAuthnLevelDefault == RPC_C_AUTHN_LEVEL_DEFAULT);
static_assert(kAuthnLevelCall == RPC_C_AUTHN_LEVEL_CALL);
static_assert(kAuthnLevelPktPrivacy == RPC_C_AUTHN_LEVEL_PKT_PRIVACY);
static_assert(kImpLevelImpersonate == RPC_C_IMP_LEVEL_IMPERSONATE);
static_assert(kRpcETooLate == RPC_E_TOO_LATE);
static_assert(kRpcEChangedMode == RPC_E_CHANGED_MODE);
static_assert(kCoENotInitialized == CO_E_NOTINITIALIZED);

HResult Win32Com::InitializeMultithreaded() { return CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

HResult Win32Com::InitializeApartment() { return CoInitialize(nullptr); }

HResult Win32Com::InitializeSecurity(std::uint32_t authnLevel, std::uint32_t impLevel) {
  return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, authnLevel, impLevel, nullptr, EOAC_NONE,
                              nullptr);
}

void Win32Com::Uninitialize() { CoUninitialize(); }

}  // namespace tavu::win32
