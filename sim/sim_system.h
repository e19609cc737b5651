// Clock, module path and code page of the simulated machine.
#pragma once

#include <string>

#include "common/system_api.h"

namespace tavu::sim {

class SimSystem : public SystemApi {
 public:
  LocalTime Now() override { return now_; }
  std::uint32_t ModulePath(wchar_t* buffer, std::uint32_t capacity) override;
  // The machine's ANSI code page is 1252, as on a Western-European Windows.
  int AnsiToWide(const char* text, int length, wchar_t* out, int capacity) override;

  void SetNow(const LocalTime& t) { now_ = t; }
  void SetModulePath(std::wstring path) { modulePath_ = std::move(path); }
  const std::wstring& modulePath() const { return modulePath_; }

 private:
  LocalTime now_{2014, 3, 2, 9, 5, 7};
  std::wstring modulePath_ = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe";
};

// Code page 1252 to Unicode, for one byte.
wchar_t Cp1252ToWide(unsigned char c);

}  // namespace tavu::sim
