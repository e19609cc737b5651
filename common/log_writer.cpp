#include "common/log_writer.h"

#include <cwchar>

#include "common/file_api.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/utf16.h"

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
  FormatBounded(line, kLogLineChars, L"[%04d/%02d/%02d %02d:%02d:%02d]\t", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
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

bool AppendLine(LogContext& ctx, const wchar_t* body) {
  FileApi& files = *Sys().files;
  {
    UniqueHandle probe(files.OpenFile(ctx.fullPath, FileAccess::None, FileCreate::OpenExisting));
    // Only a missing file is created. A probe can also fail on a file that
    // is there (held by someone, a passing fault): truncating it then would
    // lose every line of earlier runs.
    if (!probe) {
      UniqueHandle created(files.OpenFile(ctx.fullPath, FileAccess::Write, FileCreate::CreateNew));
      if (!created) return false;
    }
  }
  if (!EnsureLogFile(ctx)) return false;

  wchar_t line[kLogLineChars];
  std::size_t len = BuildLine(line, body);
  std::uint8_t bytes[Utf16LeBytesFor(kLogLineChars)];
  std::size_t byteCount = AppendUtf16Le(bytes, sizeof bytes, line, len);

  UniqueHandle out(files.OpenFile(ctx.fullPath, FileAccess::Append, FileCreate::OpenAlways));
  if (!out) return false;
  std::uint32_t written = 0;
  bool ok = files.Write(out.get(), bytes, static_cast<std::uint32_t>(byteCount), &written);
  return ok && written == byteCount;
}

}  // namespace

void ResolveLogPath(LogContext& ctx, const wchar_t* fileName) {
  CopyBounded(ctx.name, kPathChars, fileName != nullptr ? fileName : L"");
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
  FileApi& files = *Sys().files;
  UniqueHandle file(files.OpenFile(ctx.fullPath, FileAccess::ReadWrite, FileCreate::OpenExisting));
  if (!file) return false;
  std::uint64_t size = 0;
  if (!files.Size(file.get(), &size)) return false;
  if (size == 0) {
    static const std::uint8_t kBom[2] = {0xFF, 0xFE};
    std::uint32_t written = 0;
    return files.Write(file.get(), kBom, 2, &written) && written == 2;
  }
  std::uint8_t head[2] = {};
  std::uint32_t read = 0;
  return files.Read(file.get(), head, 2, &read) && read == 2 && head[0] == 0xFF && head[1] == 0xFE;
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
