// Console code pages the simulated command processor can switch to (CHCP),
// for what the simulated programs write into files.
#pragma once

#include <string>

namespace tavu::sim {

// True for the code pages the simulated machine knows: 437, 850 and 1252.
bool KnownCodePage(int codePage);
// Bytes in a code page to text, one character per byte.
std::wstring DecodeCodePage(int codePage, const std::string& bytes);
// Text to bytes in a code page; characters the page lacks become '?', as
// WideCharToMultiByte writes its default character.
std::string EncodeCodePage(int codePage, const std::wstring& text);

}  // namespace tavu::sim
