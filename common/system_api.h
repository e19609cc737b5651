// Process and system facts the logic asks of Windows.
#pragma once

#include <cstdint>
#include <cstddef>

#include "common/platform.h"

namespace tavu {

struct LocalTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
};

class SystemApi {
 public:
  virtual ~SystemApi() = default;

  // GetSystemTime converted by SystemTimeToTzSpecificLocalTime(NULL, ...).
  virtual LocalTime Now() = 0;
  // GetModuleFileNameW(NULL, buffer, capacity): characters written, 0 on failure.
  // The text is cut to capacity - 1 characters and always terminated.
  virtual std::uint32_t ModulePath(wchar_t* buffer, std::uint32_t capacity) = 0;
  // MultiByteToWideChar(CP_ACP, 0, ...) including the terminator: the number of
  // wide characters written (terminator included), 0 on failure.
  virtual int AnsiToWide(const char* text, int length, wchar_t* out, int capacity) = 0;
};

}  // namespace tavu
