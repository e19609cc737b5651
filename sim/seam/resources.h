// The simulated machine's resources: the patcher's carried launcher, and the
// version information of real program files under the simulated C:.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/resource_api.h"
#include "sim/core/faults.h"
#include "sim/core/paths.h"

namespace tavu::sim {

class SimResources : public ResourceApi {
 public:
  SimResources(SimPaths& paths, SimFaults& faults) : paths_(paths), faults_(faults) {}

  bool OwnResource(std::uint16_t id, const wchar_t* type, const std::uint8_t** bytes,
                   std::uint32_t* size) override;
  std::uint32_t VersionInfoSize(const wchar_t* path) override;
  bool VersionInfo(const wchar_t* path, std::uint32_t size, void* block) override;
  bool QueryValue(const void* block, const wchar_t* subBlock, const std::uint8_t** value,
                  std::uint32_t* length) override;

  // What the running program carries as "EXE" 129. Without one, the lookup
  // fails as FindResourceW does for a missing resource.
  void SetCarriedLauncher(std::vector<std::uint8_t> bytes) { carried_ = std::move(bytes); }
  // Reads the carried launcher from a host file; false when it cannot be read.
  bool SetCarriedLauncherFile(const std::string& hostPath);
  void RemoveCarriedLauncher() { carried_.reset(); }
  const std::optional<std::vector<std::uint8_t>>& carriedLauncher() const { return carried_; }

 private:
  bool LoadVersionResource(const wchar_t* path, std::vector<std::uint8_t>* out);

  SimPaths& paths_;
  SimFaults& faults_;
  std::optional<std::vector<std::uint8_t>> carried_;
  // VerQueryValueW is handed only the block; the machine remembers how many
  // bytes it put into each block so no query reads past it.
  std::map<const void*, std::size_t> blocks_;
};

// The bytes of a host file; false when it cannot be read.
bool ReadHostBytes(const std::string& hostPath, std::vector<std::uint8_t>* out);

}  // namespace tavu::sim
