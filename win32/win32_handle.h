// Kernel handles that the binding opens for itself (a token, a new process's
// thread): closed with CloseHandle on every path, as the logic's own are.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

namespace tavu::win32 {

inline bool CloseWin32Handle(Handle h) { return CloseHandle(h) != FALSE; }
using OwnedHandle = UniqueHandleOf<&CloseWin32Handle>;

}  // namespace tavu::win32
