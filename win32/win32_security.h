#pragma once

#include <windows.h>

#include "common/security_facts.h"

namespace tavu::win32 {

// FileApi::Security: the owner and the DACL's entries of a file or folder as
// Windows holds them, and the account that owns this program's new files
// where that is not Administrators. Nothing is weighed here.
// The name itself is opened, never what a junction or link leads to, and
// whether it is one is reported.
bool SecurityFactsOf(const wchar_t* path, SecurityFacts* facts);

// The same, of an open handle (READ_CONTROL and FILE_READ_ATTRIBUTES).
bool SecurityFactsOfHandle(HANDLE file, SecurityFacts* facts);

// Whether this process runs under Wine: ntdll exports wine_get_version there.
// Never told by the environment or HKCU, which the unelevated owner controls.
bool UnderWine();

}  // namespace tavu::win32
