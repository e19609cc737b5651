// The wait for the end of the session through the real binding: a window
// whose procedure hands WM_ENDSESSION to the binding as the launcher's window
// does, and a second thread that waits as the launcher's worker does, while
// the first pumps messages. Prints "received=0|1" for each WM_ENDSESSION,
// then "answer=ending|not-ending|timed-out", "visible=0|1" (the window after
// the wait) and "waited=MS".
//   session_end_probe MILLISECONDS          waits; another program or Wine
//                                           ends (or keeps) the session
//   session_end_probe MILLISECONDS stale    the window is told first that an
//                                           earlier shutdown was stopped
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "common/ui_api.h"
#include "win32/session_end.h"
#include "win32/win32_handle.h"
#include "win32/win32_platform.h"

namespace {

constexpr wchar_t kTitle[] = L"TavuSessionEndProbe";

HWND g_window = nullptr;
DWORD g_milliseconds = 0;

LRESULT CALLBACK ProbeWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // Printed at once: a session that ends may end the process on return.
      std::printf("received=%d\n", wParam != FALSE ? 1 : 0);
      std::fflush(stdout);
      tavu::win32::RecordSessionEnd(wParam != FALSE);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

const char* Name(tavu::SessionEnd answer) {
  switch (answer) {
    case tavu::SessionEnd::Ending:
      return "ending";
    case tavu::SessionEnd::NotEnding:
      return "not-ending";
    case tavu::SessionEnd::TimedOut:
      return "timed-out";
  }
  return "?";
}

DWORD WINAPI Waiter(LPVOID) {
  const DWORD started = GetTickCount();
  const tavu::SessionEnd answer = tavu::Sys().ui->WaitForSessionEnd(g_window, g_milliseconds);
  const DWORD waited = GetTickCount() - started;
  // ShowWindowAsync is carried out by the window's thread; give it a moment
  // when the answer came at once.
  Sleep(200);
  std::printf("answer=%s\nvisible=%d\nwaited=%lu\n", Name(answer), IsWindowVisible(g_window) ? 1 : 0,
              static_cast<unsigned long>(waited));
  std::fflush(stdout);
  PostMessageW(g_window, WM_CLOSE, 0, 0);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  g_milliseconds = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
  const bool stale = argc >= 3 && std::wcscmp(argv[2], L"stale") == 0;
  tavu::win32::InstallWin32Platform();

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &ProbeWndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kTitle;
  if (RegisterClassExW(&wc) == 0) return 3;
  g_window = CreateWindowExW(0, kTitle, kTitle, WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr, nullptr,
                             wc.hInstance, nullptr);
  if (g_window == nullptr) return 3;
  ShowWindow(g_window, SW_SHOW);
  UpdateWindow(g_window);
  if (stale) SendMessageW(g_window, WM_ENDSESSION, FALSE, 0);

  const tavu::win32::OwnedHandle waiter(CreateThread(nullptr, 0, &Waiter, nullptr, 0, nullptr));
  if (!waiter) return 4;
  // The waiter's WM_CLOSE ends the loop.
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0 && msg.message != WM_CLOSE) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  WaitForSingleObject(waiter.get(), INFINITE);
  return 0;
}
