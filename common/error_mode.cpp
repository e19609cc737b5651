#include "common/error_mode.h"

#include "common/platform.h"
#include "common/system_api.h"

namespace tavu {

void FailCriticalErrorsQuietly() { Sys().system->SetErrorMode(kSemFailCriticalErrors | kSemNoOpenFileErrorBox); }

}  // namespace tavu
