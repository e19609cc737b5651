// The platform seam: every Windows call the logic needs goes through one of the
// small interfaces named here. The real binding lives in win32/ and is built only
// for Windows; the simulated machine in sim/ stands in for it in native tests and
// in tavu-sim. Each interface is declared in its own header, in the logic's terms.
#pragma once

#include <cstdint>

namespace tavu {

// An opaque kernel object, as Windows hands it out. The binding passes HANDLE
// values through unchanged; the simulated machine numbers its own.
using Handle = void*;
inline Handle const kInvalidHandle = reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1));
inline bool IsValidHandle(Handle h) { return h != nullptr && h != kInvalidHandle; }

class FileApi;
class SystemApi;
class DiskApi;
class VolumeApi;
class ProcessApi;
class WmiApi;
class TaskApi;
class FirmwareApi;
class UiApi;
class ResourceApi;
class ComApi;
class RecordApi;

struct Platform {
  FileApi* files = nullptr;
  SystemApi* system = nullptr;
  DiskApi* disks = nullptr;
  VolumeApi* volumes = nullptr;
  ProcessApi* processes = nullptr;
  WmiApi* wmi = nullptr;
  TaskApi* tasks = nullptr;
  FirmwareApi* firmware = nullptr;
  UiApi* ui = nullptr;
  ResourceApi* resources = nullptr;
  ComApi* com = nullptr;
  RecordApi* record = nullptr;  // the support check's /record only
};

// The platform the logic runs on. Set once by the program's entry (or a test)
// before any logic runs; never changed while logic runs.
Platform& Sys();
void SetPlatform(const Platform& platform);

}  // namespace tavu
