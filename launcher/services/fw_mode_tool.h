// Runs the maker's firmware-mode tool "FwMode.exe" beside the launcher, keeping
// the logon task in step. 0 when no "FwMode*.exe" lies there, else 1.
#pragma once

namespace tavu {

int RunFwModeTool(bool enable);

}  // namespace tavu
