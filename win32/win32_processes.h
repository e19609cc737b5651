#pragma once

#include "common/process_api.h"

namespace tavu::win32 {

class Win32Processes : public ProcessApi {
 public:
  bool ShellExecute(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory, int show,
                    Handle* process) override;
  bool Wait(Handle process) override;
  bool ExitCode(Handle process, std::uint32_t* code) override;
};

}  // namespace tavu::win32
