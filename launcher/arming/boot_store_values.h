// The values of single elements of the boot store, as `bcdedit /enum all`
// lists them: what the arming changes is read from there before it changes
// it, and read again to see that an undo took.
#pragma once

#include <cstddef>

#include "launcher/arming/recovery_entry.h"

namespace tavu {

enum class ElementRead : unsigned char {
  Absent,   // the entry is listed without this element
  Present,  // *value holds its values, joined by one blank
  NoEntry,  // no entry of that identifier is listed
  TooLong,  // the values do not fit value's capacity
};

// The element `name` (any case) of the entry whose identifier is `id` (any
// case; "{bootmgr}", "{current}", a braced GUID). An entry's identifier is its
// first element, right under the dashes that underline its heading; an
// element's further values stand on the lines below it that start with a
// blank. The entry ends at the next blank line.
ElementRead ReadEntryElement(const ListingLines& listing, const wchar_t* id, const wchar_t* name, wchar_t* value,
                             std::size_t capacity);

}  // namespace tavu
