// The moves Windows carries out at its next start, as the session manager
// keeps them in PendingFileRenameOperations.
#pragma once

#include <cstddef>

namespace tavu {

// value: the REG_MULTI_SZ text, `chars` wide characters long (a missing
// final terminator is tolerated). Pairs of source and target; Windows 10 and
// 11 write a source as "*1\??\C:\..." ("*2" also occurs), a target that may
// replace a file as "*1!\??\C:\...", older Windows write "\??\" and "!\??\"
// alone; an empty target asks for the source's deletion. True when the move
// of `from` to `to` (a deletion when `to` is null) is among them, names
// compared without regard to ASCII case.
bool PendingMoveListed(const wchar_t* value, std::size_t chars, const wchar_t* from, const wchar_t* to);

}  // namespace tavu
