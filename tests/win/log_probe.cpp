// Writes lines through the real log writer on Windows, so the e2e test can
// check the bytes that land in the file.
#include <windows.h>

#include "common/log_writer.h"
#include "win32/win32_platform.h"

int wmain(int argc, wchar_t** argv) {
  tavu::win32::InstallWin32Platform();
  const wchar_t* path = argc > 1 ? argv[1] : L"C:\\Windows\\Temp\\tavu-e2e\\probe.log";
  tavu::LogContext ctx;
  bool ok = tavu::WriteLog(ctx, path, L"AddTask", L"Task Name: TAVU F9 Recovery");
  ok = tavu::WriteLog(ctx, path, nullptr, L"no tag") && ok;
  ok = tavu::WriteLogValue(ctx, path, L"AddTask", -1) && ok;
  return ok ? 0 : 1;
}
