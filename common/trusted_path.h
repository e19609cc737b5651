// Whether only Windows and its administrators can change what a path names:
// the file or folder itself, and every folder on the way up to the drive's root.
#pragma once

#include <cstdint>

#include "common/wide_text.h"

namespace tavu {

// Why a path is not trusted, and at which step of the walk.
enum class TrustRefusal : std::uint8_t {
  None,
  NotPlain,      // not a full path "X:\..." without "." or ".." steps
  Unreadable,    // the step's security cannot be read
  OthersChange,  // someone outside the allow-list may change the step
  Link,          // the step is a junction, symbolic link or mount point
};

struct TrustFinding {
  TrustRefusal refusal = TrustRefusal::None;
  wchar_t step[kPathChars] = {};  // the file or folder the refusal names
};

// The file or folder and each folder above it, up to the root, pass the
// allow-list of common/trust_rules.h in full: no one else may write it, add
// a file or a folder to it, delete or rename it, delete what it holds, or
// change its permissions, owner or attributes. None of them is a reparse
// point: a walk up the written names says nothing about the folders behind a
// junction. The drive's root, to which Windows lets every user add folders
// and which cannot be renamed, only must not let others delete what it holds
// or re-permit it. False for anything but a full path "X:\..." without "." or
// ".." steps, and when any security cannot be read. *finding, when given,
// names the first step that failed.
bool OnlyAdminsCanChange(const wchar_t* path, TrustFinding* finding = nullptr);

// A folder in which an administrator's file stays the administrator's: its
// owner is trusted, no one outside the allow-list may delete, rename or
// re-permit what it holds, and the folders above it pass OnlyAdminsCanChange.
// Others may add files and folders of their own, as to C:\Windows\Temp.
bool KeepsAdminsFiles(const wchar_t* folder);

}  // namespace tavu
