#include "patcher/launcher_deploy.h"

#include <cstring>
#include <cwchar>

#include "common/file_api.h"
#include "common/in_use_retry.h"
#include "common/platform.h"
#include "common/resource_api.h"
#include "common/system_api.h"
#include "common/trusted_path.h"
#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "common/win_errors.h"
#include "patcher/launcher_version.h"
#include "patcher/patcher_log.h"

namespace tavu::patcher {

namespace {

// The whole of bytes, on disk, in a file that did not exist before.
bool WriteNewFile(const wchar_t* path, const std::uint8_t* bytes, std::uint32_t size) {
  FileApi& files = *Sys().files;
  // CREATE_NEW: a name planted in the folder is never opened and written through.
  // Admins-only from the start: the folder's inherited entries never reach it,
  // so nothing but an administrator can change it before it is moved in.
  UniqueHandle file(files.OpenFile(path, FileAccess::Write, FileCreate::CreateNew, FileSecurity::AdminsOnly));
  if (!file) return false;
  std::uint32_t done = 0;
  while (done < size) {
    std::uint32_t written = 0;
    if (!files.Write(file.get(), bytes + done, size - done, &written) || written == 0 ||
        written > size - done) {
      return false;
    }
    done += written;
  }
  if (!files.Flush(file.get())) return false;
  return files.Close(file.release());
}

// The installed launcher and the two names beside it, as this Windows
// names its program folder.
struct DeployPaths {
  wchar_t installed[kPathChars] = {};
  wchar_t fresh[kPathChars] = {};
  wchar_t aside[kPathChars] = {};
};

// While a program runs, the loader holds its file without write sharing: an
// open for writing fails with a sharing violation. An access-denied refusal
// instead means someone protected the file, which a move at restart (carried
// out by the system) would override.
bool RunningAsProgram(const wchar_t* path) {
  UniqueHandle file(Sys().files->OpenFile(path, FileAccess::Write, FileCreate::OpenExisting));
  return !file && Sys().system->LastError() == kErrorSharingViolation;
}

bool RemoveTemporary(const DeployPaths& p) {
  return RetryWhileInUse([&p] { return Sys().files->Remove(p.fresh); });
}

bool MoveNewIntoPlace(const DeployPaths& p) {
  return RetryWhileInUse([&p] { return Sys().files->MoveReplace(p.fresh, p.installed); });
}

// The loader opens a program's file with delete sharing, so a running
// launcher can take another name in its folder, leaving its own name free
// for the new file at once; the old file goes at the next start, when
// nothing runs it. Between the rename aside and the move in, the name is
// empty: the move of the new file at restart, asked for before, fills it
// again should the power fail there. A name it cannot take, or a new file
// that then cannot move in, leaves the running launcher where it was.
bool ReplaceRunning(const DeployPaths& p) {
  FileApi& files = *Sys().files;
  if (!files.MoveReplace(p.installed, p.aside)) return false;
  if (!MoveNewIntoPlace(p)) {
    (void)RetryWhileInUse([&files, &p] { return files.MoveReplace(p.aside, p.installed); });
    return false;
  }
  if (!files.MoveAtRestart(p.aside, nullptr)) {
    WriteLog(L"FixDowngarde", L"The old TAVU Recovery is left beside the new one");
  }
  return true;
}

// Windows moves the complete new file into place at the next start, before
// anything can run or scan it; asked once, the move stays pending however
// often the patcher runs before that start.
bool ReplaceAtRestart(const DeployPaths& p, bool movePending, const wchar_t* why) {
  if (!movePending && !Sys().files->MoveAtRestart(p.fresh, p.installed)) return false;
  // Write-through does not reach a move asked for at restart; a cut before
  // the registry is on the disk would lose it.
  (void)Sys().files->FlushRestartMoves();
  WriteLog(L"FixDowngarde", why);
  return true;
}

// Without the resource there is nothing better to put in place; an empty
// launcher would be worse than an old one.
bool CarriedLauncher(const std::uint8_t** bytes, std::uint32_t* size) {
  return Sys().resources->OwnResource(kCarriedLauncherId, kCarriedLauncherType, bytes, size) &&
         *bytes != nullptr && *size != 0;
}

bool MakePaths(DeployPaths* p) {
  return LauncherPath(L"", p->installed, kPathChars) && LauncherPath(kNewSuffix, p->fresh, kPathChars) &&
         LauncherPath(kAsideSuffix, p->aside, kPathChars);
}

// The logon task runs the launcher with the highest rights: from a folder
// that someone else may change, a launcher would be no safer than none, and
// whatever is put beside it would run as well.
bool FolderOnlyAdminsChange(const DeployPaths& p) {
  wchar_t folder[kPathChars];
  CopyBounded(folder, kPathChars, p.installed);
  if (wchar_t* name = std::wcsrchr(folder, L'\\')) *name = L'\0';
  return OnlyAdminsCanChange(folder);
}

// A power cut between the creation of the new file and its flush leaves it
// short, or at full length with zeros where the data never reached the disk:
// only the carried bytes, every one, make it a launcher.
bool HoldsExactly(const wchar_t* path, const std::uint8_t* bytes, std::uint32_t size) {
  FileApi& files = *Sys().files;
  UniqueHandle file(files.OpenFile(path, FileAccess::Read, FileCreate::OpenExisting));
  std::uint64_t length = 0;
  if (!file || !files.Size(file.get(), &length) || length != size) return false;
  std::uint8_t chunk[4096];
  std::uint32_t done = 0;
  while (done < size) {
    const std::uint32_t want = size - done < sizeof(chunk) ? size - done : sizeof(chunk);
    std::uint32_t got = 0;
    if (!files.Read(file.get(), chunk, want, &got) || got == 0 || got > want ||
        std::memcmp(chunk, bytes + done, got) != 0) {
      return false;
    }
    done += got;
  }
  return true;
}

}  // namespace

void RestoreInterruptedLauncher() {
  DeployPaths p;
  if (!MakePaths(&p)) return;
  FileApi& files = *Sys().files;
  const bool nameEmpty = !files.Exists(p.installed);
  const bool oldBeside = files.Exists(p.aside);
  if (!oldBeside && !(nameEmpty && files.Exists(p.fresh))) return;
  if (!FolderOnlyAdminsChange(p)) return;
  if (nameEmpty) {
    const std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;
    const bool freshWhole = CarriedLauncher(&bytes, &size) && HoldsExactly(p.fresh, bytes, size);
    if (!(freshWhole && MoveNewIntoPlace(p)) &&
        !(oldBeside && RetryWhileInUse([&files, &p] { return files.MoveReplace(p.aside, p.installed); }))) {
      return;
    }
    WriteLog(L"FixDowngarde", L"The TAVU Recovery that a cut left aside is put back");
  }
  // Left by a cut before its deletion at the restart was asked for. One that
  // still runs refuses; its deletion was asked for when it made way.
  if (files.Exists(p.aside)) (void)files.Remove(p.aside);
}

void ExtractLauncher() {
  const std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  if (!CarriedLauncher(&bytes, &size)) return;
  DeployPaths p;
  if (!MakePaths(&p)) return;
  if (!FolderOnlyAdminsChange(p)) {
    WriteLog(L"FixDowngarde", L"Users can change the launcher's folder, do not copy");
    return;
  }
  FileApi& files = *Sys().files;
  // Someone made the installed launcher read-only. Replacing by rename would
  // pass over the flag on some file systems (and under Wine) and be refused
  // on others; an old launcher kept unsaid is what the flag must not buy.
  if (files.IsReadOnly(p.installed)) {
    if (!files.ClearReadOnly(p.installed)) {
      WriteLog(L"FixDowngarde", L"The installed TAVU Recovery is read-only and stays so, do not copy");
      return;
    }
    WriteLog(L"FixDowngarde", L"The installed TAVU Recovery was read-only, the flag is cleared");
  }
  // Asked for by an earlier run whose launcher was running too.
  const bool movePending = files.MovePendingAtRestart(p.fresh, p.installed);
  // A leftover of an interrupted run, or of that earlier run, would make
  // CREATE_NEW fail; the new file is always one this run made.
  (void)RemoveTemporary(p);
  if (!WriteNewFile(p.fresh, bytes, size)) {
    (void)RemoveTemporary(p);
    return;
  }
  if (MoveNewIntoPlace(p)) return;
  const std::uint32_t refusal = Sys().system->LastError();
  // A running launcher: the logon task starts it after every arming. The
  // move at restart is asked for, and flushed, before its file leaves its
  // name: Windows writes the Session Manager key lazily, and a request lost
  // with the power would leave that name empty.
  if (refusal == kErrorAccessDenied && RunningAsProgram(p.installed) &&
      (movePending || files.MoveAtRestart(p.fresh, p.installed))) {
    if (!files.FlushRestartMoves() || !ReplaceRunning(p))
      WriteLog(L"FixDowngarde", L"TAVU Recovery is running, it is replaced at the next restart");
    return;
  }
  // A scanner still holds the new file: it is complete, and Windows can move
  // it at the next start; dropping it would keep the old launcher unsaid.
  if (refusal == kErrorSharingViolation &&
      ReplaceAtRestart(p, movePending,
                       L"The new TAVU Recovery is in use, it is replaced at the next restart")) {
    return;
  }
  (void)RemoveTemporary(p);
}

}  // namespace tavu::patcher
