#include "launcher/arming/journal_file.h"

#include "common/file_api.h"
#include "common/in_use_retry.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "common/win_errors.h"
#include "launcher/services/trusted_launcher.h"

namespace tavu {

namespace {

constexpr wchar_t kWritingSuffix[] = L".new";
// The journal has one name, which no fresh name beside it can stand in for:
// a scanner that holds the file it just saw written is waited out longer
// than for the scripts.
constexpr std::uint32_t kJournalWaitMilliseconds = 60000;

template <typename Step>
bool RetryWhileJournalInUse(Step step) {
  return RetryWhileInUse(step, static_cast<int>(kJournalWaitMilliseconds / kInUsePauseMilliseconds) + 1);
}

bool WriteAll(Handle file, const char* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    std::uint32_t written = 0;
    if (!Sys().files->Write(file, bytes + done, static_cast<std::uint32_t>(size - done), &written) ||
        written == 0 || written > size - done) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

bool JournalPathBeside(const wchar_t* launcherPath, wchar_t* out, std::size_t capacity) {
  if (launcherPath == nullptr || launcherPath[0] == L'\0') return false;
  wchar_t folder[kPathChars] = {};
  DirectoryOfPath(launcherPath, folder, kPathChars);
  return folder[0] != L'\0' && FormatBounded(out, capacity, L"%ls\\%ls", folder, kJournalName) >= 0;
}

JournalState ReadJournalFile(const wchar_t* path, ArmingJournal* journal) {
  FileApi& files = *Sys().files;
  if (!files.Exists(path)) return JournalState::Absent;
  // What undoes the arming runs elevated at every start: only a journal that
  // no standard user could have written or replaced is followed.
  if (!NoUserCanChange(path)) return JournalState::Untrusted;
  UniqueHandle file(files.OpenFile(path, FileAccess::Read, FileCreate::OpenExisting));
  if (!file) {
    return Sys().system->LastError() == kErrorFileNotFound ? JournalState::Absent : JournalState::Unreadable;
  }
  FileIdentity identity;
  if (!files.Identify(file.get(), &identity) || identity.reparsePoint || identity.directory ||
      identity.links > 1 || !identity.ownerTrusted) {
    return JournalState::Untrusted;
  }
  char bytes[kJournalBytes] = {};
  std::size_t size = 0;
  for (;;) {
    std::uint32_t read = 0;
    if (!files.Read(file.get(), bytes + size, static_cast<std::uint32_t>(sizeof bytes - size), &read)) {
      return JournalState::Unreadable;
    }
    if (read == 0) break;
    size += read;
    if (size >= sizeof bytes) return JournalState::Unreadable;
  }
  return ParseJournal(bytes, size, journal) ? JournalState::Present : JournalState::Unreadable;
}

bool WriteJournalFile(const wchar_t* path, const ArmingJournal& journal) {
  char text[kJournalBytes];
  const std::size_t size = FormatJournal(journal, text);
  wchar_t writing[kPathChars];
  if (size == 0 || FormatBounded(writing, kPathChars, L"%ls%ls", path, kWritingSuffix) < 0) return false;
  FileApi& files = *Sys().files;
  // What an earlier run left half written goes; the folder is admins-only.
  (void)RetryWhileInUse([&files, &writing] { return files.Remove(writing); });
  bool written = false;
  {
    UniqueHandle file(files.OpenFile(writing, FileAccess::Write, FileCreate::CreateNew, FileSecurity::AdminsOnly));
    written = file && WriteAll(file.get(), text, size) && files.Flush(file.get()) && files.Close(file.release());
  }
  // One step with write-through: the journal is there whole, or not at all.
  // A scanner may hold the file it just saw written for a moment.
  if (written && RetryWhileJournalInUse([&files, &writing, path] { return files.MoveReplace(writing, path); })) {
    return true;
  }
  (void)RetryWhileOwnFileInUse([&files, &writing] { return files.Remove(writing); });
  return false;
}

bool DeleteJournalFile(const wchar_t* path) {
  FileApi& files = *Sys().files;
  if (RetryWhileJournalInUse([&files, path] { return files.Remove(path); })) return true;
  const std::uint32_t error = Sys().system->LastError();
  return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

}  // namespace tavu
