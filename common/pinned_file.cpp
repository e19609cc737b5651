#include "common/pinned_file.h"

#include "common/file_api.h"
#include "common/platform.h"
#include "common/security_facts.h"
#include "common/system_api.h"
#include "common/trust_rules.h"
#include "common/win_errors.h"
#include "common/wide_text.h"

namespace tavu {

namespace {

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// The length without separators at the end, a root's own kept ("C:\").
std::size_t TrimmedLength(const wchar_t* p) {
  std::size_t n = 0;
  while (p[n] != L'\0') ++n;
  while (n > 3 && p[n - 1] == L'\\') --n;
  return n;
}

}  // namespace

bool SamePathNoCase(const wchar_t* a, const wchar_t* b) {
  if (a == nullptr || b == nullptr) return false;
  const std::size_t n = TrimmedLength(a);
  if (n == 0 || n != TrimmedLength(b)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

bool PinnedFile::Pin(const wchar_t* path) {
  handle_.reset();
  if (path == nullptr) return false;
  FileApi& files = *Sys().files;
  UniqueHandle held(files.Pin(path));
  wchar_t final[kPathChars] = {};
  if (!held || !files.FinalPath(held.get(), final, kPathChars) || !SamePathNoCase(final, path)) return false;
  handle_.reset(held.release());
  return true;
}

bool PinnedFile::PinIfThere(const wchar_t* path) {
  if (Pin(path)) return true;
  const std::uint32_t error = Sys().system->LastError();
  return !held() && (error == kErrorFileNotFound || error == kErrorPathNotFound) && !Sys().files->Exists(path);
}

bool PinnedFile::OnlyAdminsChangeIt() const {
  SecurityFacts facts;
  return handle_.valid() && Sys().files->SecurityOf(handle_.get(), &facts) && !facts.reparsePoint &&
         UntrustedChangeRights(facts) == 0;
}

}  // namespace tavu
