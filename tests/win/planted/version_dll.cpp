// A planted version.dll. It appends a line to ran.txt beside itself when a
// process loads it ("load <program>") and whenever one of its functions is
// called ("call <function> <program> from <calling module>"), then answers as
// a version.dll that finds no version information.
#include <windows.h>
#ifdef _MSC_VER
#include <intrin.h>
#define CALLER_ADDRESS() _ReturnAddress()
#else
#define CALLER_ADDRESS() __builtin_return_address(0)
#endif

namespace {

HMODULE g_self = nullptr;

// Appends the UTF-8 text of a module's path at line[used]; returns the new length.
int AppendModulePath(HMODULE module, char* line, int used, int capacity) {
  wchar_t path[MAX_PATH];
  DWORD units = GetModuleFileNameW(module, path, MAX_PATH);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(units), line + used, capacity - used,
                                  nullptr, nullptr);
  return bytes > 0 ? used + bytes : used;
}

void Mark(const char* what, const void* caller) {
  wchar_t marker[MAX_PATH];
  DWORD length = GetModuleFileNameW(g_self, marker, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  while (length > 0 && marker[length - 1] != L'\\') --length;
  const wchar_t name[] = L"ran.txt";
  if (length + sizeof name / sizeof name[0] > MAX_PATH) return;
  for (unsigned i = 0; i < sizeof name / sizeof name[0]; ++i) marker[length + i] = name[i];

  char line[96 + 6 * MAX_PATH];
  const int capacity = static_cast<int>(sizeof line) - 1;
  int used = 0;
  while (what[used] != '\0' && used < 60) {
    line[used] = what[used];
    ++used;
  }
  line[used++] = ' ';
  used = AppendModulePath(nullptr, line, used, capacity - 8);
  HMODULE from = nullptr;
  if (caller != nullptr && GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                              static_cast<LPCWSTR>(caller), &from)) {
    const char by[] = " from ";
    for (const char* c = by; *c != '\0'; ++c) line[used++] = *c;
    used = AppendModulePath(from, line, used, capacity);
  }
  line[used++] = '\n';
  HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(used), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = self;
    Mark("load", nullptr);
  }
  return TRUE;
}

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD handle) {
  Mark("call GetFileVersionInfoSizeW", CALLER_ADDRESS());
  if (handle != nullptr) *handle = 0;
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return 0;
}

__declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) {
  Mark("call GetFileVersionInfoW", CALLER_ADDRESS());
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return FALSE;
}

__declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT) {
  Mark("call VerQueryValueW", CALLER_ADDRESS());
  return FALSE;
}

}  // extern "C"
