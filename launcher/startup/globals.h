// The launcher's process-wide values. All are written before the worker thread
// starts and never changed while it runs, so none is locked.
#pragma once

#include <cstdint>

#include "common/platform.h"

namespace tavu {

class SensorUIApp;

extern Handle g_mainWindow;       // owner of every message box, target of WM_DESTROY
extern SensorUIApp* g_app;        // the one application object, never freed
extern std::int32_t g_comReady;   // 1 once COM and COM security are initialised
extern std::int32_t g_debugSwitch;  // "/DEBUG" on the command line
extern std::int32_t g_logSwitch;    // "/LOG" on the command line
extern Handle g_firmwareDevice;   // open only during the "/AUTO" query

}  // namespace tavu
