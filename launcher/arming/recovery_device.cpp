#include "launcher/arming/recovery_device.h"

#include "common/wide_text.h"

namespace tavu {

namespace {

constexpr wchar_t kRamdiskPrefix[] = L"ramdisk=[";
constexpr wchar_t kVolumeDevicePrefix[] = L"\\Device\\HarddiskVolume";
constexpr wchar_t kGlobalRoot[] = L"\\\\?\\GLOBALROOT";
constexpr wchar_t kPartitionPrefix[] = L"partition=";

constexpr std::size_t Length(const wchar_t* text) {
  std::size_t n = 0;
  while (text[n] != L'\0') ++n;
  return n;
}

// Where wanted starts in text, ASCII letters without regard to case; text.length when nowhere.
std::size_t FindIgnoreCase(const LineView& text, const wchar_t* wanted) {
  const std::size_t n = Length(wanted);
  for (std::size_t at = 0; at + n <= text.length; ++at) {
    std::size_t k = 0;
    while (k < n && UpperAscii(text.text[at + k]) == UpperAscii(wanted[k])) ++k;
    if (k == n) return at;
  }
  return text.length;
}

bool StartsWithIgnoreCase(const LineView& text, const wchar_t* wanted) {
  const std::size_t n = Length(wanted);
  return text.length >= n && SameTextIgnoreCase(LineView{text.text, n}, wanted);
}

LineView Slice(const LineView& text, std::size_t from, std::size_t to) {
  return {text.text + from, to - from};
}

// The text from the line's first "{" to its last "}", as the listing rule cuts it.
LineView BracedPart(const LineView& line) {
  std::size_t first = 0;
  while (first < line.length && line.text[first] != L'{') ++first;
  std::size_t last = line.length;
  while (last > 0 && line.text[last - 1] != L'}') --last;
  return last > first + 1 ? Slice(line, first, last) : LineView{};
}

bool IsVolumeDevice(const LineView& device) {
  const std::size_t prefix = Length(kVolumeDevicePrefix);
  if (!StartsWithIgnoreCase(device, kVolumeDevicePrefix) || device.length == prefix) return false;
  for (std::size_t i = prefix; i < device.length; ++i) {
    if (device.text[i] < L'0' || device.text[i] > L'9') return false;
  }
  return true;
}

bool IsDriveDevice(const LineView& device) {
  return device.length == 2 && UpperAscii(device.text[0]) >= L'A' && UpperAscii(device.text[0]) <= L'Z' &&
         device.text[1] == L':';
}

// Appends text to out (used characters in *used); false when it does not fit.
bool Append(wchar_t* out, std::size_t* used, const LineView& text) {
  if (*used + text.length >= kPathChars) return false;
  for (std::size_t i = 0; i < text.length; ++i) out[(*used)++] = text.text[i];
  out[*used] = L'\0';
  return true;
}

}  // namespace

void CopyLine(const LineView& text, wchar_t* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return;
  std::size_t n = text.length < capacity - 1 ? text.length : capacity - 1;
  for (std::size_t i = 0; i < n; ++i) out[i] = text.text[i];
  out[n] = L'\0';
}

bool FindLoaderDeviceLine(const ListingLines& listing, const wchar_t* entryId, LineView* line) {
  for (std::size_t i = 0; i < listing.size(); ++i) {
    if (!SameTextIgnoreCase(BracedPart(listing.Line(i)), entryId)) continue;
    // The last line without a line end is its own next line, as the listing rule reads it.
    LineView next = i + 1 < listing.size()  ? listing.Line(i + 1)
                    : listing.lastLineEnded ? LineView{}
                                            : listing.Line(i);
    if (FindIgnoreCase(next, kRecoveryImagePattern) == next.length) continue;
    *line = next;
    return true;
  }
  return false;
}

bool ParseRamdiskDevice(const LineView& line, RamdiskDevice* ramdisk) {
  const std::size_t at = FindIgnoreCase(line, kRamdiskPrefix);
  if (at == line.length) return false;
  const std::size_t open = at + Length(kRamdiskPrefix);
  std::size_t close = open;
  while (close < line.length && line.text[close] != L']') ++close;
  if (close == line.length) return false;
  std::size_t comma = line.length;
  for (std::size_t i = close + 1; i < line.length; ++i) {
    if (line.text[i] == L',') comma = i;
  }
  std::size_t end = line.length;
  while (end > comma + 1 && (line.text[end - 1] == L' ' || line.text[end - 1] == L'\t')) --end;
  ramdisk->device = Slice(line, open, close);
  ramdisk->path = Slice(line, close + 1, comma);
  ramdisk->options = comma < line.length ? Slice(line, comma + 1, end) : LineView{};
  return true;
}

bool FindSdiLocation(const ListingLines& listing, const LineView& options, LineView* device, LineView* path) {
  if (options.length < 2 || options.text[0] != L'{' || options.text[options.length - 1] != L'}') return false;
  wchar_t wanted[kMaxEntryIdChars + 1];
  if (options.length > kMaxEntryIdChars) return false;
  CopyLine(options, wanted, kMaxEntryIdChars + 1);
  for (std::size_t i = 0; i < listing.size(); ++i) {
    LineView name;
    LineView value;
    if (!ElementOfLine(listing.Line(i), &name, &value) || !SameTextIgnoreCase(value, wanted)) continue;
    // The entry's elements: its block, between the blank lines around it.
    std::size_t first = i;
    while (first > 0 && !IsBlankLine(listing.Line(first - 1))) --first;
    bool haveDevice = false;
    bool havePath = false;
    for (std::size_t k = first; k < listing.size() && !IsBlankLine(listing.Line(k)); ++k) {
      if (!ElementOfLine(listing.Line(k), &name, &value)) continue;
      if (SameTextIgnoreCase(name, L"ramdisksdidevice") && StartsWithIgnoreCase(value, kPartitionPrefix)) {
        *device = Slice(value, Length(kPartitionPrefix), value.length);
        haveDevice = true;
      } else if (SameTextIgnoreCase(name, L"ramdisksdipath")) {
        *path = value;
        havePath = true;
      }
    }
    if (haveDevice && havePath) return true;
  }
  return false;
}

bool ResolveDevicePath(const LineView& device, const LineView& path, wchar_t* out) {
  out[0] = L'\0';
  if (path.length == 0 || path.text[0] != L'\\') return false;
  for (std::size_t i = 0; i < path.length; ++i) {
    if (path.text[i] < 0x20) return false;
  }
  std::size_t used = 0;
  bool fits = false;
  if (IsVolumeDevice(device)) {
    fits = Append(out, &used, LineView{kGlobalRoot, Length(kGlobalRoot)}) && Append(out, &used, device) &&
           Append(out, &used, path);
  } else if (IsDriveDevice(device)) {
    fits = Append(out, &used, device) && Append(out, &used, path);
  }
  if (!fits) out[0] = L'\0';
  return fits;
}

}  // namespace tavu
