// What a screen reader and a keyboard user find in a window found by its exact
// title, asked from another process as they ask it:
//   access_probe tree TITLE            the client object and its children through
//                                      AccessibleObjectFromWindow and AccessibleChildren
//   access_probe press TITLE CHILD     accDoDefaultAction on a child
//   access_probe hit TITLE X Y         accHitTest at a client point
//   access_probe keys TITLE KEY...     posts each key (tab, left, right, up, down,
//                                      return, space, escape) to the window and reports
//                                      the focus events (SetWinEventHook) that follow
//   access_probe watch TITLE SECONDS   reports the window's object events for a while
//   access_probe animation on|off      SPI_SETCLIENTAREAANIMATION, kept in the profile
//   access_probe cues on|off           SPI_SETKEYBOARDCUES, kept in the profile
//   access_probe settings              this process's DPI and the display settings
// Used by tests/e2e/test_window_access.sh. Exit codes: 0 done, 2 usage, 3 no
// such window, 4 MSAA failed (its HRESULT printed).
#include <windows.h>
// After windows.h: the COM and OLE Automation declarations it builds on.
#include <oleacc.h>

#include <cstdio>
#include <cwchar>

namespace {

void PrintUtf8(const wchar_t* text) {
  char buffer[4096];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
  if (n <= 0) buffer[0] = '\0';
  for (char* p = buffer; *p != '\0'; ++p) {
    if (*p == '\n') *p = '|';
    if (*p == '\r') *p = ' ';
  }
  std::fputs(buffer, stdout);
}

VARIANT Child(LONG id) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

// name=... role=0x.. state=0x.. location=x,y,w,h action=...
void PrintItem(IAccessible* acc, LONG id) {
  VARIANT child = Child(id);
  BSTR name = nullptr;
  std::printf("name=");
  if (SUCCEEDED(acc->get_accName(child, &name)) && name != nullptr) PrintUtf8(name);
  SysFreeString(name);
  VARIANT role;
  VariantInit(&role);
  std::printf("\trole=");
  if (SUCCEEDED(acc->get_accRole(child, &role)) && role.vt == VT_I4) std::printf("0x%lX", role.lVal);
  VARIANT state;
  VariantInit(&state);
  std::printf("\tstate=");
  if (SUCCEEDED(acc->get_accState(child, &state)) && state.vt == VT_I4) std::printf("0x%lX", state.lVal);
  LONG x = 0, y = 0, w = 0, h = 0;
  std::printf("\tlocation=");
  if (SUCCEEDED(acc->accLocation(&x, &y, &w, &h, child))) std::printf("%ld,%ld,%ld,%ld", x, y, w, h);
  BSTR action = nullptr;
  std::printf("\taction=");
  if (acc->get_accDefaultAction(child, &action) == S_OK && action != nullptr) PrintUtf8(action);
  SysFreeString(action);
  std::printf("\n");
}

IAccessible* ClientOf(HWND window) {
  IAccessible* acc = nullptr;
  const HRESULT hr =
      AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&acc));
  if (FAILED(hr) || acc == nullptr) {
    std::printf("error=AccessibleObjectFromWindow 0x%08lX\n", static_cast<unsigned long>(hr));
    return nullptr;
  }
  return acc;
}

int Tree(HWND window) {
  IAccessible* acc = ClientOf(window);
  if (acc == nullptr) return 4;
  LONG count = 0;
  acc->get_accChildCount(&count);
  VARIANT focus;
  VariantInit(&focus);
  acc->get_accFocus(&focus);
  std::printf("client\t");
  PrintItem(acc, CHILDID_SELF);
  std::printf("count=%ld\tfocus=%ld\n", count, focus.vt == VT_I4 ? focus.lVal : -1L);
  VARIANT children[8];
  LONG got = 0;
  const HRESULT hr = AccessibleChildren(acc, 0, count < 8 ? count : 8, children, &got);
  if (FAILED(hr)) {
    std::printf("error=AccessibleChildren 0x%08lX\n", static_cast<unsigned long>(hr));
    acc->Release();
    return 4;
  }
  for (LONG i = 0; i < got; ++i) {
    if (children[i].vt == VT_I4) {
      std::printf("child=%ld\t", children[i].lVal);
      PrintItem(acc, children[i].lVal);
    } else {
      std::printf("child=object vt=%d\n", children[i].vt);
    }
    VariantClear(&children[i]);
  }
  acc->Release();
  return 0;
}

int Press(HWND window, LONG id) {
  IAccessible* acc = ClientOf(window);
  if (acc == nullptr) return 4;
  const HRESULT hr = acc->accDoDefaultAction(Child(id));
  std::printf("press=0x%08lX\n", static_cast<unsigned long>(hr));
  acc->Release();
  return SUCCEEDED(hr) ? 0 : 4;
}

int Hit(HWND window, LONG x, LONG y) {
  IAccessible* acc = ClientOf(window);
  if (acc == nullptr) return 4;
  POINT p{x, y};
  ClientToScreen(window, &p);
  VARIANT hit;
  VariantInit(&hit);
  const HRESULT hr = acc->accHitTest(p.x, p.y, &hit);
  std::printf("hit=%ld\n", hit.vt == VT_I4 ? hit.lVal : -1L);
  VariantClear(&hit);
  acc->Release();
  return SUCCEEDED(hr) ? 0 : 4;
}

