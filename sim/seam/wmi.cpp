#include "sim/seam/wmi.h"

#include <cwchar>
#include <map>
#include <memory>

#include "common/wide_text.h"
#include "sim/core/text.h"

namespace tavu::sim {

namespace {

const wchar_t kCimv2[] = L"ROOT\\CIMV2";
const wchar_t kBitLocker[] = L"ROOT\\CIMV2\\Security\\MicrosoftVolumeEncryption";
const wchar_t kVolumePathPrefix[] = L"Win32_EncryptableVolume.DeviceID='";

struct Value {
  bool isText = false;
  std::wstring text;
  std::int32_t number = 0;
};
using Properties = std::map<std::wstring, Value>;  // property names upper-cased

struct SimWmiServices : SimObject {
  std::wstring nameSpace;
};
struct SimWmiEnum : SimObject {
  std::vector<Properties> objects;
  std::size_t next = 0;
};
struct SimWmiObject : SimObject {
  Properties properties;
};

Value Text(const std::wstring& s) { return Value{true, s, 0}; }
Value Number(std::int32_t n) { return Value{false, L"", n}; }

// "SELECT * FROM <class>", keywords and class name without regard to case, as
// WQL reads them. The class name, or empty when the text is not such a query.
std::wstring SelectAllClass(const std::wstring& wql) {
  std::wstring u = AsciiUpper(wql);
  const std::wstring head = L"SELECT * FROM ";
  if (u.compare(0, head.size(), head) != 0) return L"";
  std::wstring cls = u.substr(head.size());
  if (cls.empty() || cls.find(L' ') != std::wstring::npos) return L"";
  return cls;
}

}  // namespace

HResult SimWmi::Connect(const wchar_t* nameSpace, Handle* services) {
  *services = nullptr;
  if (faults_.Fail(SimOp::WmiCall)) return kWbemEFailed;
  if (!com_.Usable()) return kCoENotInitialized;
  if (!wow64_.InProcessServerLoads()) return kHResultBadExeFormat;
  std::lock_guard<std::mutex> hold(lock_);
  std::wstring ns = nameSpace != nullptr ? nameSpace : L"";
  connects_.push_back(ns);
  if (connectResult_ != 0) return connectResult_;
  std::wstring u = AsciiUpper(ns);
  if (u != AsciiUpper(kCimv2) && !(bitLocker_ && u == AsciiUpper(kBitLocker))) return kWbemEInvalidNamespace;
  // The WMI service is another process: reaching it fixes the process's security.
  com_.TouchSecurity();
  auto s = std::make_unique<SimWmiServices>();
  s->nameSpace = u;
  *services = handles_.Add(std::move(s), HandleKind::ComObject);
  return kSOk;
}

HResult SimWmi::Query(Handle services, const wchar_t* wql, Handle* enumerator) {
  *enumerator = nullptr;
  if (faults_.Fail(SimOp::WmiCall)) return kWbemEFailed;
  SimWmiServices* s = handles_.Get<SimWmiServices>(services);
  if (s == nullptr) return kEInvalidArg;
  std::lock_guard<std::mutex> hold(lock_);
  std::wstring text = wql != nullptr ? wql : L"";
  queries_.push_back(text);
  if (queryResult_ != 0) return queryResult_;
  std::wstring cls = SelectAllClass(text);
  if (cls.empty()) return kWbemEInvalidQuery;
  auto e = std::make_unique<SimWmiEnum>();
  if (s->nameSpace == AsciiUpper(kCimv2) && cls == L"WIN32_COMPUTERSYSTEM") {
    for (const std::wstring& m : manufacturers_) {
      e->objects.push_back({{L"MANUFACTURER", Text(m)}, {L"MODEL", Text(model_)}});
    }
  } else if (s->nameSpace == AsciiUpper(kBitLocker) && cls == L"WIN32_ENCRYPTABLEVOLUME") {
    for (const SimEncryptableVolume& v : volumes_) {
      e->objects.push_back({{L"DEVICEID", Text(v.deviceId)}});
      // The first is the volume Windows runs from; DriveLetter is null for the
      // others, as for a volume without a letter.
      const std::size_t at = e->objects.size() - 1;
      if (!letters_.empty()) {
        if (at < letters_.size() && !letters_[at].empty())
          e->objects.back()[L"DRIVELETTER"] = Text(letters_[at]);
      } else if (at == 0) {
        e->objects.back()[L"DRIVELETTER"] = Text(L"C:");
      }
    }
  } else {
    return kWbemEInvalidClass;
  }
  *enumerator = handles_.Add(std::move(e), HandleKind::ComObject);
  return kSOk;
}

HResult SimWmi::Next(Handle enumerator, Handle* object) {
  *object = nullptr;
  if (faults_.Fail(SimOp::WmiCall)) return kWbemEFailed;
  SimWmiEnum* e = handles_.Get<SimWmiEnum>(enumerator);
  if (e == nullptr) return kEInvalidArg;
  if (e->next >= e->objects.size()) return kWbemSFalse;
  auto o = std::make_unique<SimWmiObject>();
  o->properties = e->objects[e->next++];
  *object = handles_.Add(std::move(o), HandleKind::ComObject);
  return kSOk;
}

HResult SimWmi::GetText(Handle object, const wchar_t* property, wchar_t* out, std::size_t capacity) {
  if (faults_.Fail(SimOp::WmiCall)) return kWbemEFailed;
  SimWmiObject* o = handles_.Get<SimWmiObject>(object);
  if (o == nullptr || property == nullptr) return kEInvalidArg;
  auto it = o->properties.find(AsciiUpper(property));
  if (it == o->properties.end()) return kWbemENotFound;
  if (!it->second.isText) return kWbemETypeMismatch;
  CopyBounded(out, capacity, it->second.text.c_str());
  return kSOk;
}

HResult SimWmi::GetInteger(Handle object, const wchar_t* property, std::int32_t* value) {
  if (faults_.Fail(SimOp::WmiCall)) return kWbemEFailed;
  SimWmiObject* o = handles_.Get<SimWmiObject>(object);
  if (o == nullptr || property == nullptr) return kEInvalidArg;
  auto it = o->properties.find(AsciiUpper(property));
  if (it == o->properties.end()) return kWbemENotFound;
  if (it->second.isText) return kWbemETypeMismatch;
  *value = it->second.number;
  return kSOk;
}

HResult SimWmi::ExecMethod(Handle services, const wchar_t* objectPath, const wchar_t* method,
                           Handle* outParameters) {
  *outParameters = nullptr;
  if (faults_.Fail(SimOp::WmiCall)) return kWbemEFailed;
  SimWmiServices* s = handles_.Get<SimWmiServices>(services);
  if (s == nullptr) return kEInvalidArg;
  std::lock_guard<std::mutex> hold(lock_);
  SimWmiMethodCall call{objectPath != nullptr ? objectPath : L"", method != nullptr ? method : L"", 0};
  auto finish = [&](HResult hr) {
    call.result = hr;
    methodCalls_.push_back(call);
    return hr;
  };
  // The key is quoted exactly: the DeviceID between the quotes, nothing more.
  const std::wstring prefix = kVolumePathPrefix;
  const std::wstring& path = call.objectPath;
  if (s->nameSpace != AsciiUpper(kBitLocker) || path.size() < prefix.size() + 1 ||
      AsciiUpper(path.substr(0, prefix.size())) != AsciiUpper(prefix) || path.back() != L'\'') {
    return finish(kWbemEInvalidClass);
  }
  std::wstring key = path.substr(prefix.size(), path.size() - prefix.size() - 1);
  const SimEncryptableVolume* volume = nullptr;
  for (const SimEncryptableVolume& v : volumes_) {
    if (AsciiUpper(v.deviceId) == AsciiUpper(key)) volume = &v;
  }
  if (volume == nullptr) return finish(kWbemENotFound);
  if (call.method != L"GetProtectionStatus") return finish(kWbemEInvalidMethod);
  if (volume->methodFails) return finish(kWbemEFailed);
  auto o = std::make_unique<SimWmiObject>();
  o->properties[L"PROTECTIONSTATUS"] = Number(volume->status);
  o->properties[L"RETURNVALUE"] = Number(0);
  *outParameters = handles_.Add(std::move(o), HandleKind::ComObject);
  return finish(kSOk);
}

void SimWmi::Release(Handle object) {
  faults_.Fail(SimOp::ComRelease);  // counted only: Release cannot fail
  handles_.Close(object, HandleKind::ComObject);
}

void SimWmi::SetManufacturer(const std::wstring& text) { SetComputerSystems({text}); }

void SimWmi::SetComputerSystems(const std::vector<std::wstring>& manufacturers) {
  std::lock_guard<std::mutex> hold(lock_);
  manufacturers_ = manufacturers;
}

void SimWmi::SetEncryptableVolumes(const std::vector<SimEncryptableVolume>& volumes) {
  std::lock_guard<std::mutex> hold(lock_);
  volumes_ = volumes;
}

void SimWmi::AddEncryptableVolume(std::int32_t status, bool methodFails) {
  std::lock_guard<std::mutex> hold(lock_);
  wchar_t id[64];
  (void)std::swprintf(id, 64, L"\\\\?\\Volume{6c3f1e2a-0000-4000-8000-%012zx}\\", volumes_.size() + 1);
  volumes_.push_back(SimEncryptableVolume{id, status, methodFails});
}

void SimWmi::SetBitLockerNamespace(bool present) {
  std::lock_guard<std::mutex> hold(lock_);
  bitLocker_ = present;
}

void SimWmi::SetConnectResult(HResult hr) {
  std::lock_guard<std::mutex> hold(lock_);
  connectResult_ = hr;
}

void SimWmi::SetQueryResult(HResult hr) {
  std::lock_guard<std::mutex> hold(lock_);
  queryResult_ = hr;
}

std::vector<std::wstring> SimWmi::connects() const {
  std::lock_guard<std::mutex> hold(lock_);
  return connects_;
}

std::vector<std::wstring> SimWmi::queries() const {
  std::lock_guard<std::mutex> hold(lock_);
  return queries_;
}

std::vector<SimWmiMethodCall> SimWmi::methodCalls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return methodCalls_;
}

}  // namespace tavu::sim
