// The diagnostic log both programs keep: UTF-16LE with a byte-order mark, one
// time-stamped line per call, the file opened, appended to and closed each time.
#pragma once

#include <cstdint>

#include "common/lock.h"
#include "common/wide_text.h"

namespace tavu {

struct LogContext {
  Lock lock;  // serialises whole calls, from path resolution to close
  wchar_t name[kPathChars] = {};
  wchar_t directory[kPathChars] = {};
  wchar_t fullPath[kPathChars] = {};
  // Where this run's lines go instead when the log's own name cannot be
  // made ours (a folder there, a file someone holds open), and that name.
  wchar_t standIn[kPathChars] = {};
  wchar_t standInFor[kPathChars] = {};
  // Scratch parts of the name's split, used under the lock only.
  wchar_t drive[3] = {};
  wchar_t dirPart[256] = {};
};

inline constexpr std::size_t kLogLineChars = kLongTextChars;

// A log name that starts with this lies in the Windows folder as Windows
// names it (never as the environment says).
inline constexpr wchar_t kWindowsFolderPrefix[] = L"%SystemRoot%\\";

// Appends "[stamp]\t[tag]\tmessage\r\n" (or "[stamp]\tmessage\r\n" for a null tag).
// fileName is absolute, under kWindowsFolderPrefix, or relative to the
// program's directory. False when the line could not be appended; a file that
// does not start with FF FE is never written to. A link, a file of several
// names, someone else's file or an empty folder at the name is removed, never
// written through, and the log is made anew; where that cannot be done, the
// run's lines go to a fresh protected name beside it.
bool WriteLog(LogContext& ctx, const wchar_t* fileName, const wchar_t* tag, const wchar_t* message);
// Appends "[stamp]\t[tag]\tReturn : value\r\n" (or without the tag part).
bool WriteLogValue(LogContext& ctx, const wchar_t* fileName, const wchar_t* tag, std::int32_t value);

// Internal steps, exposed for tests.
void ResolveLogPath(LogContext& ctx, const wchar_t* fileName);
// The log at ctx.fullPath is our own plain file and starts with FF FE: made
// anew (protected) when missing or not ours, given the mark when empty.
bool EnsureLogFile(LogContext& ctx);

}  // namespace tavu
