// What a technician pastes into a ticket first: which check, when, and on
// which machine and Windows.
#pragma once

#include <cstdint>

#include "common/system_api.h"
#include "common/wide_text.h"

namespace tavu::check {

struct AboutFacts {
  // Local time; with zoned false the machine told no zone and it is utc.
  LocalTime time;
  LocalTime utc;
  bool zoned = false;
  std::int32_t utcOffsetMinutes = 0;
  wchar_t computer[kPathChars] = {};
  wchar_t model[kPathChars] = {};
  bool hasVersion = false;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  // The simulated machine's check: its values are the simulation's, and
  // those not given to it are made up.
  bool simulated = false;
  bool madeUpComputer = false;
  bool madeUpModel = false;
  bool madeUpBuild = false;
};

// The check's own version.
const char* CheckVersion();

// Asks the clock, the computer's name, Windows' version, and WMI's
// Win32_ComputerSystem.Model (COM as start-up left it; nothing is changed).
void ReadAbout(AboutFacts* about);

// Windows' own texts of the errors the check met, asked while the check runs
// so that the report, written later, asks Windows nothing.
struct ErrorTexts {
  static constexpr std::size_t kRoom = 8;
  struct Entry {
    std::uint32_t error = 0;
    wchar_t text[kPathChars] = {};
  };
  Entry entries[kRoom];
  std::size_t count = 0;
  // Asks Windows for error's text once; 0 and errors past the room are skipped.
  void Add(std::uint32_t error);
  [[nodiscard]] const wchar_t* Find(std::uint32_t error) const;
};

// A Windows error's number and Windows' own text: "5 (Access is denied.)", or
// the number alone when Windows gave no text for it.
void DescribeError(const ErrorTexts& texts, std::uint32_t error, wchar_t* out, std::size_t capacity);

}  // namespace tavu::check
