// How long a program takes from its start until its window is on the screen:
//   startup_probe RUNS TITLE EXE [ARGS]
// starts EXE RUNS times; each time it looks for a visible top-level window of
// that exact title every millisecond, notes the time since CreateProcessW, then
// closes the window and waits for the program to end. Prints one line per run
// ("run=N ms=T") and the median ("median=T"). Exit code 3 when a window never
// came (within 30 seconds). Used by bench/window_startup.sh.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  const int runs = static_cast<int>(std::wcstol(argv[1], nullptr, 10));
  const wchar_t* title = argv[2];
  // The command line: the program in quotes, then its arguments as given.
  std::wstring line = L"\"" + std::wstring(argv[3]) + L"\"";
  for (int i = 4; i < argc; ++i) line += L" " + std::wstring(argv[i]);

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
      std::printf("error=CreateProcessW %lu\n", GetLastError());
      return 4;
    }
    HWND window = nullptr;
    double ms = 0;
    for (;;) {
      window = FindWindowW(nullptr, title);
      LARGE_INTEGER now;
      QueryPerformanceCounter(&now);
      ms = 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
      if (window != nullptr && IsWindowVisible(window)) break;
      if (ms > 30000 || WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) {
        std::printf("error=no window after %.0f ms\n", ms);
        return 3;
      }
    }
    times.push_back(ms);
    std::printf("run=%d ms=%.1f\n", run + 1, ms);
    std::fflush(stdout);
    // Closed as a user closes it (the launcher ends at once: no worker runs).
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    Sleep(200);
  }
  std::sort(times.begin(), times.end());
  std::printf("median=%.1f\n", times[times.size() / 2]);
  return 0;
}
