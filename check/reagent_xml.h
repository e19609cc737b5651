// ReAgent.xml, the file in which reagentc keeps Windows RE's configuration:
// only the attributes of three elements are read, from text of any shape.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/wide_text.h"
#include "common/win_records.h"

namespace tavu::check {

// reagentc writes a few kilobytes; more than this is not its file.
inline constexpr std::size_t kMaxReAgentBytes = 64 * 1024;
inline constexpr std::size_t kReAgentValueChars = 128;

struct ReAgentXml {
  // <WinreBCD id="{...}"/>: the loader entry Windows RE starts from.
  bool hasBcd = false;
  wchar_t bcdId[kReAgentValueChars] = {};
  // <WinreLocation path="..." id="..." offset="..." guid="{...}"/>: the
  // partition holding Winre.wim. GPT disks are named by their disk GUID, MBR
  // disks by their signature in decimal (guid then all zeros).
  bool hasLocation = false;
  wchar_t path[kPathChars] = {};
  bool hasOffset = false;
  std::uint64_t offset = 0;
  bool hasId = false;
  std::uint32_t id = 0;
  bool hasGuid = false;
  Guid guid{};
  // <InstallState state="1"/>: 1 enabled, 0 disabled; -1 absent or not a number.
  int installState = -1;
};

// False when the bytes are not text that names the WindowsRE root element.
// Text starting with a UTF-8 or UTF-16 LE byte-order mark is read as such;
// anything else as UTF-8. Never reads past size.
bool ParseReAgentXml(const std::uint8_t* bytes, std::size_t size, ReAgentXml* out);

// "{01234567-89AB-CDEF-0123-456789ABCDEF}" (either case) into a Guid.
bool ParseGuidText(const wchar_t* text, Guid* guid);
bool IsZeroGuid(const Guid& guid);

}  // namespace tavu::check
