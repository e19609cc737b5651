// Placeholder until the confirmation window is built: the class is registered
// minimally and the window mode ends at once.
#include <windows.h>

#include "launcher/ui/main_window.h"

namespace tavu {

void RegisterMainWindowClass(void*) {}

int RunWindowMode(void*, int) { return 0; }

}  // namespace tavu
