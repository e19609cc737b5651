#include "common/trusted_path.h"

#include <cwchar>

#include "common/file_api.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/trust_rules.h"

namespace tavu {

namespace {

bool FullPlainPath(const wchar_t* path) {
  // "..", "." or a second kind of separator would make the folders walked
  // here other than the ones Windows resolves.
  return path != nullptr && path[0] != L'\0' && path[1] == L':' && path[2] == L'\\' &&
         std::wcsstr(path, L"\\..") == nullptr && std::wcsstr(path, L"\\.\\") == nullptr &&
         std::wcschr(path, L'/') == nullptr;
}

bool Refuse(TrustFinding* finding, TrustRefusal refusal, const wchar_t* step) {
  if (finding != nullptr) {
    finding->refusal = refusal;
    if (!CopyBounded(finding->step, kPathChars, step != nullptr ? step : L"")) finding->step[0] = L'\0';
  }
  return false;
}

// Cuts the last step off a path of at least "X:\": the root keeps its
// separator, since "C:" alone is the drive's current folder.
bool UpOneStep(wchar_t* current, std::size_t* length) {
  wchar_t* cut = std::wcsrchr(current, L'\\');
  if (cut == nullptr) return false;
  if (cut == current + 2) ++cut;
  *cut = L'\0';
  *length = static_cast<std::size_t>(cut - current);
  return true;
}

}  // namespace

bool OnlyAdminsCanChange(const wchar_t* path, TrustFinding* finding) {
  if (finding != nullptr) *finding = TrustFinding{};
  if (!FullPlainPath(path)) return Refuse(finding, TrustRefusal::NotPlain, path);
  wchar_t current[kPathChars] = {};
  if (!CopyBounded(current, kPathChars, path)) return Refuse(finding, TrustRefusal::NotPlain, L"");
  std::size_t length = std::wcslen(current);
  while (length > 3 && current[length - 1] == L'\\') current[--length] = L'\0';
  SecurityFacts facts;
  for (;;) {
    if (!Sys().files->Security(current, &facts)) return Refuse(finding, TrustRefusal::Unreadable, current);
    const std::uint32_t others = UntrustedChangeRights(facts);
    // A volume's root is never a reparse point of its own.
    if (length <= 3) {
      if ((others & (kRightDeleteChild | kRightWriteDac | kRightWriteOwner)) != 0)
        return Refuse(finding, TrustRefusal::OthersChange, current);
      return true;
    }
    if (facts.reparsePoint) return Refuse(finding, TrustRefusal::Link, current);
    if (others != 0) return Refuse(finding, TrustRefusal::OthersChange, current);
    if (!UpOneStep(current, &length)) return Refuse(finding, TrustRefusal::NotPlain, current);
  }
}

bool KeepsAdminsFiles(const wchar_t* folder) {
  SecurityFacts facts;
  if (!FullPlainPath(folder) || folder[3] == L'\0' || !Sys().files->Security(folder, &facts) ||
      facts.reparsePoint) {
    return false;
  }
  // An untrusted owner counts as holding every right, so this also asks for one.
  if ((UntrustedChangeRights(facts) & kRemoveRights) != 0) return false;
  wchar_t parent[kPathChars] = {};
  DirectoryOfPath(folder, parent, kPathChars);
  // A folder right below the root: its parent is the root itself.
  if (parent[2] == L'\0') parent[2] = L'\\';
  return OnlyAdminsCanChange(parent);
}

}  // namespace tavu
