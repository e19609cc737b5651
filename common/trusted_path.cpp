#include "common/trusted_path.h"

#include <cwchar>

#include "common/file_api.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/trust_rules.h"
#include "common/wide_text.h"

namespace tavu {

namespace {

bool FullPlainPath(const wchar_t* path) {
  // "..", "." or a second kind of separator would make the folders walked
  // here other than the ones Windows resolves.
  return path != nullptr && path[0] != L'\0' && path[1] == L':' && path[2] == L'\\' &&
         std::wcsstr(path, L"\\..") == nullptr && std::wcsstr(path, L"\\.\\") == nullptr &&
         std::wcschr(path, L'/') == nullptr;
}

// The change rights that someone outside the allow-list holds on path; all
// of them when its security cannot be read.
std::uint32_t OthersMayChange(const wchar_t* path, SecurityFacts* facts) {
  if (!Sys().files->Security(path, facts)) return kChangeRights;
  return UntrustedChangeRights(*facts);
}

}  // namespace

bool OnlyAdminsCanChange(const wchar_t* path) {
  if (!FullPlainPath(path)) return false;
  wchar_t current[kPathChars] = {};
  if (!CopyBounded(current, kPathChars, path)) return false;
  std::size_t length = std::wcslen(current);
  while (length > 3 && current[length - 1] == L'\\') current[--length] = L'\0';
  SecurityFacts facts;
  for (;;) {
    if (length <= 3) {
      return (OthersMayChange(current, &facts) & (kRightDeleteChild | kRightWriteDac | kRightWriteOwner)) ==
             0;
    }
    if (OthersMayChange(current, &facts) != 0) return false;
    wchar_t* cut = std::wcsrchr(current, L'\\');
    if (cut == nullptr) return false;
    // The root keeps its separator: "C:" alone is the drive's current folder.
    if (cut == current + 2) ++cut;
    *cut = L'\0';
    length = static_cast<std::size_t>(cut - current);
  }
}

}  // namespace tavu
