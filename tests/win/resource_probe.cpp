// Copies resource "EXE" 129 (language 1033) of a program file into a file, as
// Windows' resource calls hand it out.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  HMODULE module = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) return 3;
  HRSRC info = FindResourceExW(module, L"EXE", MAKEINTRESOURCEW(129), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  int rc = 4;
  if (info != nullptr) {
    HGLOBAL loaded = LoadResource(module, info);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    DWORD size = SizeofResource(module, info);
    FILE* out = _wfopen(argv[2], L"wb");
    if (bytes != nullptr && out != nullptr && std::fwrite(bytes, 1, size, out) == size) rc = 0;
    if (out != nullptr) std::fclose(out);
  }
  FreeLibrary(module);
  return rc;
}
