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

// MultiByteToWideChar(codePage, 0, ...) for the ANSI code pages of the
// simulated languages: 1252, 1250, 1251, and the double-byte 932 and 936.
// The simulation holds no double-byte tables: a lead byte and its trail byte
// read as one U+FFFD, which keeps the count of characters that Windows gives.
// Returns the characters written, 0 when they do not fit capacity.
int AnsiToWideIn(int codePage, const char* text, int length, wchar_t* out, int capacity);

}  // namespace tavu::sim
