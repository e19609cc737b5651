// Writes small program images with version resources into a folder as the
// version fuzzer's first corpus.
#include <cstdio>
#include <string>

#include "sim/images/pe_builder.h"
#include "sim/images/version_block.h"

using namespace tavu::images;

namespace {

bool Write(const std::string& dir, const char* name, const std::string& bytes) {
  std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_pe_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  VersionContent two;
  two.translations = {{0x0407, 0x04E4}, {0x0409, 0x04B0}};
  two.tables = {{"040704e4", {{"ProductVersion", "9"}}}, {"040904b0", {{"FileVersion", "1.0.0.10"}}}};
  bool ok = Write(dir, "pe32.exe", BuildPe(BuildVersionBlock(VersionContent{})).bytes) &&
            Write(dir, "pe32plus.exe", BuildPe(BuildVersionBlock(two), true).bytes) &&
            Write(dir, "block.bin", BuildVersionBlock(two)) && Write(dir, "noversion.exe", BuildPe("").bytes);
  return ok ? 0 : 1;
}
