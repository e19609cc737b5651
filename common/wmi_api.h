// WMI as the system checks use it: connect to a namespace, run a WQL query,
// walk its objects, read properties, call a method. Every object handed out is
// a COM object given back with Release.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/com_api.h"
#include "common/platform.h"

namespace tavu {

inline constexpr HResult kWbemSFalse = 1;  // Next: no more objects
inline constexpr HResult kWbemEFailed = HResultOf(0x80041001u);
inline constexpr HResult kWbemENotFound = HResultOf(0x80041002u);
inline constexpr HResult kWbemEInvalidNamespace = HResultOf(0x8004100Eu);
inline constexpr HResult kWbemEInvalidClass = HResultOf(0x80041010u);
inline constexpr HResult kWbemEInvalidQuery = HResultOf(0x80041017u);
inline constexpr HResult kWbemEInvalidMethod = HResultOf(0x8004102Eu);
inline constexpr HResult kWbemETypeMismatch = HResultOf(0x80041005u);

class WmiApi {
 public:
  virtual ~WmiApi() = default;

  // CoCreateInstance(CLSID_WbemLocator, NULL, CLSCTX_INPROC_SERVER,
  // IID_IWbemLocator), IWbemLocator::ConnectServer(ns, NULL, NULL, NULL, 0, NULL,
  // NULL) and CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE,
  // NULL, RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, NULL, EOAC_NONE).
  // On success *services is the services object; on failure nothing is held.
  virtual HResult Connect(const wchar_t* nameSpace, Handle* services) = 0;
  // IWbemServices::ExecQuery("WQL", wql, WBEM_FLAG_FORWARD_ONLY |
  // WBEM_FLAG_RETURN_IMMEDIATELY, NULL).
  virtual HResult Query(Handle services, const wchar_t* wql, Handle* enumerator) = 0;
  // IEnumWbemClassObject::Next(WBEM_INFINITE, 1): S_OK with *object, anything
  // else with *object null.
  virtual HResult Next(Handle enumerator, Handle* object) = 0;
  // IWbemClassObject::Get(property, 0) of a text value, copied with CopyBounded
  // (cut to capacity - 1 characters); the VARIANT is cleared. A value that is not
  // text gives WBEM_E_TYPE_MISMATCH and leaves out untouched.
  virtual HResult GetText(Handle object, const wchar_t* property, wchar_t* out, std::size_t capacity) = 0;
  // IWbemClassObject::Get(property, 0) of a 32-bit integer value.
  virtual HResult GetInteger(Handle object, const wchar_t* property, std::int32_t* value) = 0;
  // IWbemServices::ExecMethod(objectPath, method, 0, NULL, NULL, &out, NULL).
  virtual HResult ExecMethod(Handle services, const wchar_t* objectPath, const wchar_t* method,
                             Handle* outParameters) = 0;
  // IUnknown::Release of any object above.
  virtual void Release(Handle object) = 0;
};

}  // namespace tavu
