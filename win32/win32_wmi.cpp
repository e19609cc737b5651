#include "win32/win32_wmi.h"

// <windows.h> first: the other SDK headers build on it.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>
// clang-format on

#include "common/wide_text.h"
#include "win32/com_ref.h"

namespace tavu::win32 {

namespace {

// {4590F811-1D3A-11D0-891F-00AA004B2E24} and {DC12A687-737F-11CF-884D-00AA004B2E24}.
const CLSID kClsidWbemLocator = {
    0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID kIidWbemLocator = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

static_assert(kWbemSFalse == WBEM_S_FALSE);
static_assert(kWbemENotFound == static_cast<HResult>(WBEM_E_NOT_FOUND));
static_assert(kWbemEInvalidNamespace == static_cast<HResult>(WBEM_E_INVALID_NAMESPACE));
static_assert(kWbemETypeMismatch == static_cast<HResult>(WBEM_E_TYPE_MISMATCH));

Handle Out(IUnknown* object) { return object; }

template <class T>
T* As(Handle h) {
  return static_cast<T*>(static_cast<IUnknown*>(h));
}

}  // namespace

HResult Win32Wmi::Connect(const wchar_t* nameSpace, Handle* services) {
  *services = nullptr;
  ComRef<IWbemLocator> locator;
  HRESULT hr =
      CoCreateInstance(kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER, kIidWbemLocator, locator.put_void());
  if (FAILED(hr)) return hr;
  Bstr ns(nameSpace);
  if (Bstr::Lost(nameSpace, ns)) return E_OUTOFMEMORY;
  ComRef<IWbemServices> connected;
  hr = locator->ConnectServer(ns.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, connected.put());
  if (FAILED(hr)) return hr;
  hr = CoSetProxyBlanket(connected.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                         RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(hr)) return hr;
  // The services object keeps what it needs of the locator.
  *services = Out(connected.release());
  return S_OK;
}

HResult Win32Wmi::Query(Handle services, const wchar_t* wql, Handle* enumerator) {
  *enumerator = nullptr;
  Bstr language(L"WQL");
  Bstr query(wql);
  if (Bstr::Lost(L"WQL", language) || Bstr::Lost(wql, query)) return E_OUTOFMEMORY;
  ComRef<IEnumWbemClassObject> e;
  HRESULT hr = As<IWbemServices>(services)->ExecQuery(
      language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, e.put());
  if (FAILED(hr)) return hr;
  *enumerator = Out(e.release());
  return S_OK;
}

HResult Win32Wmi::Next(Handle enumerator, Handle* object) {
  *object = nullptr;
  ComRef<IWbemClassObject> o;
  ULONG returned = 0;
  HRESULT hr =
      As<IEnumWbemClassObject>(enumerator)->Next(static_cast<LONG>(WBEM_INFINITE), 1, o.put(), &returned);
  if (hr != WBEM_S_NO_ERROR || returned != 1 || !o)
    return FAILED(hr) ? hr : static_cast<HRESULT>(WBEM_S_FALSE);
  *object = Out(o.release());
  return S_OK;
}

HResult Win32Wmi::GetText(Handle object, const wchar_t* property, wchar_t* out, std::size_t capacity) {
  Variant v;
  HRESULT hr = As<IWbemClassObject>(object)->Get(property, 0, v.put(), nullptr, nullptr);
  if (FAILED(hr)) return hr;
  if (v.get().vt != VT_BSTR) return WBEM_E_TYPE_MISMATCH;
  CopyBounded(out, capacity, v.get().bstrVal != nullptr ? v.get().bstrVal : L"");
  return S_OK;
}

HResult Win32Wmi::GetInteger(Handle object, const wchar_t* property, std::int32_t* value) {
  Variant v;
  HRESULT hr = As<IWbemClassObject>(object)->Get(property, 0, v.put(), nullptr, nullptr);
  if (FAILED(hr)) return hr;
  // WMI hands a uint32 property over as VT_I4.
  switch (v.get().vt) {
    case VT_I4:
      *value = v.get().lVal;
      return S_OK;
    case VT_UI4:
      *value = static_cast<std::int32_t>(v.get().ulVal);
      return S_OK;
    case VT_I2:
      *value = v.get().iVal;
      return S_OK;
    case VT_UI2:
      *value = v.get().uiVal;
      return S_OK;
    case VT_UI1:
      *value = v.get().bVal;
      return S_OK;
    default:
      return WBEM_E_TYPE_MISMATCH;
  }
}

HResult Win32Wmi::ExecMethod(Handle services, const wchar_t* objectPath, const wchar_t* method,
                             Handle* outParameters) {
  *outParameters = nullptr;
  Bstr path(objectPath);
  Bstr name(method);
  if (Bstr::Lost(objectPath, path) || Bstr::Lost(method, name)) return E_OUTOFMEMORY;
  ComRef<IWbemClassObject> out;
  HRESULT hr = As<IWbemServices>(services)->ExecMethod(path.get(), name.get(), 0, nullptr, nullptr, out.put(),
                                                       nullptr);
  if (FAILED(hr)) return hr;
  *outParameters = Out(out.release());
  return hr;
}

void Win32Wmi::Release(Handle object) {
  if (object != nullptr) static_cast<IUnknown*>(object)->Release();
}

}  // namespace tavu::win32
