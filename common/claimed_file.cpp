#include "common/claimed_file.h"

#include "common/file_api.h"
#include "common/in_use_retry.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "common/win_errors.h"

namespace tavu {

namespace {

// Names a user may have planted in advance are passed over; a few fresh
// ones are plenty when each is unforeseeable.
constexpr int kFreshNameTries = 8;

bool Gone(std::uint32_t error) { return error == kErrorFileNotFound || error == kErrorPathNotFound; }

bool CreateAdminsOnly(const wchar_t* path) {
  UniqueHandle file(
      Sys().files->OpenFile(path, FileAccess::Write, FileCreate::CreateNew, FileSecurity::AdminsOnly));
  return file.valid();
}

// A number for a fresh name that another program cannot foresee; the
// attempt keeps the names of one run apart where Windows gives none.
std::uint32_t FreshNumber(int attempt) {
  std::uint32_t number = 0;
  if (!Sys().system->UnforeseeableNumber(&number))
    number = 0x9E3779B9u * static_cast<std::uint32_t>(attempt + 1);
  return number;
}

}  // namespace

bool ClearName(const wchar_t* path, std::uint32_t waitMilliseconds) {
  FileApi& files = *Sys().files;
  if (files.RemoveFolder(path)) return true;
  const std::uint32_t folderError = Sys().system->LastError();
  if (Gone(folderError)) return true;
  if (folderError == kErrorDirNotEmpty) return false;
  const int tries = static_cast<int>(waitMilliseconds / kInUsePauseMilliseconds) + 1;
  if (RetryWhileInUse([&files, path] { return files.Remove(path); }, tries)) return true;
  return Gone(Sys().system->LastError());
}

bool NameBeside(const wchar_t* preferred, std::uint32_t number, wchar_t* out, std::size_t capacity) {
  if (preferred == nullptr || out == nullptr || capacity == 0) return false;
  std::size_t length = 0;
  std::size_t fileStart = 0;
  std::size_t dot = static_cast<std::size_t>(-1);
  for (; preferred[length] != L'\0'; ++length) {
    if (preferred[length] == L'\\' || preferred[length] == L'/') {
      fileStart = length + 1;
      dot = static_cast<std::size_t>(-1);
    } else if (preferred[length] == L'.' && length > fileStart) {
      dot = length;
    }
  }
  const std::size_t cut = dot == static_cast<std::size_t>(-1) ? length : dot;
  wchar_t suffix[16];
  FormatBounded(suffix, 16, L"-%08X", static_cast<unsigned>(number));
  if (cut >= capacity) return false;
  for (std::size_t i = 0; i < cut; ++i) out[i] = preferred[i];
  out[cut] = L'\0';
  return AppendBounded(out, capacity, suffix) && AppendBounded(out, capacity, preferred + cut);
}

bool ClaimAdminsOnlyFile(const wchar_t* preferred, std::uint32_t waitMilliseconds, wchar_t* claimed,
                         std::size_t capacity) {
  if (preferred == nullptr || claimed == nullptr || !CopyBounded(claimed, capacity, preferred)) return false;
  // If what lies there cannot go, or comes back before the exclusive create,
  // the create fails and nothing planted is ever opened.
  if (ClearName(preferred, waitMilliseconds) && CreateAdminsOnly(preferred)) return true;
  return CreateAdminsOnlyBeside(preferred, claimed, capacity);
}

bool CreateAdminsOnlyBeside(const wchar_t* preferred, wchar_t* claimed, std::size_t capacity) {
  if (preferred == nullptr || claimed == nullptr || capacity == 0) return false;
  for (int attempt = 0; attempt < kFreshNameTries; ++attempt) {
    if (NameBeside(preferred, FreshNumber(attempt), claimed, capacity) && CreateAdminsOnly(claimed))
      return true;
  }
  claimed[0] = L'\0';
  return false;
}

}  // namespace tavu
