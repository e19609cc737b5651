// Files of the elevated programs in a folder where every user may create
// files (C:\Windows\Temp): whatever a user left under a fixed name is never
// opened, and never stops the program.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavu {

// Empties `path` for a new file of ours: the file or link found there goes
// (DeleteFileW never follows a link), an empty folder or a folder link too
// (RemoveDirectoryW removes a link itself, never what it leads to). A folder
// that holds anything is left alone: emptying it would walk a tree its maker
// controls, through links into folders no one meant to touch, and a fresh
// name serves as well. A refusal while someone holds the file is tried again
// for up to `waitMilliseconds`. True when nothing lies at path any more.
bool ClearName(const wchar_t* path, std::uint32_t waitMilliseconds);

// `preferred` with "-" and eight hexadecimal digits of `number` before its
// extension ("C:\Windows\Temp\RcvBoot-0A1B2C3D.cmd"). False when it does not
// fit `capacity`.
bool NameBeside(const wchar_t* preferred, std::uint32_t number, wchar_t* out, std::size_t capacity);

// Creates an empty admins-only file under a fresh name beside `preferred`,
// leaving whatever lies at `preferred` as it is. *claimed receives the name.
bool CreateAdminsOnlyBeside(const wchar_t* preferred, wchar_t* claimed, std::size_t capacity);

// Creates an empty file that did not exist a moment before and that only
// Administrators and SYSTEM may write: at `preferred` once ClearName made
// room there (holders waited for up to `waitMilliseconds`), otherwise under a
// fresh name beside it. *claimed receives the name used. False, with nothing
// of ours left anywhere, when no name could be had.
bool ClaimAdminsOnlyFile(const wchar_t* preferred, std::uint32_t waitMilliseconds, wchar_t* claimed,
                         std::size_t capacity);

}  // namespace tavu
