// Starting programs and waiting for them.
#pragma once

#include <cstdint>

#include "common/platform.h"

namespace tavu {

inline constexpr int kShowHide = 0;  // SW_HIDE
inline constexpr int kShowShow = 5;  // SW_SHOW

class ProcessApi {
 public:
  virtual ~ProcessApi() = default;

  // ShellExecuteExW with SEE_MASK_NOCLOSEPROCESS and SEE_MASK_FLAG_NO_UI (a
  // failed launch shows nothing), no owner, no verb. On
  // success *process is the new process (closed with FileApi::Close), or null
  // when the shell started no new process. False with LastError set on failure.
  virtual bool ShellExecute(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                            int show, Handle* process) = 0;
  // WaitForSingleObject(process, INFINITE).
  virtual bool Wait(Handle process) = 0;
  // GetExitCodeProcess.
  virtual bool ExitCode(Handle process, std::uint32_t* code) = 0;
};

}  // namespace tavu
