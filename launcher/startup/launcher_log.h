// The launcher's log: only the scheduled-task operations write to it.
#pragma once

#include "common/log_writer.h"

namespace tavu {

extern LogContext g_log;
extern const wchar_t* const g_logFileName;
// Callers format into this before calling WriteLog; one thread logs per run.
extern wchar_t g_logMessage[kPathChars];

}  // namespace tavu
