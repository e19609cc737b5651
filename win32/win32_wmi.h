#pragma once

#include "common/wmi_api.h"

namespace tavu::win32 {

// Every Handle handed out is the object's IUnknown pointer.
class Win32Wmi : public WmiApi {
 public:
  HResult Connect(const wchar_t* nameSpace, Handle* services) override;
  HResult Query(Handle services, const wchar_t* wql, Handle* enumerator) override;
  HResult Next(Handle enumerator, Handle* object) override;
  HResult GetText(Handle object, const wchar_t* property, wchar_t* out, std::size_t capacity) override;
  HResult GetInteger(Handle object, const wchar_t* property, std::int32_t* value) override;
  HResult ExecMethod(Handle services, const wchar_t* objectPath, const wchar_t* method,
                     Handle* outParameters) override;
  void Release(Handle object) override;
};

}  // namespace tavu::win32
