// What the armed recovery entry will start, tested before anything is changed:
// the Windows RE image and its boot.sdi (boot-manager route), and the boot
// signature of the recovery partition's first sector (partition-table route).
// The launcher refuses only what it knows cannot start; whatever it cannot
// tell (a device named "unknown", an access that fails for another reason)
// is armed as before.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/wide_text.h"
#include "launcher/arming/recovery_entry.h"

namespace tavu {

// A WIM's first 208 bytes (all fields little-endian).
inline constexpr std::size_t kWimHeaderBytes = 208;
// Where a part of the WIM lies: a resource header of 24 bytes, its stored
// size in the low 7 bytes of the first 8, then its offset and its original
// size.
struct WimResource {
  std::uint64_t storedSize = 0;
  std::uint8_t flags = 0;
  std::uint64_t offset = 0;
  std::uint64_t originalSize = 0;
};
struct WimHeader {
  std::uint32_t headerSize = 0;  // at 8, 208
  std::uint32_t version = 0;     // at 12
  std::uint32_t flags = 0;       // at 16
  std::uint16_t partNumber = 0;  // at 40
  std::uint16_t totalParts = 0;  // at 42
  std::uint32_t imageCount = 0;  // at 44
  WimResource lookupTable;       // at 48
  WimResource xmlData;           // at 72
  WimResource bootMetadata;      // at 96
  std::uint32_t bootIndex = 0;   // at 120
};
// The part of a WIM that its own header places (partly) beyond the file's
// end: the loader reads each of them, so a file cut short cannot start.
enum class WimCut : std::uint8_t { None, LookupTable, XmlData, BootMetadata };
[[nodiscard]] WimCut WimPartBeyondEnd(const WimHeader& header, std::uint64_t fileSize);
// True when bytes (size of them) start with "MSWIM\0\0\0" and a header size of
// 208; then *header is filled. Never reads past size.
[[nodiscard]] bool ParseWimHeader(const std::uint8_t* bytes, std::size_t size, WimHeader* header);

enum class FileState : std::uint8_t {
  Unknown,  // not resolvable, or the open failed for a reason other than absence
  Present,
  Missing,  // ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND
  NotAWim,  // present, but no WIM header, or one cut short (the image only)
};

// Why a boot.sdi that opens still counts as missing: the loader cannot use an
// empty file, nor one without the System Deployment Image signature.
enum class SdiFault : std::uint8_t { None, Empty, NoSignature };
inline constexpr char kSdiSignature[8] = {'$', 'S', 'D', 'I', '0', '0', '0', '1'};

struct RecoveryImageFacts {
  // The loader entry's device text between the brackets, as listed:
  // "\Device\HarddiskVolume4", "C:", "unknown"; empty when no device line.
  wchar_t device[kPathChars] = {};
  // The options entry named after the comma, braces included; empty when none.
  wchar_t optionsId[kMaxEntryIdChars + 1] = {};
  // Resolved paths: "\\?\GLOBALROOT\Device\HarddiskVolumeN\..." or "X:\...";
  // empty when the device form is not one the launcher can resolve.
  wchar_t imagePath[kPathChars] = {};
  wchar_t sdiPath[kPathChars] = {};
  FileState image = FileState::Unknown;
  FileState sdi = FileState::Unknown;
  std::uint32_t imageError = 0;  // the Windows error of a failed open, else 0
  std::uint32_t sdiError = 0;
  std::uint64_t imageSize = 0;
  WimHeader header;  // valid when image is Present, or NotAWim with cut set
  WimCut cut = WimCut::None;
  SdiFault sdiFault = SdiFault::None;  // with sdi Missing, when the file opened
  std::uint64_t sdiSize = 0;
};

// Reads, from the listing, the device of the loader entry entryId and the
// boot.sdi location of its options entry, and resolves both paths. False when
// the entry is not in the listing or has no device line of the ramdisk form.
bool ResolveRecoveryImage(const ListingLines& listing, const wchar_t* entryId, RecoveryImageFacts* facts);

// path as the loader means it, made openable for this program: a 32-bit
// program names C:\Windows\System32 through Sysnative.
void OpenablePath(const wchar_t* path, wchar_t (&out)[kPathChars]);

// Opens each resolved file read-only through the file seam and fills the states,
// errors, size and header.
void TestRecoveryImage(RecoveryImageFacts* facts);

// The launcher's refusal: the image or boot.sdi is definitely absent (an empty
// boot.sdi, or one without its signature, counts so), or the image is not a
// WIM (cut short, too).
[[nodiscard]] bool RecoveryImageRefused(const RecoveryImageFacts& facts);

// Partition-table route: whether the first sector of the partition at offset on
// the disk ends with 0x55 0xAA. 0 read (*present set), 5 the disk could not be
// opened or read, 1 a null present, a disk number the name rule cannot name
// or a negative offset.
[[nodiscard]] int ReadBootSignature(std::int32_t diskNumber, std::int64_t offset, bool* present);

}  // namespace tavu
