// Where the elevated programs put the scripts their tools run. Windows' Temp
// folder serves as Windows ships it: users may add files there, but not
// delete, rename or re-permit an administrator's. Where it was loosened (a
// common "fix" gives Users full control), a user could swap a script between
// its lines, or while cmd.exe reads it line by line, and have theirs run
// elevated. Then the scripts go into a folder of the programs' own below it:
// made admins-only under a name no one can foresee, checked through its own
// handle, and held open without delete sharing until it goes.
#pragma once

#include "common/pinned_file.h"
#include "common/wide_text.h"

namespace tavu {

class ScratchFolder {
 public:
  ScratchFolder() = default;
  ~ScratchFolder() { Remove(); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // C:\Windows\Temp when it keeps administrators' files, else a new
  // "C:\Windows\Temp\TAVU-XXXXXXXX". False when neither can be had; then no
  // script may be written.
  [[nodiscard]] bool Open();
  // The folder, without a trailing separator; empty before Open.
  const wchar_t* path() const { return path_; }
  // name below the folder ("RcvBoot.cmd"); false when it does not fit.
  bool PathOf(const wchar_t* name, wchar_t* out, std::size_t capacity) const;
  // An own folder is let go and removed (the files in it must be gone
  // already); Windows' Temp stays. Open may be called again.
  void Remove();

 private:
  bool MakeOwn(const wchar_t* temp);
  wchar_t path_[kPathChars] = {};
  PinnedFile own_;
};

}  // namespace tavu
