// The start that every simulated platform operation shares: the operation is
// counted (and may be made to fail), the handle it was given is looked up, and
// the last error tells the caller which of the two went wrong.
#pragma once

#include <cstdint>

#include "common/platform.h"
#include "common/win_errors.h"
#include "sim/core/faults.h"
#include "sim/core/handles.h"
#include "sim/core/last_error.h"

namespace tavu::sim {

// Sets the last error and answers false, for the many early returns of a call.
inline bool Failed(std::uint32_t error) {
  SetLastError(error);
  return false;
}

// Counts op; true, with the last error set, when it is made to fail.
inline bool Refused(SimFaults& faults, SimOp op, std::uint32_t error) {
  if (!faults.Fail(op)) return false;
  SetLastError(error);
  return true;
}

// Which comes first. Device calls are counted before the handle is looked at;
// file and process calls only once the handle is known to be one of theirs.
enum class Count : bool { AfterHandle, BeforeHandle };

// The object behind h, or null with the last error set: ERROR_INVALID_HANDLE
// for a handle that is not one of T's, error when the operation is made to fail.
template <class T>
T* Enter(SimHandles& handles, SimFaults& faults, Handle h, SimOp op, std::uint32_t error = kErrorGenFailure,
         Count order = Count::AfterHandle) {
  if (order == Count::BeforeHandle && Refused(faults, op, error)) return nullptr;
  T* object = handles.Get<T>(h);
  if (object == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (order == Count::AfterHandle && Refused(faults, op, error)) return nullptr;
  return object;
}

}  // namespace tavu::sim
