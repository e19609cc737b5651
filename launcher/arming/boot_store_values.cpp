#include "launcher/arming/boot_store_values.h"

namespace tavu {

namespace {

bool StartsWithBlank(const LineView& line) {
  return line.length > 0 && (line.text[0] == L' ' || line.text[0] == L'\t');
}

LineView Trimmed(const LineView& line) {
  std::size_t start = 0;
  std::size_t end = line.length;
  while (start < end && (line.text[start] == L' ' || line.text[start] == L'\t')) ++start;
  while (end > start && (line.text[end - 1] == L' ' || line.text[end - 1] == L'\t')) --end;
  return {line.text + start, end - start};
}

// Appends a value, a blank before all but the first; false when it does not fit.
bool AppendValue(const LineView& part, wchar_t* value, std::size_t capacity, std::size_t* used) {
  const std::size_t gap = *used > 0 ? 1 : 0;
  if (*used + gap + part.length + 1 > capacity) return false;
  if (gap != 0) value[(*used)++] = L' ';
  for (std::size_t i = 0; i < part.length; ++i) {
    // A zero character inside a line would end the text early.
    value[(*used)++] = part.text[i] == L'\0' ? L' ' : part.text[i];
  }
  value[*used] = L'\0';
  return true;
}

}  // namespace

ElementRead ReadEntryElement(const ListingLines& listing, const wchar_t* id, const wchar_t* name, wchar_t* value,
                             std::size_t capacity) {
  if (value == nullptr || capacity == 0 || id == nullptr || name == nullptr) return ElementRead::NoEntry;
  value[0] = L'\0';
  for (std::size_t i = 1; i < listing.size(); ++i) {
    LineView elementName;
    LineView elementValue;
    if (!IsUnderline(listing.Line(i - 1)) || StartsWithBlank(listing.Line(i)) ||
        !ElementOfLine(listing.Line(i), &elementName, &elementValue) || !SameTextIgnoreCase(elementValue, id)) {
      continue;
    }
    std::size_t used = 0;
    bool inside = false;
    for (std::size_t k = i + 1; k < listing.size() && !IsBlankLine(listing.Line(k)); ++k) {
      const LineView line = listing.Line(k);
      if (StartsWithBlank(line)) {
        // A further value of the element above.
        if (inside && !AppendValue(Trimmed(line), value, capacity, &used)) return ElementRead::TooLong;
        continue;
      }
      if (inside) break;
      if (ElementOfLine(line, &elementName, &elementValue) && SameTextIgnoreCase(elementName, name)) {
        inside = true;
        if (!AppendValue(elementValue, value, capacity, &used)) return ElementRead::TooLong;
      }
    }
    return inside ? ElementRead::Present : ElementRead::Absent;
  }
  return ElementRead::NoEntry;
}

}  // namespace tavu
