// The arming's journal as any bytes: the parser keeps within its input, what
// it accepts holds only values that may go back into a bcdedit line, and
// writing an accepted journal out again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "launcher/arming/arming_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tavu::ArmingJournal journal;
  if (!tavu::ParseJournal(reinterpret_cast<const char*>(data), size, &journal)) return 0;
  for (const tavu::JournalValue& value : journal.values) {
    if (value.present && !tavu::JournalValueAllowed(value.text)) __builtin_trap();
  }
  char again[tavu::kJournalBytes];
  const std::size_t length = tavu::FormatJournal(journal, again);
  if (length != size || std::memcmp(again, data, size) != 0) __builtin_trap();
  return 0;
}
