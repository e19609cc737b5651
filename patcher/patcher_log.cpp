#include "patcher/patcher_log.h"

namespace tavu::patcher {

namespace {
LogContext g_patchLog;
}

wchar_t g_patchMessage[kPathChars] = {};

bool WriteLog(const wchar_t* tag, const wchar_t* message) {
  return tavu::WriteLog(g_patchLog, kPatcherLogPath, tag, message);
}

}  // namespace tavu::patcher
