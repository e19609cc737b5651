// Asks a top-level window, found by its exact title, to close or to end the
// session the ways other programs and the system menu do, and prints the
// answer of the message that has one. Used by the Wine end-to-end tests of the
// launcher's window while its worker runs.
//   close_probe TITLE enable        enables the window again (a message box of
//                                   its own thread disables it)
//   close_probe TITLE close         posts WM_CLOSE (another program, the taskbar)
//   close_probe TITLE syscommand    posts WM_SYSCOMMAND SC_CLOSE (the system menu)
//   close_probe TITLE query         sends WM_QUERYENDSESSION, prints "query=N"
//   close_probe TITLE endsession N  sends WM_ENDSESSION with wParam N
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  HWND window = FindWindowW(nullptr, argv[1]);
  if (window == nullptr) return 3;
  const wchar_t* what = argv[2];
  if (std::wcscmp(what, L"enable") == 0) {
    EnableWindow(window, TRUE);
    return IsWindowEnabled(window) ? 0 : 4;
  }
  if (std::wcscmp(what, L"close") == 0) return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 4;
  if (std::wcscmp(what, L"syscommand") == 0) return PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 4;
  DWORD_PTR answer = 0;
  if (std::wcscmp(what, L"query") == 0) {
    if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer)) return 5;
    std::printf("query=%lu\n", static_cast<unsigned long>(answer));
    return 0;
  }
  if (std::wcscmp(what, L"endsession") == 0 && argc >= 4) {
    const WPARAM ending = std::wcstol(argv[3], nullptr, 10) != 0 ? TRUE : FALSE;
    return SendMessageTimeoutW(window, WM_ENDSESSION, ending, 0, SMTO_ABORTIFHUNG, 10000, &answer) ? 0 : 5;
  }
  return 2;
}
