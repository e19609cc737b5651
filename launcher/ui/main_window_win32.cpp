// The confirmation window: class, creation and shape, window procedure, the
// progress timer callback and the window mode's message loop. Everything it
// shows, every key and the window's size at each DPI are decided by
// SensorUIApp and window_layout.h; this file only connects them to user32.
#include <windows.h>
// After windows.h: CoUninitialize.
#include <objbase.h>

#include "launcher/res/resource_ids.h"
#include "launcher/startup/globals.h"
#include "launcher/startup/launcher_main.h"
#include "launcher/ui/gdi_canvas_win32.h"
#include "launcher/ui/main_window.h"
#include "launcher/ui/sensor_ui_app.h"
#include "launcher/ui/window_accessible_win32.h"
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

// The window's DPI: GetDpiForWindow from Windows 10 1607 on, looked up so
// that the launcher still starts on older Windows; there the screen's
// (GetDeviceCaps LOGPIXELSX), which is the system DPI the window is drawn at.
UINT WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto forWindow = user32 == nullptr ? nullptr
                                     : reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
                                           GetProcAddress(user32, "GetDpiForWindow")));
  if (forWindow != nullptr) return forWindow(window);
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return kBaseDpi;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

// The round region at the application's DPI. The window owns the region from
// here on; it is not deleted by us.
void ShapeWindow(HWND window) {
  const RoundRegion r = ScaledRegion(g_app->look.dpi);
  SetWindowRgn(window, CreateRoundRectRgn(r.left, r.top, r.right, r.bottom, r.ellipseWidth, r.ellipseHeight),
               TRUE);
}

// WM_SETTINGCHANGE and WM_SYSCOLORCHANGE: high contrast, the system colours,
// animations or the focus cue may have changed.
void FollowDisplaySettings(HWND window) {
  g_app->ReadDisplaySettings();
  SetLayeredWindowAttributes(window, 0, g_app->WindowAlpha(), LWA_ALPHA);
  InvalidateRect(window, nullptr, FALSE);
}
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
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  const WindowOrigin origin = CentredWindowOrigin(screenWidth, screenHeight);
  HWND window =
      CreateWindowExW(WS_EX_LAYERED | WS_EX_TOPMOST, g_windowClassName, g_windowTitle, WS_POPUP, origin.x,
                      origin.y, kWindowWidth, kWindowHeight, nullptr, nullptr, g_instance, nullptr);
  g_mainWindow = window;
  if (window == nullptr) return 0;

  // Until the window exists there is no DPI of its own to ask for.
  g_app->SetDpi(WindowDpi(window));
  g_app->ReadDisplaySettings();
  SetLayeredWindowAttributes(window, 0, g_app->WindowAlpha(), LWA_ALPHA);
  ShapeWindow(window);
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  SetWindowLongW(window, GWL_STYLE, style & ~static_cast<LONG>(WS_CAPTION | WS_THICKFRAME));

  InvalidateRect(window, nullptr, TRUE);
  // Centred again at the size of its DPI: at 96 DPI the place it was made at.
  const WindowOrigin placed = CentredWindowOrigin(screenWidth, screenHeight, g_app->look.dpi);
  const WindowSize size = ScaledWindowSize(g_app->look.dpi);
  SetWindowPos(window, nullptr, placed.x, placed.y, size.width, size.height, SWP_NOZORDER);
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
    case WM_KEYDOWN:
      // Bit 30: the key was down before, so this is its auto-repeat.
      if (g_app->OnKeyDown(static_cast<std::uint32_t>(wParam), (lParam & 0x40000000) != 0)) return 0;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_SETFOCUS:
      g_app->OnFocusChanged(true);
      return 0;
    case WM_KILLFOCUS:
      g_app->OnFocusChanged(false);
      return 0;
    case kMsgAccessiblePress:
      g_app->OnAccessiblePress(static_cast<std::int32_t>(wParam));
      return 0;
    case WM_GETOBJECT:
      // lParam is a LONG object id; a 64-bit window receives it sign-extended
      // or not, depending on the sender.
      if (static_cast<DWORD>(lParam) == static_cast<DWORD>(OBJID_CLIENT) && g_app != nullptr && g_app->ready) {
        const LRESULT answer = AnswerClientObject(window, wParam);
        if (answer != 0) return answer;
      }
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_DPICHANGED: {
      // Moved onto a monitor of another DPI: Windows suggests where the window
      // goes; its size is the window's own at the new DPI.
      g_app->SetDpi(LOWORD(wParam));
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      const WindowSize size = ScaledWindowSize(g_app->look.dpi);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, size.width, size.height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      ShapeWindow(window);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    }
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
      if (g_app != nullptr && g_app->ready) FollowDisplaySettings(window);
      return DefWindowProcW(window, message, wParam, lParam);
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
      DisconnectClientObject();
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
  app->publishAccessible = &PublishAccessibleView;
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
