// Windows RE as Windows configured it: ReAgent.xml read the way reagentc left
// it, and the partition its WinreLocation names, found on the disks.
#pragma once

#include <cstdint>

#include "check/reagent_xml.h"

namespace tavu::check {

enum class ReAgentFile : std::uint8_t { Absent, Present, Unreadable };

struct WindowsReFacts {
  ReAgentFile file = ReAgentFile::Absent;
  std::uint32_t error = 0;  // the Windows error of a failed open or read
  ReAgentXml xml;
  // The location, when it names one: the disk and partition found there.
  bool locationNamed = false;
  bool locationFound = false;
  std::int32_t disk = 0;
  std::int32_t partition = 0;
};

// Where reagentc keeps the file; a 32-bit program on 64-bit Windows reaches it
// only through Sysnative, since System32\Recovery is redirected for it. The
// Sysnative path is tried first, and System32 where that folder does not exist.
inline constexpr wchar_t kReAgentPath[] = L"C:\\Windows\\System32\\Recovery\\ReAgent.xml";
inline constexpr wchar_t kReAgentPathWow64[] = L"C:\\Windows\\Sysnative\\Recovery\\ReAgent.xml";

void ReadWindowsRe(WindowsReFacts* facts);

// An all-zero WinreBCD names no entry; an empty location (no path, offset 0)
// names no partition.
[[nodiscard]] bool NamesEntry(const ReAgentXml& xml);
[[nodiscard]] bool NamesLocation(const ReAgentXml& xml);

}  // namespace tavu::check
