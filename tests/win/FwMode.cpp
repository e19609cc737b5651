// Stand-in for the maker's firmware-mode tool: appends one line per run to
// "FwMode.runs.txt" beside itself, "<arguments>|<current directory>", so the
// end-to-end tests can see how the launcher started it. Never shipped.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 1u, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += L' ';
    arguments += argv[i];
  }
  wchar_t current[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring record = self;
  record = record.substr(0, record.find_last_of(L'\\') + 1) + L"FwMode.runs.txt";

  FILE* out = _wfopen(record.c_str(), L"ab");
  if (out == nullptr) return 2;
  std::string line = Utf8(arguments) + "|" + Utf8(current) + "\n";
  std::fwrite(line.data(), 1, line.size(), out);
  std::fclose(out);
  return 0;
}
