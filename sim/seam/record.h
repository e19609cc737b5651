// The registry values and Application-log events written on the simulated
// machine, in the order written, so that tests and tavu-sim show them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/record_api.h"

namespace tavu::sim {

struct SimRegistryValue {
  std::wstring key;  // below HKEY_LOCAL_MACHINE, 64-bit view
  std::wstring name;
  bool isText = false;
  std::uint32_t number = 0;
  std::wstring text;
};

struct SimEvent {
  std::wstring source;
  EventKind kind = EventKind::Information;
  std::uint32_t id = 0;
  std::wstring text;
};

class SimRecord : public RecordApi {
 public:
  std::uint32_t SetMachineValues(const wchar_t* key, const RecordValue* values, std::size_t count) override;
  std::uint32_t LogEvent(const wchar_t* source, EventKind kind, std::uint32_t id,
                         const wchar_t* text) override;

  // The key's creation fails with this error (0: it succeeds), as for a
  // program without administrator rights (5).
  void SetRegistryError(std::uint32_t error) { registryError_ = error; }
  // ReportEventW fails with this error (0: it succeeds).
  void SetEventError(std::uint32_t error) { eventError_ = error; }

  // Every value as it stands now, in the order first written.
  const std::vector<SimRegistryValue>& values() const { return values_; }
  const std::vector<SimEvent>& events() const { return events_; }

 private:
  std::uint32_t registryError_ = 0;
  std::uint32_t eventError_ = 0;
  std::vector<SimRegistryValue> values_;
  std::vector<SimEvent> events_;
};

}  // namespace tavu::sim
