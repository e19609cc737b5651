#include "launcher/arming/tool_scripts.h"

#include <initializer_list>

#include "common/claimed_file.h"
#include "common/file_api.h"
#include "common/in_use_retry.h"
#include "common/pinned_file.h"
#include "common/platform.h"
#include "common/system_folders.h"
#include "launcher/startup/process_runner.h"

namespace tavu {

namespace {

// Under the Windows folder, where earlier runs left them; in the scripts'
// folder (C:\Windows\Temp as Windows ships it) by their leaf names.
const wchar_t kUsualBatch[] = L"Temp\\RcvBoot.cmd";
const wchar_t kUsualEnum[] = L"Temp\\RcvBoot.txt";
const wchar_t kUsualDiskScript[] = L"Temp\\RcvBootDisk.txt";
constexpr std::size_t kLeaf = 5;  // past "Temp\\"
const wchar_t* const kBatchName = kUsualBatch + kLeaf;
const wchar_t* const kEnumName = kUsualEnum + kLeaf;
const wchar_t* const kDiskScriptName = kUsualDiskScript + kLeaf;
// Windows' own tools in C:\Windows\System32, each run from there.
const wchar_t kCommandProcessor[] = L"cmd.exe";
const wchar_t kPartitionTool[] = L"diskpart.exe";
const wchar_t kListingCommand[] = L"bcdedit /enum all > \"%ls\"";
// /d: without it cmd.exe first runs the AutoRun command that the owner's
// account keeps in its own registry, with the launcher's rights.
const wchar_t kBatchParameters[] = L"/d /c \"%ls\"";
const wchar_t kScriptParameters[] = L"/s \"%ls\"";
constexpr std::uint8_t kHidden = 0;

// A script is only worth running when every line of it reached the file.
bool WriteScript(ScriptWriter& writer, const wchar_t* path, const wchar_t* const* head, std::size_t headCount,
                 const wchar_t* const* lines, std::size_t count) {
  if (!writer.Create(path)) return false;
  for (std::size_t i = 0; i < headCount; ++i) {
    if (!writer.AppendLine(head[i])) return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!writer.AppendLine(lines[i])) return false;
  }
  return true;
}

constexpr const wchar_t* kBatchHead[] = {L"@ECHO OFF", L"CHCP 437"};

bool PinnedAsWritten(PinnedFile& held, const wchar_t* path) { return held.Pin(path) && held.OnlyAdminsChangeIt(); }

}  // namespace

bool ToolScripts::Prepare() {
  return WindowsPath(kUsualBatch, usualBatch_, kPathChars) && WindowsPath(kUsualEnum, usualEnum_, kPathChars) &&
         WindowsPath(kUsualDiskScript, usualDiskScript_, kPathChars);
}

bool ToolScripts::InFolder() {
  return folder_.Open() && folder_.PathOf(kBatchName, batchPath_, kPathChars) &&
         folder_.PathOf(kEnumName, enumPreferred_, kPathChars) &&
         folder_.PathOf(kDiskScriptName, diskScriptPath_, kPathChars);
}

bool ToolScripts::ListBootStore(ListingLines* listing) {
  // The redirection in the batch empties and keeps whatever file holds this
  // name; make sure it is ours, so no one else can hand us a listing.
  if (!InFolder() || !ClaimAdminsOnlyFile(enumPreferred_, kForeignFileWaitMilliseconds, enumPath_, kPathChars) ||
      FormatBounded(command_, kPathChars, kListingCommand, enumPath_) < 0) {
    return false;
  }
  const wchar_t* lines[] = {command_};
  return RunBatch(lines, 1) && ReadListing(enumPath_, listing);
}

bool ToolScripts::RunBatch(const wchar_t* const* lines, std::size_t count) {
  if (!InFolder() || !WriteScript(batchWriter_, batchPath_, kBatchHead, 2, lines, count)) return false;
  // cmd.exe opens the batch again for every line it runs: held until it has
  // ended, nothing can be written into it or take its place.
  PinnedFile held;
  if (!PinnedAsWritten(held, batchWriter_.path())) return false;
  // On 64-bit Windows the tools must be the native ones: a 32-bit command
  // processor finds no bcdedit.
  FormatBounded(parameters_, kPathChars, kBatchParameters, batchWriter_.path());
  RunSystemTool(kCommandProcessor, parameters_, kHidden);
  return true;
}

bool ToolScripts::RunDiskScript(const wchar_t* const* lines, std::size_t count) {
  if (!InFolder() || !WriteScript(diskWriter_, diskScriptPath_, nullptr, 0, lines, count)) return false;
  PinnedFile held;
  if (!PinnedAsWritten(held, diskWriter_.path())) return false;
  FormatBounded(parameters_, kPathChars, kScriptParameters, diskWriter_.path());
  RunSystemTool(kPartitionTool, parameters_, kHidden);
  return true;
}

// A scanner that opened a file after the tool read it may hold it for
// seconds; the window's progress line moves on meanwhile.
void ToolScripts::DeleteTemporaryFiles() {
  FileApi& files = *Sys().files;
  for (const wchar_t* path : {batchWriter_.path(), static_cast<const wchar_t*>(enumPath_), diskWriter_.path()}) {
    if (path[0] == L'\0') continue;
    (void)RetryWhileOwnFileInUse([&files, path] { return files.Remove(path); });
  }
  // What an earlier run left under the usual names goes too.
  for (const wchar_t* path : {usualBatch_, usualEnum_, usualDiskScript_}) {
    if (path[0] != L'\0') (void)RetryWhileInUse([&files, path] { return files.Remove(path); });
  }
  folder_.Remove();
}

}  // namespace tavu
