// ReAgent.xml as any bytes: the parser keeps within its buffers, and what it
// reports holds together whatever the text.
#include <cstddef>
#include <cstdint>
#include <cwchar>

#include "check/reagent_xml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tavu::check::ReAgentXml xml;
  const bool parsed = tavu::check::ParseReAgentXml(data, size, &xml);
  if (std::wcslen(xml.bcdId) >= tavu::check::kReAgentValueChars) __builtin_trap();
  if (std::wcslen(xml.path) >= tavu::kPathChars) __builtin_trap();
  if (!xml.hasOffset && xml.offset != 0) __builtin_trap();
  if (!xml.hasId && xml.id != 0) __builtin_trap();
  if (xml.installState < -1) __builtin_trap();
  // The same bytes give the same answer.
  static tavu::check::ReAgentXml again;
  if (tavu::check::ParseReAgentXml(data, size, &again) != parsed || again.offset != xml.offset ||
      again.installState != xml.installState || std::wcscmp(again.path, xml.path) != 0) {
    __builtin_trap();
  }
  return 0;
}
