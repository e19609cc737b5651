// TEMPORARY stand-in for the recovery worker, so that the window can be built
// and run before the arming sequence lands. It arms nothing and shows nothing:
// it only ends the program the way every worker abort does. Delete this file
// when the real RecoveryWorker is merged.
#if __has_include("launcher/arming/recovery_worker.cpp")
#error "The real RecoveryWorker has landed: delete recovery_worker_pending.cpp."
#endif

#include "common/ui_api.h"
#include "launcher/arming/recovery_worker.h"
#include "launcher/startup/globals.h"

namespace tavu {

std::uint32_t RecoveryWorker(void*) {
  Sys().ui->PostDestroy(g_mainWindow);
  return 1;
}

}  // namespace tavu
