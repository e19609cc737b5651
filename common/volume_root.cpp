#include "common/volume_root.h"

#include <cstdint>
#include <cwchar>

#include "common/platform.h"
#include "common/volume_api.h"

namespace tavu {

namespace {

// A letter and a few folder mount points fit; more are not looked through.
constexpr std::uint32_t kPathNamesChars = 1024;

}  // namespace

bool DriveRootOfVolume(const wchar_t* volumeName, wchar_t (&root)[4]) {
  root[0] = L'\0';
  wchar_t names[kPathNamesChars] = {};
  std::uint32_t needed = 0;
  // Two terminators always stay behind what Windows writes, so the walk ends
  // inside the buffer.
  if (!Sys().volumes->PathNames(volumeName, names, kPathNamesChars - 2, &needed)) return false;
  for (const wchar_t* p = names; *p != L'\0'; p += std::wcslen(p) + 1) {
    const wchar_t letter = static_cast<wchar_t>(p[0] | 0x20);
    if (letter >= L'a' && letter <= L'z' && p[1] == L':' && p[2] == L'\\' && p[3] == L'\0') {
      for (int i = 0; i < 4; ++i) root[i] = p[i];
      return true;
    }
  }
  return false;
}

}  // namespace tavu
