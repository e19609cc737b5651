#include "launcher/startup/launcher_log.h"

namespace tavu {

LogContext g_log;
const wchar_t* const g_logFileName = L"%SystemRoot%\\Temp\\TAVU F9 Recovery.log";
wchar_t g_logMessage[kPathChars] = {};

}  // namespace tavu
