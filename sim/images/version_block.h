// Builds VS_VERSIONINFO blocks byte by byte, as resource compilers lay them
// out: every node is wLength, wValueLength, wType, a UTF-16 key with its
// terminator, padding to 4 bytes, the value, padding, then its children.
// Header-only so that the Windows-side test programs can use it too.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tavu::images {

struct StringTableContent {
  std::string block;  // "040904b0"
  std::vector<std::pair<std::string, std::string>> values;
};

struct VersionContent {
  std::uint16_t fileVersion[4] = {1, 0, 0, 7};
  std::vector<std::pair<std::uint16_t, std::uint16_t>> translations = {{0x0409, 0x04B0}};
  std::vector<StringTableContent> tables = {{"040904b0", {{"FileVersion", "1.0.0.7"}}}};
};

namespace version_block_detail {

inline void Put16(std::string& out, std::uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
inline void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
inline void Pad4(std::string& out) {
  while (out.size() % 4 != 0) out.push_back('\0');
}
// ASCII or Latin-1 text as UTF-16LE units, terminator included.
inline std::string Utf16z(const std::string& text) {
  std::string out;
  for (unsigned char c : text) Put16(out, c);
  Put16(out, 0);
  return out;
}

// type 1: text value, valueLength in units; type 0: binary, in bytes.
inline std::string Node(const std::string& key, std::uint16_t type, const std::string& value,
                        std::uint16_t valueLength, const std::vector<std::string>& children) {
  std::string n;
  Put16(n, 0);
  Put16(n, valueLength);
  Put16(n, type);
  n += Utf16z(key);
  Pad4(n);
  n += value;
  for (const std::string& child : children) {
    Pad4(n);
    n += child;
  }
  n[0] = static_cast<char>(n.size() & 0xFF);
  n[1] = static_cast<char>((n.size() >> 8) & 0xFF);
  return n;
}

inline std::string TextNode(const std::string& key, const std::string& text) {
  return Node(key, 1, Utf16z(text), static_cast<std::uint16_t>(text.size() + 1), {});
}

}  // namespace version_block_detail

inline std::string BuildVersionBlock(const VersionContent& content) {
  using namespace version_block_detail;
  std::string fixed;
  Put32(fixed, 0xFEEF04BD);  // VS_FIXEDFILEINFO signature
  Put32(fixed, 0x00010000);
  Put32(fixed, (std::uint32_t{content.fileVersion[0]} << 16) | content.fileVersion[1]);
  Put32(fixed, (std::uint32_t{content.fileVersion[2]} << 16) | content.fileVersion[3]);
  Put32(fixed, (std::uint32_t{content.fileVersion[0]} << 16) | content.fileVersion[1]);
  Put32(fixed, (std::uint32_t{content.fileVersion[2]} << 16) | content.fileVersion[3]);
  Put32(fixed, 0x3F);
  Put32(fixed, 0);
  Put32(fixed, 0x40004);  // VOS_NT_WINDOWS32
  Put32(fixed, 1);        // VFT_APP
  Put32(fixed, 0);
  Put32(fixed, 0);
  Put32(fixed, 0);

  std::vector<std::string> tables;
  for (const StringTableContent& t : content.tables) {
    std::vector<std::string> strings;
    for (const auto& [key, text] : t.values) strings.push_back(TextNode(key, text));
    tables.push_back(Node(t.block, 1, "", 0, strings));
  }
  std::string pairs;
  for (const auto& [language, codePage] : content.translations) {
    Put16(pairs, language);
    Put16(pairs, codePage);
  }
  std::vector<std::string> top;
  if (!content.tables.empty()) top.push_back(Node("StringFileInfo", 1, "", 0, tables));
  top.push_back(Node("VarFileInfo", 1, "", 0,
                     {Node("Translation", 0, pairs, static_cast<std::uint16_t>(pairs.size()), {})}));
  return Node("VS_VERSION_INFO", 0, fixed, static_cast<std::uint16_t>(fixed.size()), top);
}

}  // namespace tavu::images
