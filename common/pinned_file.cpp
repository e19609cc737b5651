#include "common/pinned_file.h"

#include "common/file_api.h"
#include "common/platform.h"
#include "common/security_facts.h"
#include "common/system_api.h"
#include "common/trust_rules.h"
#include "common/win_errors.h"
#include "common/wide_text.h"

namespace tavu {

bool PinnedFile::Pin(const wchar_t* path) {
  handle_.reset();
  if (path == nullptr) return false;
  FileApi& files = *Sys().files;
  UniqueHandle held(files.Pin(path));
  wchar_t final[kPathChars] = {};
  if (!held || !files.FinalPath(held.get(), final, kPathChars) || !EqualsIgnoreAsciiCase(final, path)) return false;
  handle_.reset(held.release());
  return true;
}

bool PinnedFile::PinIfThere(const wchar_t* path) {
  if (Pin(path)) return true;
  const std::uint32_t error = Sys().system->LastError();
  return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

bool PinnedFile::OnlyAdminsChangeIt() const {
  SecurityFacts facts;
  return handle_.valid() && Sys().files->SecurityOf(handle_.get(), &facts) && !facts.reparsePoint &&
         UntrustedChangeRights(facts) == 0;
}

}  // namespace tavu
