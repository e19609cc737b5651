#include "launcher/startup/process_runner.h"

#include "common/process_api.h"
#include "common/system_api.h"
#include "common/unique_handle.h"

namespace tavu {

std::uint32_t RunProcess(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                         std::uint8_t show) {
  ProcessApi& processes = *Sys().processes;
  Handle started = nullptr;
  if (!processes.ShellExecute(file, parameters, directory, show == 1 ? kShowShow : kShowHide, &started)) {
    return Sys().system->LastError();
  }
  // The shell may hand a document to a program that is already running and
  // start nothing new; there is then nothing to wait for and nothing failed.
  if (!IsValidHandle(started)) return 0;
  UniqueHandle process(started);
  processes.Wait(process.get());
  std::uint32_t code = 0;
  if (!processes.ExitCode(process.get(), &code)) return Sys().system->LastError();
  return code;
}

std::uint32_t RunSystemTool(const wchar_t* file, const wchar_t* parameters, bool native) {
  bool off = native && Sys().system->SetWow64FsRedirection(false);
  std::uint32_t code = RunProcess(file, parameters, L"C:\\Windows\\System32", 0);
  if (off) (void)Sys().system->SetWow64FsRedirection(true);
  return code;
}

}  // namespace tavu
