// A boot configuration listing a technician hands over (--bcd-listing): a
// listing of `bcdedit /enum all`, one of `bcdedit /enum all /v` (identifiers
// as GUIDs, read as the plain one), or something else, which is refused
// before the machine is built rather than read as a store without entries.
#pragma once

#include <string>

namespace tavu::tool {

// The boot manager's own identifier, which /v prints for {bootmgr}.
inline constexpr wchar_t kBootManagerGuid[] = L"{9dea862c-5cdd-4e70-acc1-f32b344d4795}";

// How to capture what the tool reads, said wherever a listing is refused.
inline constexpr char kCaptureHint[] =
    "capture it with `bcdedit /enum all > listing.txt` in an elevated cmd.exe (Run as administrator)";

// text: the listing as decoded. "" when it is a listing the machine can take,
// with *text then in the plain form (a /v listing's {bootmgr} and the
// Windows loader's {current} named so); otherwise the one-line reason,
// naming its first line.
std::string ReadGivenListing(std::wstring* text);

}  // namespace tavu::tool
