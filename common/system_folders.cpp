#include "common/system_folders.h"

#include <cstdint>

#include "common/platform.h"
#include "common/system_api.h"
#include "common/wide_text.h"

namespace tavu {

namespace {

// The answer without its trailing separators, when it makes a base.
bool Usable(wchar_t* folder, std::uint32_t length) {
  if (length == 0 || length >= kPathChars) return false;
  folder[length] = L'\0';
  while (length > 3 && (folder[length - 1] == L'\\' || folder[length - 1] == L'/')) folder[--length] = L'\0';
  return UsableSystemFolder(folder);
}

bool Join(const wchar_t* base, const wchar_t* below, wchar_t* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return false;
  out[0] = L'\0';
  return CopyBounded(out, capacity, base) && AppendBounded(out, capacity, L"\\") &&
         AppendBounded(out, capacity, below != nullptr ? below : L"");
}

}  // namespace

bool UsableSystemFolder(const wchar_t* folder) {
  if (folder == nullptr) return false;
  const wchar_t drive = UpperAscii(folder[0]);
  if (drive < L'A' || drive > L'Z' || folder[1] != L':' || folder[2] != L'\\' || folder[3] == L'\0')
    return false;
  // Each part between separators: not empty, not "." or "..".
  const wchar_t* part = folder + 3;
  for (const wchar_t* p = part;; ++p) {
    if (*p == L'\\' || *p == L'/' || *p == L'\0') {
      const std::size_t n = static_cast<std::size_t>(p - part);
      if (n == 0 || (n == 1 && part[0] == L'.') || (n == 2 && part[0] == L'.' && part[1] == L'.'))
        return false;
      if (*p == L'\0') return true;
      part = p + 1;
    }
  }
}

bool WindowsPath(const wchar_t* below, wchar_t* out, std::size_t capacity) {
  wchar_t folder[kPathChars] = {};
  const std::uint32_t n = Sys().system->WindowsFolder(folder, kPathChars);
  return Join(Usable(folder, n) ? folder : L"C:\\Windows", below, out, capacity);
}

bool ProgramFilesPath(const wchar_t* below, wchar_t* out, std::size_t capacity) {
  wchar_t folder[kPathChars] = {};
  // A 32-bit program on 64-bit Windows is otherwise told the folder of
  // 32-bit programs; the launcher lives in the 64-bit one. Only 32-bit
  // Windows, with its one folder, has none.
  std::uint32_t n = Sys().system->ProgramFilesFolder(true, folder, kPathChars);
  if (n == 0) n = Sys().system->ProgramFilesFolder(false, folder, kPathChars);
  return Join(Usable(folder, n) ? folder : L"C:\\Program Files", below, out, capacity);
}

}  // namespace tavu
