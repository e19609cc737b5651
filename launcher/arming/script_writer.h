// A batch or diskpart script written one line at a time, closed between lines,
// so that it is complete on disk whenever a tool reads it.
#pragma once

#include <cstdint>

#include "common/lock.h"
#include "common/wide_text.h"

namespace tavu {

// How long a name in the temporary folder is waited for when whatever holds
// it is not known to be ours: the usual scanner's moment.
inline constexpr std::uint32_t kForeignFileWaitMilliseconds = 900;

// Removes whatever lies at path (a planted file, link or empty folder is not
// reused), then creates an empty file there that did not exist a moment before
// and that only Administrators and SYSTEM may write. False when any of that
// fails: then nothing of ours is left at path.
bool CreateFreshAdminsOnlyFile(const wchar_t* path);

class ScriptWriter {
 public:
  ScriptWriter() = default;
  ScriptWriter(const ScriptWriter&) = delete;
  ScriptWriter& operator=(const ScriptWriter&) = delete;

  // Starts an empty file, fresh and exclusive, at path or, when something
  // there cannot be removed, under a fresh name beside it (path() tells which).
  // The writer's own earlier file goes first, waited for as long as a scanner
  // may hold it. False when the path does not fit or no file can be created
  // safely.
  bool Create(const wchar_t* path);
  // The file the lines go to; empty before a successful Create.
  const wchar_t* path() const { return path_; }

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
