#include "sim/formats/pe_version.h"

#include <cwchar>
#include <string>

#include "sim/core/text.h"

namespace tavu::sim {

namespace {

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Offsets in the PE/COFF headers.
constexpr std::uint64_t kLfanewOffset = 0x3C;
constexpr std::uint32_t kPe32Magic = 0x10B;
constexpr std::uint32_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kNeutralLanguage = 0;
constexpr std::uint32_t kUsEnglish = 0x409;

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t virtualSize;
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
};

class PeImage {
 public:
  PeImage(const ReadAtFn& read, std::uint64_t fileSize) : read_(read), fileSize_(fileSize) {}

  bool Open(std::uint32_t* resourceRva) {
    std::uint8_t dos[64];
    if (!Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    std::uint64_t pe = U32(dos + kLfanewOffset);
    std::uint8_t coff[24];
    if (!Read(pe, coff, sizeof coff) || coff[0] != 'P' || coff[1] != 'E' || coff[2] != 0 || coff[3] != 0) {
      return false;
    }
    std::uint32_t sectionCount = U16(coff + 6);
    std::uint32_t optionalSize = U16(coff + 20);
    std::uint64_t optional = pe + 24;
    std::uint8_t magic[2];
    if (optionalSize < 2 || !Read(optional, magic, 2)) return false;
    std::uint32_t countOffset = 0;
    switch (U16(magic)) {
      case kPe32Magic: countOffset = 92; break;
      case kPe32PlusMagic: countOffset = 108; break;
      default: return false;
    }
    std::uint32_t dirOffset = countOffset + 4;
    std::uint32_t dirEnd = dirOffset + 8 * (kResourceDirectoryIndex + 1);
    if (optionalSize < dirEnd) return false;
    std::uint8_t count[4];
    if (!Read(optional + countOffset, count, 4) || U32(count) <= kResourceDirectoryIndex) return false;
    std::uint8_t dir[8];
    if (!Read(optional + dirOffset + 8 * kResourceDirectoryIndex, dir, 8)) return false;
    *resourceRva = U32(dir);
    if (*resourceRva == 0) return false;

    std::uint64_t table = optional + optionalSize;
    sections_.clear();
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
      std::uint8_t h[kSectionHeaderSize];
      if (!Read(table + std::uint64_t{i} * kSectionHeaderSize, h, sizeof h)) return false;
      sections_.push_back({U32(h + 12), U32(h + 8), U32(h + 16), U32(h + 20)});
    }
    return true;
  }

  // size bytes at a relative virtual address, all within one section's raw data.
  bool ReadRva(std::uint64_t rva, void* out, std::size_t size) const {
    for (const Section& s : sections_) {
      if (rva < s.virtualAddress) continue;
      std::uint64_t into = rva - s.virtualAddress;
      if (into >= s.rawSize || size > s.rawSize - into) continue;
      return Read(std::uint64_t{s.rawOffset} + into, out, size);
    }
    return false;
  }

 private:
  bool Read(std::uint64_t offset, void* out, std::size_t size) const {
    if (offset > fileSize_ || size > fileSize_ - offset) return false;
    return read_(offset, out, size);
  }

