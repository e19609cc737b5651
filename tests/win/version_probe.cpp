// Prints the FileVersion string of a program file as Windows reads it.
#include <windows.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
  if (size == 0) return 3;
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(argv[1], 0, size, block.data())) return 4;
  struct Translation {
    WORD language;
    WORD codePage;
  }* pairs = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pairs), &len) ||
      len < sizeof(Translation)) {
    return 5;
  }
  wchar_t name[64];
  wsprintfW(name, L"\\StringFileInfo\\%04x%04x\\FileVersion", pairs[0].language, pairs[0].codePage);
  wchar_t* value = nullptr;
  if (!VerQueryValueW(block.data(), name, reinterpret_cast<void**>(&value), &len)) return 6;
  std::printf("FileVersion=%ls\n", value);
  return 0;
}
