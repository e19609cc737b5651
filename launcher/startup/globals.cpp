#include "launcher/startup/globals.h"

namespace tavu {

Handle g_mainWindow = nullptr;
SensorUIApp* g_app = nullptr;
std::int32_t g_comReady = 0;
std::int32_t g_debugSwitch = 0;
std::int32_t g_logSwitch = 0;
Handle g_firmwareDevice = nullptr;

}  // namespace tavu
