// The launcher's confirmation window (Windows only; the portable widget model
// lives beside it).
#pragma once

namespace tavu {

// Registers the window class; its result is ignored by the caller.
void RegisterMainWindowClass(void* instance);
// Creates the layered round window centred on the primary screen, stores it in
// g_mainWindow and shows it: 1, or 0 when it could not be created.
int CreateMainWindow(void* instance, int showCommand);
// Builds g_app, creates and shows the window and runs the message loop with
// accelerator table 109. Returns the process exit code (the quit message's
// wParam, or 0 when the window could not be created).
int RunWindowMode(void* instance, int showCommand);

}  // namespace tavu
