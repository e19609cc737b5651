// The temporary batch and diskpart scripts through which the launcher changes
// the boot store and the partition tables, and the listing bcdedit writes:
// each script is written whole, admins-only and under a name no one else
// holds, before its tool starts; all of them go when the work is done.
#pragma once

#include <cstddef>

#include "common/scratch_folder.h"
#include "common/wide_text.h"
#include "launcher/arming/recovery_entry.h"
#include "launcher/arming/script_writer.h"

namespace tavu {

class ToolScripts {
 public:
  // The names under the Windows folder; false when they do not fit.
  [[nodiscard]] bool Prepare();

  // "bcdedit /enum all" into the listing file, which is then read.
  [[nodiscard]] bool ListBootStore(ListingLines* listing);
  // "@ECHO OFF", "CHCP 437" and the lines, run by cmd.exe. False, with nothing
  // run, when the batch could not be written whole.
  bool RunBatch(const wchar_t* const* lines, std::size_t count);
  // A diskpart script of the lines, run by diskpart.exe /s.
  bool RunDiskScript(const wchar_t* const* lines, std::size_t count);
  // Every file of ours, and what an earlier run left under the usual names;
  // a folder of our own goes with them, and the next script makes a new one.
  void DeleteTemporaryFiles();

 private:
  // The folder the scripts go to, chosen (and made, where Temp does not keep
  // administrators' files) before the first one; the names in it.
  [[nodiscard]] bool InFolder();
  ScratchFolder folder_;
  // What an earlier run may have left in C:\Windows\Temp.
  wchar_t usualBatch_[kPathChars] = {};
  wchar_t usualEnum_[kPathChars] = {};
  wchar_t usualDiskScript_[kPathChars] = {};
  wchar_t command_[kPathChars] = {};
  wchar_t parameters_[kPathChars] = {};
  // The names each file is first tried under; the listing's name as made.
  wchar_t batchPath_[kPathChars] = {};
  wchar_t enumPreferred_[kPathChars] = {};
  wchar_t enumPath_[kPathChars] = {};
  wchar_t diskScriptPath_[kPathChars] = {};
  // Destroyed in reverse order: the batch writer first.
  ScriptWriter diskWriter_;
  ScriptWriter batchWriter_;
};

}  // namespace tavu
