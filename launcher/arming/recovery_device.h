// The loader entry's device as a listing shows it, "ramdisk=[D]P,{O}", and the
// boot.sdi location of its options entry {O}; turned into paths a program can
// open. Only element names and identifiers are read, never localized words.
#pragma once

#include <cstddef>

#include "launcher/arming/recovery_entry.h"

namespace tavu {

struct RamdiskDevice {
  LineView device;   // D, between the brackets
  LineView path;     // P, from the closing bracket to the last comma
  LineView options;  // {O}, after that comma, blanks cut; empty when none
};

// The line after the identifier line of entryId that names the recovery
// image, as the listing rule pairs them. False when there is none.
[[nodiscard]] bool FindLoaderDeviceLine(const ListingLines& listing, const wchar_t* entryId, LineView* line);

// False when the line holds no "ramdisk=[D]" (any case).
[[nodiscard]] bool ParseRamdiskDevice(const LineView& line, RamdiskDevice* ramdisk);

// ramdisksdidevice "partition=D" and ramdisksdipath "P" of the entry whose
// identifier is options. False when either is missing or the device is not of
// the partition form.
[[nodiscard]] bool FindSdiLocation(const ListingLines& listing, const LineView& options, LineView* device,
                                   LineView* path);

// "\Device\HarddiskVolumeN" gives "\\?\GLOBALROOT\Device\HarddiskVolumeN" + path,
// a drive "X:" gives "X:" + path; out has kPathChars. False (out empty) for
// any other device ("unknown", "locate=...", a volume GUID), a path that does
// not start at the root, or a result that does not fit.
[[nodiscard]] bool ResolveDevicePath(const LineView& device, const LineView& path, wchar_t* out);

// The text of a line cut to fit out (capacity characters, terminator included).
void CopyLine(const LineView& text, wchar_t* out, std::size_t capacity);

}  // namespace tavu
