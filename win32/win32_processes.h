#pragma once

#include "common/process_api.h"

namespace tavu::win32 {

class Win32Processes : public ProcessApi {
 public:
  bool Create(const wchar_t* image, wchar_t* commandLine, const wchar_t* directory, int show,
              const wchar_t* environment, Handle* process) override;
  bool Wait(Handle process) override;
  bool ExitCode(Handle process, std::uint32_t* code) override;
};

}  // namespace tavu::win32
