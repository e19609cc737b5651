#include "launcher/startup/process_runner.h"

#include "common/process_api.h"
#include "common/system_api.h"
#include "common/system_folders.h"
#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "common/win_errors.h"
#include "launcher/startup/tool_environment.h"

namespace tavu {

namespace {

// The program's quoted path, a blank, the parameters: the longest path and
// parameters the callers format, with room to spare.
constexpr std::size_t kCommandLineChars = 2 * kPathChars + 4;

}  // namespace

std::uint32_t RunProcess(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                         std::uint8_t show, bool* notStarted) {
  if (notStarted != nullptr) *notStarted = false;
  // The program's own name comes first, quoted, as every program expects its
  // command line; CreateProcessW may write into the buffer.
  wchar_t commandLine[kCommandLineChars];
  const bool hasParameters = parameters != nullptr && parameters[0] != L'\0';
  if (FormatBounded(commandLine, kCommandLineChars, hasParameters ? L"\"%ls\" %ls" : L"\"%ls\"", file,
                    hasParameters ? parameters : L"") < 0) {
    // A cut command line would start the program with other arguments.
    if (notStarted != nullptr) *notStarted = true;
    return kErrorFilenameExcedRange;
  }
  wchar_t environment[kToolEnvironmentChars];
  if (!BuildToolEnvironment(environment, kToolEnvironmentChars)) {
    if (notStarted != nullptr) *notStarted = true;
    return kErrorFilenameExcedRange;
  }
  ProcessApi& processes = *Sys().processes;
  Handle started = nullptr;
  if (!processes.Create(file, commandLine, directory, show == 1 ? kShowShow : kShowHide, environment,
                        &started)) {
    if (notStarted != nullptr) *notStarted = true;
    return Sys().system->LastError();
  }
  UniqueHandle process(started);
  processes.Wait(process.get());
  std::uint32_t code = 0;
  if (!processes.ExitCode(process.get(), &code)) return Sys().system->LastError();
  return code;
}

std::uint32_t RunSystemTool(const wchar_t* name, const wchar_t* parameters, std::uint8_t show) {
  // A 32-bit program reaches the native tools through Sysnative.
  const wchar_t* folder = Sys().system->RunsUnderWow64() ? L"Sysnative" : L"System32";
  wchar_t below[kPathChars];
  wchar_t tool[kPathChars];
  wchar_t directory[kPathChars];
  if (FormatBounded(below, kPathChars, L"%ls\\%ls", folder, name) < 0 ||
      !WindowsPath(below, tool, kPathChars) || !WindowsPath(L"System32", directory, kPathChars)) {
    return kErrorFilenameExcedRange;
  }
  return RunProcess(tool, parameters, directory, show);
}

}  // namespace tavu
