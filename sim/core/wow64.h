// WOW64 as a 32-bit program meets it on 64-bit Windows: file-system
// redirection that each thread switches for itself, System32 paths that land in
// SysWOW64 while it is on, the Sysnative alias, and in-process COM servers that
// cannot load while it is off. On a 32-bit Windows none of this exists.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavu::sim {

class SimWow64 {
 public:
  void SetWindows64(bool is64);
  bool windows64() const;

  // Wow64EnableWow64FsRedirection for the calling thread alone. False on a
  // 32-bit Windows, which has no such function.
  bool SetRedirection(bool enable);
  // Whether the calling thread's System32 accesses land in SysWOW64: on from
  // the start of every thread, never on a 32-bit Windows.
  bool RedirectionOn() const;
  // Every switch made, by any thread, in order (true = enable).
  std::vector<bool> calls() const;

  // The absolute path ("C:\...") that an access by the calling thread really
  // reaches. Redirection on: System32 (but for its exempt subfolders) becomes
  // SysWOW64, Sysnative becomes System32. Off, or on a 32-bit Windows, the
  // path stays as it is, and Sysnative names no folder.
  std::wstring Redirect(const std::wstring& absolutePath) const;

  // The 32-bit registration of an in-process server such as the Task
  // Scheduler or the WMI locator names %SystemRoot%\System32\<dll>; with the
  // calling thread's redirection off the loader finds the 64-bit DLL there, and
  // CoCreateInstance fails with HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT).
  bool InProcessServerLoads() const;

  // The path that a 32-bit process with redirection on (a 32-bit program's
  // own view of the disk, whatever any thread of ours switched) reaches on a
  // 64-bit Windows.
  static std::wstring Wow64View(const std::wstring& absolutePath);

 private:
  bool OffForThisThread() const;

  mutable std::mutex lock_;
  bool windows64_ = true;
  std::map<std::thread::id, bool> off_;
  std::vector<bool> calls_;
};

}  // namespace tavu::sim
