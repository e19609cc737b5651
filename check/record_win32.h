// The real binding of the record seam, for the support check only: the
// launcher and the patcher write no record.
#pragma once

namespace tavu::check {

// Adds the binding to the platform already installed.
void InstallWin32Record();

}  // namespace tavu::check
