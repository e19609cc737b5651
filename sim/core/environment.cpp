#include "sim/core/environment.h"

#include "sim/core/text.h"

namespace tavu::sim {

namespace {

std::size_t Find(const SimEnvironment& environment, const std::wstring& name) {
  for (std::size_t i = 0; i < environment.size(); ++i) {
    const std::wstring& entry = environment[i];
    // "=C:" style entries keep their leading '='; the name ends at the next one.
    std::size_t equals = entry.find(L'=', 1);
    if (equals != std::wstring::npos && AsciiEqualNoCase(entry.substr(0, equals), name)) return i;
  }
  return environment.size();
}

}  // namespace

bool EnvironmentValue(const SimEnvironment& environment, const std::wstring& name, std::wstring* value) {
  std::size_t at = Find(environment, name);
  if (at == environment.size()) return false;
  *value = environment[at].substr(name.size() + 1);
  return true;
}

void SetEnvironmentValue(SimEnvironment& environment, const std::wstring& name, const std::wstring& value) {
  std::size_t at = Find(environment, name);
  if (at == environment.size()) {
    environment.push_back(name + L"=" + value);
  } else {
    environment[at] = name + L"=" + value;
  }
}

SimEnvironment ParseEnvironmentBlock(const wchar_t* block) {
  SimEnvironment out;
  if (block == nullptr) return out;
  for (const wchar_t* p = block; *p != L'\0';) {
    std::wstring entry(p);
    p += entry.size() + 1;
    out.push_back(std::move(entry));
  }
  return out;
}

SimEnvironment SystemEnvironment() {
  return {
      L"ComSpec=C:\\Windows\\system32\\cmd.exe",
      L"NUMBER_OF_PROCESSORS=4",
      L"OS=Windows_NT",
      L"Path=C:\\Windows\\system32;C:\\Windows;C:\\Windows\\System32\\Wbem",
      L"PATHEXT=.COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC",
      L"PROCESSOR_ARCHITECTURE=AMD64",
      L"ProgramData=C:\\ProgramData",
      L"ProgramFiles=C:\\Program Files",
      L"SystemDrive=C:",
      L"SystemRoot=C:\\Windows",
      L"TEMP=C:\\Windows\\TEMP",
      L"TMP=C:\\Windows\\TEMP",
      L"windir=C:\\Windows",
  };
}

SimEnvironment OwnerEnvironment() {
  SimEnvironment environment = SystemEnvironment();
  std::wstring path;
  EnvironmentValue(environment, L"Path", &path);
  SetEnvironmentValue(environment, L"Path",
                      path + L";C:\\Users\\Owner\\AppData\\Local\\Microsoft\\WindowsApps");
  SetEnvironmentValue(environment, L"TEMP", L"C:\\Users\\Owner\\AppData\\Local\\Temp");
  SetEnvironmentValue(environment, L"TMP", L"C:\\Users\\Owner\\AppData\\Local\\Temp");
  SetEnvironmentValue(environment, L"USERNAME", L"Owner");
  SetEnvironmentValue(environment, L"USERPROFILE", L"C:\\Users\\Owner");
  return environment;
}

}  // namespace tavu::sim
