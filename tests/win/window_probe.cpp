// Reports what Windows knows about a top-level window found by its exact title:
// class, place, styles, layering, region and child controls. With
// "x,y" arguments it also says whether each client point lies in the window's
// region. Used by the Wine end-to-end tests of the launcher's window and boxes.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

void PrintUtf8(const wchar_t* text) {
  char buffer[2048];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
  if (n <= 0) buffer[0] = '\0';
  std::fputs(buffer, stdout);
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  wchar_t cls[128] = {};
  GetClassNameW(child, cls, 128);
  wchar_t text[1024] = {};
  DWORD_PTR ignored = 0;
  // WM_GETTEXT is marshalled across processes; GetWindowTextW is not for controls.
  SendMessageTimeoutW(child, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                      &ignored);
  for (wchar_t* p = text; *p != L'\0'; ++p) {
    if (*p == L'\n') *p = L'|';
    if (*p == L'\r') *p = L' ';
  }
  std::printf("child=");
  PrintUtf8(cls);
  std::printf("\t0x%08lX\t", static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)));
  PrintUtf8(text);
  std::printf("\n");
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HWND window = FindWindowW(nullptr, argv[1]);
  if (window == nullptr) return 3;

  wchar_t cls[128] = {};
  GetClassNameW(window, cls, 128);
  std::printf("class=");
  PrintUtf8(cls);
  std::printf("\n");

  RECT r{};
  GetWindowRect(window, &r);
  std::printf("rect=%ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
  std::printf("style=0x%08lX\n", static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE)));
  std::printf("exstyle=0x%08lX\n", static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)));

  COLORREF key = 0;
  BYTE alpha = 0;
  DWORD flags = 0;
  if (GetLayeredWindowAttributes(window, &key, &alpha, &flags)) {
    std::printf("alpha=%u flags=%lu\n", static_cast<unsigned>(alpha), static_cast<unsigned long>(flags));
  } else {
    std::printf("alpha=none\n");
  }

  HRGN region = CreateRectRgn(0, 0, 0, 0);
  const int kind = GetWindowRgn(window, region);
  RECT box{};
  GetRgnBox(region, &box);
  std::printf("region=%ld,%ld,%ld,%ld kind=%d\n", box.left, box.top, box.right, box.bottom, kind);
  for (int i = 2; i < argc; ++i) {
    int x = 0;
    int y = 0;
    if (std::swscanf(argv[i], L"%d,%d", &x, &y) != 2) return 4;
    std::printf("in %d,%d=%d\n", x, y, PtInRegion(region, x, y) ? 1 : 0);
  }
  DeleteObject(region);

  EnumChildWindows(window, &PrintChild, 0);
  return 0;
}
