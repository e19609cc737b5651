#pragma once

#include <cstdint>

namespace tavu::win32 {

// FileApi::UserRights, read from the file's or folder's owner and permissions.
bool UserRightsOf(const wchar_t* path, std::uint32_t* rights);

}  // namespace tavu::win32
