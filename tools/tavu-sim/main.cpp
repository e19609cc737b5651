// tavu-sim: the launcher's and the patcher's logic on a simulated Windows machine.
#include <cstdio>
#include <cstring>

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: tavu-sim [--disk IMG] [--usb-disk IMG] [--removable IMG] [--absent]\n"
               "                [--root DIR] [--manufacturer TEXT] [--bitlocker LIST]\n"
               "                [--bcd-listing FILE] [--carried-launcher FILE] [--fwmode present|absent]\n"
               "                locate|arm|patch|demo [--json] [--write]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const char* command = argv[argc - 1];
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "locate") == 0 || std::strcmp(argv[i], "arm") == 0 ||
        std::strcmp(argv[i], "patch") == 0 || std::strcmp(argv[i], "demo") == 0) {
      command = argv[i];
    }
  }
  std::fprintf(stderr, "tavu-sim: command '%s' is not built yet\n", command);
  return 2;
}
