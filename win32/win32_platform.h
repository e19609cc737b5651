// Installs the real Windows binding of every seam interface that exists.
#pragma once

namespace tavu::win32 {

void InstallWin32Platform();

}  // namespace tavu::win32
