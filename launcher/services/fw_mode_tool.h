// Runs the maker's firmware-mode tool "FwMode.exe" beside the launcher, keeping
// the logon task in step. 0 when no "FwMode*.exe" lies there, else 1. The
// launcher is the running one or the installed one, whichever no standard user
// can change (TrustedLauncher); 0 also when there is none.
#pragma once

namespace tavu {

int RunFwModeTool(bool enable);

}  // namespace tavu
