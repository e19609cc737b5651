// Stand-in for the launcher's recovery image test until its own lands.
#include <cstring>

#include "common/disk_api.h"
#include "common/file_api.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/win_errors.h"
#include "launcher/arming/recovery_image.h"

namespace tavu {

namespace {

std::uint32_t Le32(const std::uint8_t* b) {
  return std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) |
         (std::uint32_t{b[3]} << 24);
}

void Value(const LineView& l, wchar_t* name, wchar_t* value) {
  std::size_t i = 0, n = 0;
  for (; i < l.length && l.text[i] != L' '; ++i)
    if (n + 1 < 64) name[n++] = l.text[i];
  name[n] = 0;
  while (i < l.length && l.text[i] == L' ') ++i;
  n = 0;
  for (; i < l.length; ++i)
    if (n + 1 < kPathChars) value[n++] = l.text[i];
  while (n > 0 && value[n - 1] == L' ') --n;
  value[n] = 0;
}

bool Element(const ListingLines& listing, const wchar_t* id, const wchar_t* element, wchar_t* out) {
  wchar_t name[64], value[kPathChars];
  bool in = false;
  for (std::size_t i = 0; i < listing.size(); ++i) {
    LineView l = listing.Line(i);
    if (l.length == 0) {
      in = false;
      continue;
    }
    Value(l, name, value);
    if (!in && EqualsIgnoreAsciiCase(value, id) && i > 0 && listing.Line(i - 1).length > 0 &&
        listing.Line(i - 1).text[0] == L'-') {
      in = true;
      continue;
    }
    if (in && EqualsIgnoreAsciiCase(name, element)) return CopyBounded(out, kPathChars, value);
  }
  return false;
}

void Resolve(const wchar_t* device, const wchar_t* path, wchar_t* out) {
  wchar_t upper[kPathChars];
  CopyBounded(upper, kPathChars, device);
  UpperAscii(upper, kPathChars);
  if (std::wcsncmp(upper, L"\\DEVICE\\HARDDISKVOLUME", 22) == 0) {
    FormatBounded(out, kPathChars, L"\\\\?\\GLOBALROOT%ls%ls", device, path);
  } else if (std::wcslen(device) == 2 && device[1] == L':') {
    FormatBounded(out, kPathChars, L"%ls%ls", device, path);
  } else {
    out[0] = 0;
  }
}

FileState Open(const wchar_t* path, std::uint32_t* error, UniqueHandle* file) {
  if (path[0] == 0) return FileState::Unknown;
  file->reset(Sys().files->OpenFile(path, FileAccess::Read, FileCreate::OpenExisting));
  if (*file) return FileState::Present;
  *error = Sys().system->LastError();
  return *error == kErrorFileNotFound || *error == kErrorPathNotFound ? FileState::Missing
                                                                      : FileState::Unknown;
}

}  // namespace

bool ParseWimHeader(const std::uint8_t* bytes, std::size_t size, WimHeader* header) {
  if (size < kWimHeaderBytes || std::memcmp(bytes, "MSWIM\0\0\0", 8) != 0 || Le32(bytes + 8) != 208)
    return false;
  header->headerSize = 208;
  header->version = Le32(bytes + 12);
  header->flags = Le32(bytes + 16);
  header->partNumber = static_cast<std::uint16_t>(bytes[40] | (bytes[41] << 8));
  header->totalParts = static_cast<std::uint16_t>(bytes[42] | (bytes[43] << 8));
  header->imageCount = Le32(bytes + 44);
  header->bootIndex = Le32(bytes + 120);
  return true;
}

bool ResolveRecoveryImage(const ListingLines& listing, const wchar_t* entryId, RecoveryImageFacts* facts) {
  wchar_t device[kPathChars];
  if (!Element(listing, entryId, L"device", device)) return false;
  if (std::wcsncmp(device, L"ramdisk=[", 9) != 0) return false;
  const wchar_t* close = std::wcschr(device, L']');
  const wchar_t* comma = std::wcsrchr(device, L',');
  if (close == nullptr || comma == nullptr || comma < close) return false;
  std::size_t dn = static_cast<std::size_t>(close - device - 9);
  std::wcsncpy(facts->device, device + 9, dn);
  facts->device[dn] = 0;
  wchar_t path[kPathChars];
  std::size_t pn = static_cast<std::size_t>(comma - close - 1);
  std::wcsncpy(path, close + 1, pn);
  path[pn] = 0;
  CopyBounded(facts->optionsId, kMaxEntryIdChars + 1, comma + 1);
  Resolve(facts->device, path, facts->imagePath);
  wchar_t sdiDevice[kPathChars], sdiPath[kPathChars];
  if (Element(listing, facts->optionsId, L"ramdisksdidevice", sdiDevice) &&
      Element(listing, facts->optionsId, L"ramdisksdipath", sdiPath) &&
      std::wcsncmp(sdiDevice, L"partition=", 10) == 0) {
    Resolve(sdiDevice + 10, sdiPath, facts->sdiPath);
  }
  return true;
}

void TestRecoveryImage(RecoveryImageFacts* facts) {
  UniqueHandle image;
  facts->image = Open(facts->imagePath, &facts->imageError, &image);
  if (facts->image == FileState::Present) {
    std::uint8_t bytes[kWimHeaderBytes] = {};
    std::uint32_t got = 0;
    (void)Sys().files->Size(image.get(), &facts->imageSize);
    if (!Sys().files->Read(image.get(), bytes, sizeof bytes, &got) ||
        !ParseWimHeader(bytes, got, &facts->header)) {
      facts->image = FileState::NotAWim;
    }
  }
  UniqueHandle sdi;
  facts->sdi = Open(facts->sdiPath, &facts->sdiError, &sdi);
}

bool RecoveryImageRefused(const RecoveryImageFacts& facts) {
  return facts.image == FileState::Missing || facts.image == FileState::NotAWim ||
         facts.sdi == FileState::Missing;
}

int ReadBootSignature(std::int32_t diskNumber, std::int64_t offset, bool* present) {
  wchar_t name[32];
  PhysicalDriveName(diskNumber, name);
  UniqueHandle disk(Sys().disks->OpenDisk(name, false));
  std::uint8_t sector[512] = {};
  std::uint32_t got = 0;
  if (!disk || !Sys().disks->ReadAt(disk.get(), static_cast<std::uint64_t>(offset), sector, 512, &got) ||
      got < 512)
    return 5;
  *present = sector[510] == 0x55 && sector[511] == 0xAA;
  return 0;
}

}  // namespace tavu
