#include "launcher/services/fw_mode_tool.h"

#include "common/com_api.h"
#include "common/file_api.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "launcher/services/scheduled_task.h"
#include "launcher/services/trusted_launcher.h"
#include "launcher/startup/globals.h"
#include "launcher/startup/process_runner.h"

namespace tavu {

int RunFwModeTool(bool enable) {
  // The task operations enter an apartment of their own on this thread.
  if (g_comReady == 1) Sys().com->Uninitialize();

  // The tool and the task's program run elevated; neither may come from where
  // a standard user can put or change files. With no such launcher there is
  // no tool to trust, and switching nothing on leaves nothing to switch off.
  wchar_t launcherPath[kPathChars] = {};
  if (!TrustedLauncher(launcherPath, kPathChars)) return 0;
  wchar_t launcherDir[kPathChars] = {};
  DirectoryOfPath(launcherPath, launcherDir, kPathChars);

  FileApi& files = *Sys().files;
  files.SetCurrentDir(launcherDir);
  // Only establishes that the tool is there; the name of the match is not used.
  UniqueFind search(files.FindFirst(L"FwMode*.exe"));
  if (!search) return 0;

  wchar_t toolPath[kPathChars] = {};
  bool toolPathFits = FormatBounded(toolPath, kPathChars, L"%ls\\FwMode.exe", launcherDir) >= 0;
  if (toolPathFits && files.Exists(toolPath) && !NoUserCanChange(toolPath)) return 0;

  if (enable) {
    AddTask(launcherPath);
  } else {
    DeleteTask();
  }

  const wchar_t* arguments =
      enable ? (g_logSwitch ? L"/enable /log" : L"/enable") : (g_logSwitch ? L"/disable /log" : L"/disable");
  // A cut path names some other file; starting that would be worse than not
  // starting the tool at all.
  if (toolPathFits) RunProcess(toolPath, arguments, launcherDir, 1);
  return 1;
}

}  // namespace tavu