HWND g_target = nullptr;

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD) {
  if (window != g_target || object != OBJID_CLIENT) return;
  const char* name = event == EVENT_OBJECT_FOCUS         ? "focus"
                     : event == EVENT_OBJECT_STATECHANGE ? "statechange"
                     : event == EVENT_OBJECT_NAMECHANGE  ? "namechange"
                     : event == EVENT_OBJECT_SHOW        ? "show"
                     : event == EVENT_OBJECT_HIDE        ? "hide"
                                                         : nullptr;
  if (name == nullptr) return;
  std::printf("event=%s\tchild=%ld\n", name, child);
  std::fflush(stdout);
}

// Delivers the hook's events for the given time.
void Pump(DWORD milliseconds) {
  const DWORD end = GetTickCount() + milliseconds;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    const DWORD now = GetTickCount();
    if (static_cast<LONG>(end - now) <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
  }
}

HWINEVENTHOOK Hook(HWND window) {
  g_target = window;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_NAMECHANGE, nullptr, &OnEvent, process, 0,
                         WINEVENT_OUTOFCONTEXT);
}

UINT KeyCode(const wchar_t* name) {
  struct {
    const wchar_t* name;
    UINT key;
  } const keys[] = {{L"tab", VK_TAB},     {L"left", VK_LEFT},     {L"right", VK_RIGHT},
                    {L"up", VK_UP},       {L"down", VK_DOWN},     {L"return", VK_RETURN},
                    {L"space", VK_SPACE}, {L"escape", VK_ESCAPE}, {L"a", 'A'}};
  for (const auto& k : keys) {
    if (std::wcscmp(k.name, name) == 0) return k.key;
  }
  return 0;
}

int Keys(HWND window, int count, wchar_t** names) {
  HWINEVENTHOOK hook = Hook(window);
  if (hook == nullptr) return 4;
  Pump(300);
  for (int i = 0; i < count; ++i) {
    const UINT key = KeyCode(names[i]);
    if (key == 0) return 2;
    std::printf("key=%ls\n", names[i]);
    std::fflush(stdout);
    // As a keyboard's first press and release: repeat count 1, previous state
    // up for the press, down for the release.
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
    Pump(500);
  }
  UnhookWinEvent(hook);
  return 0;
}

int Watch(HWND window, DWORD seconds) {
  HWINEVENTHOOK hook = Hook(window);
  if (hook == nullptr) return 4;
  std::printf("watching\n");
  std::fflush(stdout);
  Pump(seconds * 1000);
  UnhookWinEvent(hook);
  return 0;
}

int Settings() {
  HDC screen = GetDC(nullptr);
  std::printf("logpixels=%d\n", GetDeviceCaps(screen, LOGPIXELSX));
  ReleaseDC(nullptr, screen);
  BOOL animation = TRUE;
  SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &animation, 0);
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof(contrast);
  const BOOL gotContrast = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0);
  BOOL cues = FALSE;
  SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cues, 0);
  std::printf("animation=%d\ncues=%d\nhighcontrast=%s\n", animation ? 1 : 0, cues ? 1 : 0,
              !gotContrast                              ? "unreadable"
              : (contrast.dwFlags & HCF_HIGHCONTRASTON) ? "on"
                                                        : "off");
  return 0;
}

// A BOOL setting that SystemParametersInfoW takes in its third argument.
int SetFlag(UINT action, bool on) {
  const BOOL ok =
      SystemParametersInfoW(action, 0, reinterpret_cast<void*>(static_cast<UINT_PTR>(on ? TRUE : FALSE)),
                            SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
  std::printf("set=%d error=%lu\n", ok ? 1 : 0, ok ? 0ul : static_cast<unsigned long>(GetLastError()));
  return ok ? 0 : 4;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const wchar_t* command = argv[1];
  if (std::wcscmp(command, L"settings") == 0) return Settings();
  if (argc == 3 && std::wcscmp(command, L"animation") == 0) {
    return SetFlag(SPI_SETCLIENTAREAANIMATION, std::wcscmp(argv[2], L"on") == 0);
  }
  if (argc == 3 && std::wcscmp(command, L"cues") == 0) {
    return SetFlag(SPI_SETKEYBOARDCUES, std::wcscmp(argv[2], L"on") == 0);
  }
  if (argc < 3) return 2;
  HWND window = FindWindowW(nullptr, argv[2]);
  if (window == nullptr) return 3;
  // A screen reader's side of the calls: its own apartment, from which it asks
  // the window's process.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  int result = 2;
  if (std::wcscmp(command, L"tree") == 0) result = Tree(window);
  if (std::wcscmp(command, L"press") == 0 && argc == 4)
    result = Press(window, std::wcstol(argv[3], nullptr, 10));
  if (std::wcscmp(command, L"hit") == 0 && argc == 5) {
    result = Hit(window, std::wcstol(argv[3], nullptr, 10), std::wcstol(argv[4], nullptr, 10));
  }
  if (std::wcscmp(command, L"keys") == 0) result = Keys(window, argc - 3, argv + 3);
  if (std::wcscmp(command, L"watch") == 0 && argc == 4) {
    result = Watch(window, static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
  }
  std::fflush(stdout);
  CoUninitialize();
  return result;
}
