#include "check/trust_check.h"

#include "common/file_api.h"
#include "common/unique_handle.h"
#include "launcher/services/trusted_launcher.h"

namespace tavu::check {

void CheckTrust(TrustFacts* facts) {
  TrustFacts& f = *facts;
  FileApi& files = *Sys().files;
  // The launcher's own choice. The check lies in the launcher's folder, so
  // where it picks the running program, that folder is the launcher's too.
  wchar_t chosen[kPathChars] = {};
  if (!TrustedLauncher(chosen, kPathChars)) {
    wchar_t installed[kPathChars] = {};
    f.outcome = InstalledLauncherPath(installed, kPathChars) && files.Exists(installed)
                    ? TrustOutcome::LauncherOpen
                    : TrustOutcome::NoLauncher;
    if (f.outcome == TrustOutcome::LauncherOpen) OnlyAdminsCanChange(installed, &f.finding);
    return;
  }
  wchar_t folder[kPathChars] = {};
  wchar_t pattern[kPathChars] = {};
  DirectoryOfPath(chosen, folder, kPathChars);
  bool fits = FormatBounded(pattern, kPathChars, L"%ls\\FwMode*.exe", folder) >= 0 &&
              FormatBounded(f.toolPath, kPathChars, L"%ls\\FwMode.exe", folder) >= 0;
  UniqueFind search(fits ? files.FindFirst(pattern) : kInvalidHandle);
  if (!search) {
    f.outcome = TrustOutcome::NoTool;
    return;
  }
  if (files.Exists(f.toolPath) && !NoUserCanChange(f.toolPath)) {
    f.outcome = TrustOutcome::ToolOpen;
    OnlyAdminsCanChange(f.toolPath, &f.finding);
    return;
  }
  f.outcome = TrustOutcome::Trusted;
  f.toolTrusted = true;
  FormatBounded(f.taskProgram, kPathChars, L"%ls\\TAVU Recovery.exe", folder);
}

const wchar_t* TrustReason(TrustOutcome outcome) {
  switch (outcome) {
    case TrustOutcome::Trusted:
      return nullptr;
    case TrustOutcome::NoLauncher:
      return L"No launcher lies where no standard user can change it (C:\\Program Files\\TAVU\\TAVU Recovery "
             L"Launcher): the launcher starts no FwMode.exe and registers no logon task.";
    case TrustOutcome::LauncherOpen:
      return L"A standard user can change the installed launcher or a folder above it: the launcher starts "
             L"no FwMode.exe and registers no logon task. Give the folder Windows' own permissions again.";
    case TrustOutcome::NoTool:
      return L"No FwMode*.exe lies beside the launcher: the launcher starts no tool and registers no logon "
             L"task.";
    case TrustOutcome::ToolOpen:
      return L"A standard user can change FwMode.exe: the launcher starts no FwMode.exe and registers no "
             L"logon task. Give the file Windows' own permissions again.";
  }
  return nullptr;
}

bool TrustStepText(const TrustFinding& finding, wchar_t* text, std::size_t capacity) {
  const wchar_t* why = nullptr;
  switch (finding.refusal) {
    case TrustRefusal::Link:
      why = L"a junction, symbolic link or mount point; the launcher trusts no path through one";
      break;
    case TrustRefusal::OthersChange:
      why = L"a standard user may change it, or it is not owned by Administrators, SYSTEM or TrustedInstaller";
      break;
    case TrustRefusal::Unreadable:
      why = L"its permissions cannot be read";
      break;
    case TrustRefusal::None:
    case TrustRefusal::NotPlain:
      break;
  }
  return why != nullptr && finding.step[0] != L'\0' &&
         FormatBounded(text, capacity, L"%ls: %ls", finding.step, why) >= 0;
}

}  // namespace tavu::check
