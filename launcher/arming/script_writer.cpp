#include "launcher/arming/script_writer.h"

#include <cstdint>
#include <cwchar>

#include "common/claimed_file.h"
#include "common/file_api.h"
#include "common/in_use_retry.h"
#include "common/platform.h"
#include "common/unique_handle.h"

namespace tavu {

bool CreateFreshAdminsOnlyFile(const wchar_t* path) {
  // The folder is one where ordinary users create files. Whatever they left
  // under this name goes first; if it cannot go, or comes back before the
  // exclusive create, the create fails and nothing planted is ever opened.
  if (!ClearName(path, kForeignFileWaitMilliseconds)) return false;
  UniqueHandle file(
      Sys().files->OpenFile(path, FileAccess::Write, FileCreate::CreateNew, FileSecurity::AdminsOnly));
  return file.valid();
}

bool ScriptWriter::Create(const wchar_t* path) {
  LockHold hold(lock_);
  // A scanner may hold the script a tool has just read for seconds.
  if (path_[0] != L'\0') (void)ClearName(path_, kOwnFileWaitMilliseconds);
  path_[0] = L'\0';
  wchar_t preferred[kPathChars];
  if (path == nullptr || !CopyBounded(preferred, kPathChars, path)) return false;
  // After a failed claim the name may hold someone else's file: no line may
  // be appended to it.
  return ClaimAdminsOnlyFile(preferred, kForeignFileWaitMilliseconds, path_, kPathChars);
}

bool ScriptWriter::AppendLine(const wchar_t* text) {
  LockHold hold(lock_);
  if (path_[0] == L'\0') return false;
  // A line that does not fit is refused whole: a cut command is a different command.
  if (FormatBounded(line_, kPathChars, L"%ls\n", text != nullptr ? text : L"") < 0) return false;

  // Every character becomes one byte, the LF two.
  char bytes[2 * kPathChars];
  std::size_t byteCount = 0;
  for (const wchar_t* p = line_; *p != L'\0' && byteCount + 2 <= sizeof bytes; ++p) {
    if (*p == L'\n') {
      bytes[byteCount++] = '\r';
      bytes[byteCount++] = '\n';
    } else if (*p > 0 && *p < 0x80) {
      bytes[byteCount++] = static_cast<char>(*p);
    } else {
      return false;
    }
  }

  FileApi& files = *Sys().files;
  // Opening the existing file only: a file that vanished between lines is not
  // brought back without its protection.
  UniqueHandle file(files.OpenFile(path_, FileAccess::Append, FileCreate::OpenExisting));
  if (!file) return false;
  std::uint32_t written = 0;
  return files.Write(file.get(), bytes, static_cast<std::uint32_t>(byteCount), &written) &&
         written == byteCount;
}

}  // namespace tavu
