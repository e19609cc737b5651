// The two registry flushes that the arming relies on before the restart,
// through the real binding: prints "task-store=0xHRESULT" (FlushStore) and
// "restart-moves=0|1" (FlushRestartMoves).
#include <cstdio>

#include "common/file_api.h"
#include "common/task_api.h"
#include "win32/win32_platform.h"

int wmain() {
  using namespace tavu;
  win32::InstallWin32Platform();
  std::printf("task-store=0x%08lX\n", static_cast<unsigned long>(Sys().tasks->FlushStore()));
  std::printf("restart-moves=%d\n", Sys().files->FlushRestartMoves() ? 1 : 0);
  return 0;
}
