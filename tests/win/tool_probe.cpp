// Starts Windows' tools through the launcher's own runner and the real Win32
// binding, from a process whose environment the owner has changed, and prints
// what each start returned, one "name=value" line each, for the e2e test.
#include <windows.h>

#include <cstdio>

#include "common/system_api.h"
#include "launcher/startup/process_runner.h"
#include "win32/win32_platform.h"

int wmain(int argc, wchar_t** argv) {
  using namespace tavu;
  if (argc < 2) return 2;
  win32::InstallWin32Platform();
  // What an owner who wants the administrator's rights hands the elevated program.
  SetEnvironmentVariableW(L"PATHEXT", L".CMD");
  SetEnvironmentVariableW(L"PATH", L"C:\\users\\owner-bin;C:\\windows\\system32");
  SetEnvironmentVariableW(L"TAVU_OWNER_MARK", L"inherited");
  std::printf("wow64=%d\n", Sys().system->RunsUnderWow64() ? 1 : 0);
  // argv[1]: a batch file that records what the command processor received.
  wchar_t parameters[300];
  wsprintfW(parameters, L"/d /c \"%ls\"", argv[1]);
  std::printf("batch=%u\n", static_cast<unsigned>(RunSystemTool(L"cmd.exe", parameters, 0)));
  std::printf("exit5=%u\n", static_cast<unsigned>(RunSystemTool(L"cmd.exe", L"/d /c exit 5", 0)));
  std::printf("missing=%u\n",
              static_cast<unsigned>(RunProcess(L"C:\\windows\\system32\\tavu-missing-tool.exe", L"",
                                               L"C:\\windows\\system32", 0)));
  return 0;
}