  const ReadAtFn& read_;
  std::uint64_t fileSize_;
  std::vector<Section> sections_;
};

struct DirEntry {
  std::uint32_t name;    // high bit: a name string, otherwise the identifier
  std::uint32_t target;  // high bit: a subdirectory, otherwise a data entry
};

constexpr std::uint32_t kHighBit = 0x80000000u;

// The entries of the resource directory at offset (from the resource root).
bool ReadDirectory(const PeImage& image, std::uint32_t root, std::uint32_t offset,
                   std::vector<DirEntry>* entries) {
  std::uint8_t header[16];
  if (!image.ReadRva(std::uint64_t{root} + offset, header, sizeof header)) return false;
  std::uint32_t total = std::uint32_t{U16(header + 12)} + U16(header + 14);
  entries->clear();
  for (std::uint32_t i = 0; i < total; ++i) {
    std::uint8_t e[8];
    if (!image.ReadRva(std::uint64_t{root} + offset + 16 + 8ull * i, e, sizeof e)) return false;
    entries->push_back({U32(e), U32(e + 4)});
  }
  return true;
}

bool FindSubdirectory(const std::vector<DirEntry>& entries, std::uint32_t id, std::uint32_t* offset) {
  for (const DirEntry& e : entries) {
    if ((e.name & kHighBit) == 0 && e.name == id && (e.target & kHighBit) != 0) {
      *offset = e.target & ~kHighBit;
      return true;
    }
  }
  return false;
}

// The language version.dll ends up with on an English system: neutral, then
// US English, then the first one stored.
bool PickLanguage(const std::vector<DirEntry>& entries, std::uint32_t* dataOffset) {
  const DirEntry* pick = nullptr;
  for (std::uint32_t want : {kNeutralLanguage, kUsEnglish}) {
    for (const DirEntry& e : entries) {
      if (pick == nullptr && (e.name & kHighBit) == 0 && e.name == want && (e.target & kHighBit) == 0) pick = &e;
    }
  }
  for (const DirEntry& e : entries) {
    if (pick == nullptr && (e.target & kHighBit) == 0) pick = &e;
  }
  if (pick == nullptr) return false;
  *dataOffset = pick->target;
  return true;
}

std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

// One node of the VS_VERSIONINFO tree: wLength, wValueLength, wType, the key,
// padding, the value, padding, the children. All within [start, end).
struct Node {
  std::size_t start = 0;
  std::size_t end = 0;
  std::size_t keyStart = 0;
  std::size_t keyUnits = 0;
  std::size_t valueStart = 0;
  std::size_t valueBytes = 0;
  std::uint32_t valueLength = 0;  // as VerQueryValueW reports it
  std::size_t childrenStart = 0;
};

bool ReadNode(const std::uint8_t* block, std::size_t limit, std::size_t start, Node* node) {
  if (start > limit || limit - start < 6) return false;
  std::size_t length = U16(block + start);
  if (length < 6 || length > limit - start) return false;
  node->start = start;
  node->end = start + length;
  std::uint32_t valueLength = U16(block + start + 2);
  bool text = U16(block + start + 4) == 1;
  node->keyStart = start + 6;
  std::size_t p = node->keyStart;
  while (p + 1 < node->end && U16(block + p) != 0) p += 2;
  if (p + 1 >= node->end) {
    // A key without its terminator inside the node: nothing after it can be placed.
    node->keyUnits = (node->end - node->keyStart) / 2;
    node->valueStart = node->childrenStart = node->end;
    node->valueBytes = node->valueLength = 0;
    return true;
  }
  node->keyUnits = (p - node->keyStart) / 2;
  node->valueStart = Align4(p + 2);
  if (node->valueStart > node->end) node->valueStart = node->end;
  std::size_t room = node->end - node->valueStart;
  std::size_t bytes = text ? 2 * std::size_t{valueLength} : valueLength;
  if (bytes > room) bytes = text ? room & ~std::size_t{1} : room;
  node->valueBytes = bytes;
  node->valueLength = static_cast<std::uint32_t>(text ? bytes / 2 : bytes);
  node->childrenStart = Align4(node->valueStart + bytes);
  if (node->childrenStart > node->end) node->childrenStart = node->end;
  return true;
}

bool KeyEquals(const std::uint8_t* block, const Node& node, const std::wstring& key) {
  if (node.keyUnits != key.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (AsciiUpper(static_cast<wchar_t>(U16(block + node.keyStart + 2 * i))) != AsciiUpper(key[i])) {
      return false;
    }
  }
  return true;
}

bool FindChild(const std::uint8_t* block, const Node& parent, const std::wstring& key, Node* child) {
  std::size_t at = parent.childrenStart;
  while (at < parent.end) {
    Node n;
    if (!ReadNode(block, parent.end, at, &n)) return false;
    if (KeyEquals(block, n, key)) {
      *child = n;
      return true;
    }
    at = Align4(n.end);
  }
  return false;
}

}  // namespace

bool ReadVersionResource(const ReadAtFn& read, std::uint64_t fileSize, std::vector<std::uint8_t>* out) {
  out->clear();
  PeImage image(read, fileSize);
  std::uint32_t root = 0;
  if (!image.Open(&root)) return false;
  std::vector<DirEntry> entries;
  std::uint32_t offset = 0;
  if (!ReadDirectory(image, root, 0, &entries) || !FindSubdirectory(entries, kRtVersion, &offset)) return false;
  if (!ReadDirectory(image, root, offset, &entries) || !FindSubdirectory(entries, kVsVersionInfoId, &offset)) {
    return false;
  }
  std::uint32_t dataEntry = 0;
  if (!ReadDirectory(image, root, offset, &entries) || !PickLanguage(entries, &dataEntry)) return false;
  std::uint8_t data[16];
  if (!image.ReadRva(std::uint64_t{root} + dataEntry, data, sizeof data)) return false;
  std::uint32_t rva = U32(data);
  std::uint32_t size = U32(data + 4);
  if (size == 0 || size > kMaxVersionResource) return false;
  out->resize(size);
  if (!image.ReadRva(rva, out->data(), size)) {
    out->clear();
    return false;
  }
  return true;
}

bool QueryVersionValue(const std::uint8_t* block, std::size_t blockSize, const wchar_t* subBlock,
                       std::size_t* valueOffset, std::uint32_t* length) {
  *valueOffset = 0;
  *length = 0;
  if (block == nullptr || subBlock == nullptr) return false;
  Node node;
  if (!ReadNode(block, blockSize, 0, &node)) return false;
  const wchar_t* p = subBlock;
  while (*p != L'\0') {
    while (*p == L'\\') ++p;
    if (*p == L'\0') break;
    const wchar_t* end = p;
    while (*end != L'\0' && *end != L'\\') ++end;
    Node child;
    if (!FindChild(block, node, std::wstring(p, end), &child)) return false;
    node = child;
    p = end;
  }
  *valueOffset = node.valueStart;
  *length = node.valueLength;
  return true;
}

}  // namespace tavu::sim
