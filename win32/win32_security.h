#pragma once

#include "common/security_facts.h"

namespace tavu::win32 {

// FileApi::Security: the owner and the DACL's entries of a file or folder as
// Windows holds them, and the account that owns this program's new files
// where that is not Administrators. Nothing is weighed here.
bool SecurityFactsOf(const wchar_t* path, SecurityFacts* facts);

}  // namespace tavu::win32
