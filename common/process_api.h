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

  // CreateProcessW(image, commandLine, NULL, NULL, FALSE, flags, environment,
  // directory, &startup, &info): no handle is inherited; the flags are
  // CREATE_UNICODE_ENVIRONMENT, with CREATE_NO_WINDOW when show is kShowHide;
  // startup has STARTF_USESHOWWINDOW and wShowWindow = show. image is the
  // program's absolute path and is never searched for; commandLine is
  // writable, since CreateProcessW may change it in place; environment is a
  // block of NUL-terminated "NAME=VALUE" strings ended by an empty one. On
  // success *process is the new process (closed with FileApi::Close); the
  // thread handle is closed at once. False with LastError set on failure.
  virtual bool Create(const wchar_t* image, wchar_t* commandLine, const wchar_t* directory, int show,
                      const wchar_t* environment, Handle* process) = 0;
  // WaitForSingleObject(process, INFINITE).
  virtual bool Wait(Handle process) = 0;
  // GetExitCodeProcess.
  virtual bool ExitCode(Handle process, std::uint32_t* code) = 0;
};

}  // namespace tavu
