#include "common/log_writer.h"

#include <cwchar>
#include <utility>

#include "common/claimed_file.h"
#include "common/file_api.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/system_folders.h"
#include "common/unique_handle.h"
#include "common/utf16.h"
#include "common/win_errors.h"

namespace tavu {

namespace {

// The platform's path split into a drive part of 3 characters and a directory
// part of 256, as _wsplitpath_s would cut them.
void SplitDriveAndDirectory(const wchar_t* path, wchar_t (&drive)[3], wchar_t (&dir)[256]) {
  drive[0] = L'\0';
  dir[0] = L'\0';
  const wchar_t* rest = path;
  if (path[0] != L'\0' && path[1] == L':') {
    drive[0] = path[0];
    drive[1] = L':';
    drive[2] = L'\0';
    rest = path + 2;
  }
  const wchar_t* lastSep = nullptr;
  for (const wchar_t* p = rest; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L'/') lastSep = p;
  }
  if (lastSep == nullptr) return;
  std::size_t len = static_cast<std::size_t>(lastSep - rest) + 1;
  if (len >= 256) len = 255;
  for (std::size_t i = 0; i < len; ++i) dir[i] = rest[i];
  dir[len] = L'\0';
}

// The stamp, the body and CR LF, cut to the 1024-character line buffer. A cut
// line keeps its CR LF, so the file stays a sequence of whole lines.
std::size_t BuildLine(wchar_t (&line)[kLogLineChars], const wchar_t* body) {
  line[0] = L'\0';
  LocalTime t = Sys().system->Now();
  FormatBounded(line, kLogLineChars, L"[%04d/%02d/%02d %02d:%02d:%02d]\t", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  AppendBounded(line, kLogLineChars - 2, body);
  AppendBounded(line, kLogLineChars, L"\r\n");
  return std::wcslen(line);
}

// "[tag]\t", or nothing for a null tag. Built by bounded appends so that a tag of
// any length is cut, never overruns.
void TagPart(wchar_t (&body)[kLogLineChars], const wchar_t* tag) {
  body[0] = L'\0';
  if (tag == nullptr) return;
  AppendBounded(body, kLogLineChars, L"[");
  AppendBounded(body, kLogLineChars, tag);
  AppendBounded(body, kLogLineChars, L"]\t");
}

constexpr std::uint8_t kBom[2] = {0xFF, 0xFE};

// An existing name may be kept only when it is our own plain file. Anyone may
// create files in C:\Windows\Temp, so the name may hold a symbolic link, or a
// second name of someone else's file, planted before we ran: writing to either
// would write to that other file with our rights.
bool IsOurOwnPlainFile(const FileIdentity& id) {
  return !id.reparsePoint && !id.directory && id.links == 1 && id.ownerTrusted;
}

enum class LogOpen : std::uint8_t {
  Opened,
  Refused,  // left alone: nothing written, nothing removed
  Taken,    // someone else's file or folder holds the name and stays there
};

// The log, opened once by its name for appending; every byte of the call goes
// through this one handle, so nothing can swap the name between the checks
// and the write. *needsBom: the file is empty and the line must bring FF FE.
LogOpen OpenLog(const wchar_t* path, UniqueHandle* log, bool* needsBom) {
  FileApi& files = *Sys().files;
  SystemApi& system = *Sys().system;
  UniqueHandle file(files.OpenNameItself(path));
  if (file) {
    FileIdentity id;
    // Not knowing what the file is, nothing is written and nothing removed:
    // it may be our own log with every earlier line.
    if (!files.Identify(file.get(), &id)) return LogOpen::Refused;
    if (IsOurOwnPlainFile(id)) {
      std::uint8_t head[2] = {};
      std::uint32_t read = 0;
      if (!files.Read(file.get(), head, 2, &read)) return LogOpen::Refused;
      *needsBom = read == 0;
      // A file that starts otherwise is left as it is, never repaired.
      if (read != 0 && (read != 2 || head[0] != kBom[0] || head[1] != kBom[1])) return LogOpen::Refused;
      *log = std::move(file);
      return LogOpen::Opened;
    }
    // DeleteFileW removes a link itself, never its target, and one name of a
    // file with several, leaving the others and the data.
    file.reset();
    if (!files.Remove(path)) {
      return system.LastError() == kErrorSharingViolation ? LogOpen::Taken : LogOpen::Refused;
    }
  } else if (const std::uint32_t openError = system.LastError(); openError != kErrorFileNotFound &&
                                                                 openError != kErrorPathNotFound &&
                                                                 !files.RemoveFolder(path)) {
    // Not an empty folder, nor a link to a folder, that someone made at the
    // name: one with something in it stays someone else's; a file that
    // cannot be opened is someone else's only while he holds it.
    const std::uint32_t folderError = system.LastError();
    if (folderError == kErrorDirNotEmpty) return LogOpen::Taken;
    return folderError == kErrorDirectory && openError == kErrorSharingViolation ? LogOpen::Taken
                                                                                 : LogOpen::Refused;
  }
  // A name that is still, or again, taken (a failed open of a file that is
  // there, or one planted after the removal) makes the create fail: it is
  // never opened. The new log is protected as the worker's temporary files are.
  UniqueHandle created(
      files.OpenFile(path, FileAccess::Append, FileCreate::CreateNew, FileSecurity::AdminsOnly));
  if (!created) return system.LastError() == kErrorFileExists ? LogOpen::Taken : LogOpen::Refused;
  *needsBom = true;
  *log = std::move(created);
  return LogOpen::Opened;
}

// The log for this call: its own name, or the stand-in this run moved to,
// or a new stand-in when someone else's file or folder keeps the name.
bool OpenRunLog(LogContext& ctx, UniqueHandle* log, bool* needsBom) {
  const bool standing = ctx.standIn[0] != L'\0' && EqualsIgnoreAsciiCase(ctx.standInFor, ctx.fullPath);
  const LogOpen opened = OpenLog(standing ? ctx.standIn : ctx.fullPath, log, needsBom);
  if (opened != LogOpen::Taken || standing) return opened == LogOpen::Opened;
  if (!CreateAdminsOnlyBeside(ctx.fullPath, ctx.standIn, kPathChars)) return false;
  CopyBounded(ctx.standInFor, kPathChars, ctx.fullPath);
  return OpenLog(ctx.standIn, log, needsBom) == LogOpen::Opened;
}

bool AppendLine(LogContext& ctx, const wchar_t* body) {
  UniqueHandle log;
  bool needsBom = false;
  if (!OpenRunLog(ctx, &log, &needsBom)) return false;

  wchar_t line[kLogLineChars];
  std::size_t len = BuildLine(line, body);
  std::uint8_t bytes[sizeof kBom + Utf16LeBytesFor(kLogLineChars)];
  std::size_t byteCount = 0;
  if (needsBom) {
    bytes[byteCount++] = kBom[0];
    bytes[byteCount++] = kBom[1];
  }
  byteCount += AppendUtf16Le(bytes + byteCount, sizeof bytes - byteCount, line, len);
  // One write: a new log holds its mark and first line, or nothing.
  std::uint32_t written = 0;
  bool ok = Sys().files->Write(log.get(), bytes, static_cast<std::uint32_t>(byteCount), &written);
  return ok && written == byteCount;
}

}  // namespace

void ResolveLogPath(LogContext& ctx, const wchar_t* fileName) {
  CopyBounded(ctx.name, kPathChars, fileName != nullptr ? fileName : L"");
  const std::size_t prefixLength = std::wcslen(kWindowsFolderPrefix);
  if (std::wcsncmp(ctx.name, kWindowsFolderPrefix, prefixLength) == 0) {
    wchar_t below[kPathChars];
    CopyBounded(below, kPathChars, ctx.name + prefixLength);
    WindowsPath(below, ctx.name, kPathChars);
  }
  SplitDriveAndDirectory(ctx.name, ctx.drive, ctx.dirPart);
  if (ctx.drive[1] == L':') {
    CopyBounded(ctx.directory, kPathChars, ctx.drive);
    AppendBounded(ctx.directory, kPathChars, ctx.dirPart);
    CopyBounded(ctx.fullPath, kPathChars, ctx.name);
  } else {
    ModuleDirectory(ctx.directory, kPathChars);
    CopyBounded(ctx.fullPath, kPathChars, ctx.directory);
    AppendBounded(ctx.fullPath, kPathChars, L"\\");
    AppendBounded(ctx.fullPath, kPathChars, ctx.name);
  }
  Sys().files->MakeDirectories(ctx.directory);
}

bool EnsureLogFile(LogContext& ctx) {
  UniqueHandle log;
  bool needsBom = false;
  if (!OpenRunLog(ctx, &log, &needsBom)) return false;
  std::uint32_t written = 0;
  return !needsBom || (Sys().files->Write(log.get(), kBom, 2, &written) && written == 2);
}

bool WriteLog(LogContext& ctx, const wchar_t* fileName, const wchar_t* tag, const wchar_t* message) {
  LockHold hold(ctx.lock);
  ResolveLogPath(ctx, fileName);
  wchar_t body[kLogLineChars];
  TagPart(body, tag);
  AppendBounded(body, kLogLineChars, message != nullptr ? message : L"");
  return AppendLine(ctx, body);
}

bool WriteLogValue(LogContext& ctx, const wchar_t* fileName, const wchar_t* tag, std::int32_t value) {
  LockHold hold(ctx.lock);
  ResolveLogPath(ctx, fileName);
  wchar_t body[kLogLineChars];
  TagPart(body, tag);
  wchar_t tail[64];
  FormatBounded(tail, 64, L"%ls : %d", L"Return", static_cast<int>(value));
  AppendBounded(body, kLogLineChars, tail);
  return AppendLine(ctx, body);
}

}  // namespace tavu
