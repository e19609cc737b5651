// The confirmation window: class, creation and shape, window procedure, the
// progress timer callback and the window mode's message loop. Everything it
// shows is decided by SensorUIApp; this file only connects it to user32.
#include <windows.h>
// After windows.h: CoUninitialize.
#include <objbase.h>

#include "launcher/res/resource_ids.h"
#include "launcher/startup/globals.h"
#include "launcher/startup/launcher_main.h"
#include "launcher/ui/gdi_canvas_win32.h"
#include "launcher/ui/main_window.h"
#include "launcher/ui/sensor_ui_app.h"
#include "launcher/ui/window_layout.h"
#include "win32/session_end.h"

namespace tavu {

namespace {
HINSTANCE g_instance = nullptr;
GdiCanvas g_canvas;
bool g_quitPosted = false;

// From the confirmation on, the worker runs and the window stays: closing it
// would end the process halfway through the arming, as a press on a hidden
// button would.
bool WorkerRunning() { return g_app != nullptr && g_app->processing != 0; }
}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterMainWindowClass(void* instance) {
  HINSTANCE module = static_cast<HINSTANCE>(instance);
  WNDCLASSEXW wc{};
  static_assert(sizeof(void*) != 4 || sizeof(wc) == 48, "WNDCLASSEXW of a 32-bit program");
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &MainWndProc;
  wc.hInstance = module;
  wc.hIcon = LoadIconW(module, MAKEINTRESOURCEW(IDI_TAVU));
  wc.hIconSm = LoadIconW(module, MAKEINTRESOURCEW(IDI_TAVU));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszClassName = g_windowClassName;
  RegisterClassExW(&wc);
}

int CreateMainWindow(void* instance, int showCommand) {
  g_instance = static_cast<HINSTANCE>(instance);
  const WindowOrigin origin =
      CentredWindowOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  HWND window =
      CreateWindowExW(WS_EX_LAYERED | WS_EX_TOPMOST, g_windowClassName, g_windowTitle, WS_POPUP, origin.x,
                      origin.y, kWindowWidth, kWindowHeight, nullptr, nullptr, g_instance, nullptr);
  g_mainWindow = window;
  if (window == nullptr) return 0;

  SetLayeredWindowAttributes(window, 0, kWindowAlpha, LWA_ALPHA);
  // The window owns the region from here on; it is not deleted by us.
  HRGN region =
      CreateRoundRectRgn(kWindowRegion.left, kWindowRegion.top, kWindowRegion.right, kWindowRegion.bottom,
                         kWindowRegion.ellipseWidth, kWindowRegion.ellipseHeight);
  SetWindowRgn(window, region, TRUE);
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  SetWindowLongW(window, GWL_STYLE, style & ~static_cast<LONG>(WS_CAPTION | WS_THICKFRAME));

  InvalidateRect(window, nullptr, TRUE);
  SetWindowPos(window, nullptr, 0, 0, kWindowWidth, kWindowHeight, SWP_NOZORDER | SWP_NOMOVE);
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  return 1;
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      if (g_app != nullptr && g_app->ready) {
        g_app->Paint();
      } else {
        // Nothing to paint yet; validating keeps the system from asking again
        // and again.
        ValidateRect(window, nullptr);
      }
      return 0;
    case WM_MOUSEMOVE:
      // Unsigned 16-bit halves, as the design of the hit tests expects.
      g_app->OnMouseMove(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_LBUTTONDOWN: {
      const bool handled = g_app->OnLButtonDown(LOWORD(lParam), HIWORD(lParam));
      // The window has no caption: a press anywhere drags it, after whatever
      // the buttons did.
      if (!handled) SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
      // The drag runs a modal loop of its own. Wine's ends on the quit message
      // without posting it again, which would leave our loop waiting forever
      // once WM_DESTROY was handled inside it; posting it again is harmless
      // where the quit is still pending.
      if (g_quitPosted) PostQuitMessage(0);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    }
    case WM_COMMAND:
      return 0;  // the accelerators' command has no action
    case WM_SYSCOMMAND:
      // Alt+F4 and the system menu's Close come this way; DefWindowProcW turns
      // them into WM_CLOSE.
      if ((wParam & 0xFFF0) == SC_CLOSE && WorkerRunning()) return 0;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_CLOSE:
      // DefWindowProcW destroys the window. Posted by another program or the
      // taskbar as well.
      if (WorkerRunning()) return 0;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // The worker waits for this after asking for the restart.
      win32::RecordSessionEnd(wParam != FALSE);
      return 0;
    case WM_DESTROY:
      CoUninitialize();
      PostQuitMessage(0);
      g_quitPosted = true;
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void CALLBACK ProgressTimerProc(HWND, UINT, UINT_PTR, DWORD) { ProgressTimerTick(); }

int RunWindowMode(void* instance, int showCommand) {
  HINSTANCE module = static_cast<HINSTANCE>(instance);
  SetCanvas(&g_canvas);
  SensorUIApp* app = new SensorUIApp();
  g_app = app;
  app->Init();
  if (CreateMainWindow(module, showCommand) == 0) return 0;

  HACCEL accelerators = LoadAcceleratorsW(module, MAKEINTRESOURCEW(IDC_TAVUF9RECOVERY));
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) break;
    if (got == -1) return 0;  // cannot happen with no window filter; never spin on it
    if (TranslateAcceleratorW(msg.hwnd, accelerators, &msg) == 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace tavu
