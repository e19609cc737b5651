// The display language of the simulated Windows: what it calls its built-in
// Administrators group, how `bcdedit /enum all` heads its sections and names
// the identifier, and the code pages its programs start in.
#pragma once

#include <string>

namespace tavu::sim {

// The well-known SID of BUILTIN\Administrators: the same on every Windows.
inline constexpr wchar_t kAdministratorsSid[] = L"S-1-5-32-544";

struct SimLanguage {
  const char* tag;                // "de-DE"
  const wchar_t* administrators;  // "VORDEFINIERT\Administratoren"
  const wchar_t* identifier;      // bcdedit's word for "identifier"
  int oemCodePage;                // a new console's code page
  int ansiCodePage;               // what MultiByteToWideChar(CP_ACP) reads
  // bcdedit's section headers, in the order of kBcdHeaders.
  const wchar_t* const* headers;
};

// The English section headers that bcdedit localizes, in one fixed order.
enum class BcdHeader : int {
  FirmwareBootManager,
  WindowsBootManager,
  WindowsBootLoader,
  ResumeFromHibernate,
  WindowsMemoryTester,
  EmsSettings,
  DebuggerSettings,
  RamDefects,
  GlobalSettings,
  BootLoaderSettings,
  HypervisorSettings,
  ResumeLoaderSettings,
  DeviceOptions,
};
inline constexpr int kBcdHeaderCount = 13;

// The language of a tag (exact, as tavu-sim takes it); null for one the
// simulated machine does not know.
const SimLanguage* FindSimLanguage(const std::string& tag);
// en-US.
const SimLanguage& DefaultSimLanguage();
// The tags known, for usage texts: "en-US, de-DE, ...".
std::string KnownSimLanguageTags();

const wchar_t* HeaderText(const SimLanguage& language, BcdHeader header);

// Whether Windows in this language maps the account or group name to the
// Administrators group: its SID string, or its name with or without the
// domain part, without regard to case. Any other name is unknown to it.
bool NamesAdministrators(const SimLanguage& language, const std::wstring& name);
// The local system account: its SID string, or "SYSTEM" with or without the
// domain "NT AUTHORITY" (the same in every display language).
bool NamesSystem(const SimLanguage& language, const std::wstring& name);

}  // namespace tavu::sim
