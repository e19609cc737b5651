// Whether the launcher would start FwMode.exe and register its logon task:
// the launcher's own trust rules (TrustedLauncher, NoUserCanChange), asked of
// the same files in the same order.
#pragma once

#include <cstdint>

#include "common/trusted_path.h"
#include "common/wide_text.h"

namespace tavu::check {

enum class TrustOutcome : std::uint8_t {
  Trusted,       // the tool is started and the task registered for the launcher
  NoLauncher,    // no installed launcher
  LauncherOpen,  // a standard user can change the launcher or a folder above it
  NoTool,        // no FwMode*.exe beside the launcher
  ToolOpen,      // a standard user can change FwMode.exe
};

struct TrustFacts {
  TrustOutcome outcome = TrustOutcome::NoLauncher;
  bool toolTrusted = false;
  wchar_t taskProgram[kPathChars] = {};  // empty: no task would be registered
  wchar_t toolPath[kPathChars] = {};
  // The first step of the refused path that failed, for LauncherOpen and
  // ToolOpen: a support engineer repairs that folder, not the whole tree.
  TrustFinding finding;
};

void CheckTrust(TrustFacts* facts);

// One sentence on what the outcome means for the arming, or nullptr when trusted.
const wchar_t* TrustReason(TrustOutcome outcome);

// "<step>: <why>" for the finding, or false when it names no step.
bool TrustStepText(const TrustFinding& finding, wchar_t* text, std::size_t capacity);

}  // namespace tavu::check
