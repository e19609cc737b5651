// Runs the maker's firmware-mode tool "FwMode.exe" beside the launcher. The
// launcher is the running one or the installed one, whichever no standard user
// can change (TrustedLauncher); the tool must pass the same test.
#pragma once

namespace tavu {

// "/ENABLE": the logon task registered, then the tool with "/enable". 0 when
// no "FwMode*.exe" lies beside a trusted launcher (nothing is done then), else 1.
int RunFwModeTool(bool enable);

// The tool alone, with "/enable" or "/disable".
inline constexpr int kFirmwareNoTool = 0;      // no trusted tool: the mode stays as it is
inline constexpr int kFirmwareSwitched = 1;    // the tool was started
inline constexpr int kFirmwareToolFailed = 2;  // there is one, but it could not be started
int SwitchFirmwareMode(bool on);

}  // namespace tavu
