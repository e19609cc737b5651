#include "sim/seam/record.h"

#include "common/win_errors.h"
#include "sim/core/text.h"

namespace tavu::sim {

std::uint32_t SimRecord::SetMachineValues(const wchar_t* key, const RecordValue* values, std::size_t count) {
  if (registryError_ != 0) return registryError_;
  if (key == nullptr || (values == nullptr && count != 0)) return kErrorInvalidParameter;
  for (std::size_t i = 0; i < count; ++i) {
    const RecordValue& v = values[i];
    if (v.name == nullptr) return kErrorInvalidParameter;
    SimRegistryValue value{key, v.name, v.text != nullptr, v.text != nullptr ? 0 : v.number,
                           v.text != nullptr ? v.text : L""};
    bool replaced = false;
    // Registry names are matched without regard to case; a value set again keeps its place.
    for (SimRegistryValue& old : values_) {
      if (AsciiEqualNoCase(old.key, value.key) && AsciiEqualNoCase(old.name, value.name)) {
        old = value;
        replaced = true;
      }
    }
    if (!replaced) values_.push_back(value);
  }
  return 0;
}

std::uint32_t SimRecord::LogEvent(const wchar_t* source, EventKind kind, std::uint32_t id,
                                  const wchar_t* text) {
  if (eventError_ != 0) return eventError_;
  if (source == nullptr || text == nullptr) return kErrorInvalidParameter;
  events_.push_back(SimEvent{source, kind, id, text});
  return 0;
}

}  // namespace tavu::sim
