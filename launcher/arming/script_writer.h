// A batch or diskpart script written one line at a time, closed between lines,
// so that it is complete on disk whenever a tool reads it.
#pragma once

#include "common/lock.h"
#include "common/wide_text.h"

namespace tavu {

// Removes whatever lies at path (a planted file or link is not reused), then
// creates an empty file there that did not exist a moment before and that only
// Administrators and SYSTEM may write. False when any of that fails: then
// nothing of ours is left at path.
bool CreateFreshAdminsOnlyFile(const wchar_t* path);

class ScriptWriter {
 public:
  ScriptWriter() = default;
  ScriptWriter(const ScriptWriter&) = delete;
  ScriptWriter& operator=(const ScriptWriter&) = delete;

  // Remembers path and starts an empty file there, fresh and exclusive. False
  // when the path does not fit or the file cannot be created safely.
  bool Create(const wchar_t* path);

  // Appends text and CR LF as single-byte text (a null text gives CR LF alone).
  // False, with nothing written, when the line does not fit the line buffer or
  // holds a character outside ASCII; false when the file cannot be opened for
  // appending (it is never created here) or the write falls short.
  bool AppendLine(const wchar_t* text);

 private:
  Lock lock_;
  wchar_t path_[kPathChars] = {};
  wchar_t line_[kPathChars] = {};
};

}  // namespace tavu
