// Test tool: gives a program file the version resource of a chosen version, so
// the patcher can meet launchers of any version. Usage: set_file_version FILE VERSION
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/fixtures/version_block.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: set_file_version FILE VERSION\n");
    return 2;
  }
  const wchar_t* file = argv[1];
  std::wstring version = argv[2];
  tavu::test::VersionContent content;
  unsigned parts[4] = {0, 0, 0, 0};
  std::swscanf(version.c_str(), L"%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
  for (int i = 0; i < 4; ++i) content.fileVersion[i] = static_cast<std::uint16_t>(parts[i]);
  std::string text;
  for (wchar_t c : version) text.push_back(static_cast<char>(c));
  content.tables = {{"040904b0", {{"FileVersion", text}, {"ProductVersion", text}}}};
  const std::string block = tavu::test::BuildVersionBlock(content);
  HANDLE update = BeginUpdateResourceW(file, FALSE);
  if (update == nullptr) {
    std::fwprintf(stderr, L"BeginUpdateResourceW failed: %lu\n", GetLastError());
    return 1;
  }
  const WORD language = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  BOOL ok = UpdateResourceW(update, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), language,
                            const_cast<char*>(block.data()), static_cast<DWORD>(block.size()));
  if (!EndUpdateResourceW(update, !ok) || !ok) {
    std::fwprintf(stderr, L"UpdateResourceW failed: %lu\n", GetLastError());
    return 1;
  }
  return 0;
}
