// Whether only Windows and its administrators can change what a path names:
// the file or folder itself, and every folder on the way up to the drive's root.
#pragma once

namespace tavu {

// The file or folder and each folder above it, up to the root, pass the
// allow-list of common/trust_rules.h in full: no one else may write it, add
// a file or a folder to it, delete or rename it, delete what it holds, or
// change its permissions or owner. The drive's root, to which Windows lets
// every user add folders and which cannot be renamed, only must not let
// others delete what it holds or re-permit it. False for anything but a full
// path "X:\..." without "." or ".." steps, and when any security cannot be read.
bool OnlyAdminsCanChange(const wchar_t* path);

}  // namespace tavu
