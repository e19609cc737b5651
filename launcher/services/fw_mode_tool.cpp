#include "launcher/services/fw_mode_tool.h"

#include "common/com_api.h"
#include "common/file_api.h"
#include "common/pinned_file.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "launcher/services/scheduled_task.h"
#include "launcher/services/trusted_launcher.h"
#include "launcher/startup/globals.h"
#include "launcher/startup/process_runner.h"

namespace tavu {

namespace {

// The tool and the task's program run elevated; neither may come from where
// a standard user can put or change files. With no such launcher there is
// no tool to trust, and switching nothing on leaves nothing to switch off.
struct TrustedTool {
  wchar_t launcherPath[kPathChars] = {};
  wchar_t launcherDir[kPathChars] = {};
  wchar_t toolPath[kPathChars] = {};
  bool toolPathFits = false;
  // Held from the trust test until the tool has exited and the task is
  // registered: the files tested are the files used, whatever a user does
  // to the names in between.
  PinnedFile launcherPin;
  PinnedFile toolPin;
};

bool FindTrustedTool(TrustedTool* t) {
  if (!TrustedLauncher(t->launcherPath, kPathChars)) return false;
  DirectoryOfPath(t->launcherPath, t->launcherDir, kPathChars);

  FileApi& files = *Sys().files;
  files.SetCurrentDir(t->launcherDir);
  // Only establishes that the tool is there; the name of the match is not used.
  UniqueFind search(files.FindFirst(L"FwMode*.exe"));
  if (!search) return false;

  t->toolPathFits = FormatBounded(t->toolPath, kPathChars, L"%ls\\FwMode.exe", t->launcherDir) >= 0;
  if (!t->launcherPin.PinIfThere(t->launcherPath) || !NoUserCanChange(t->launcherPath)) return false;
  if (!(t->toolPathFits && files.Exists(t->toolPath))) return true;
  return t->toolPin.Pin(t->toolPath) && NoUserCanChange(t->toolPath);
}

// True when the tool was started.
bool StartTool(const TrustedTool& t, bool on) {
  const wchar_t* arguments =
      on ? (g_logSwitch ? L"/enable /log" : L"/enable") : (g_logSwitch ? L"/disable /log" : L"/disable");
  // A cut path names some other file; starting that would be worse than not
  // starting the tool at all.
  if (!t.toolPathFits) return false;
  bool notStarted = false;
  RunProcess(t.toolPath, arguments, t.launcherDir, 1, &notStarted);
  return !notStarted;
}

}  // namespace

int RunFwModeTool(bool enable) {
  // The task operations enter an apartment of their own on this thread.
  if (g_comReady == 1) Sys().com->Uninitialize();

  TrustedTool tool;
  if (!FindTrustedTool(&tool)) return 0;
  if (enable) {
    AddTask(tool.launcherPath);
  } else {
    DeleteTask();
  }
  StartTool(tool, enable);
  return 1;
}

int SwitchFirmwareMode(bool on) {
  TrustedTool tool;
  if (!FindTrustedTool(&tool)) return kFirmwareNoTool;
  return StartTool(tool, on) ? kFirmwareSwitched : kFirmwareToolFailed;
}

}  // namespace tavu
