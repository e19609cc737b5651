#include "launcher/arming/recovery_image.h"

#include <cstring>

#include "common/file_api.h"
#include "common/little_endian.h"
#include "common/platform.h"
#include "common/read_up_to.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "common/win_errors.h"
#include "launcher/arming/recovery_device.h"

namespace tavu {

namespace {

constexpr std::uint8_t kWimMagic[8] = {'M', 'S', 'W', 'I', 'M', 0, 0, 0};

// A file the loader needs, opened the way the loader would find it: absent
// only when Windows says so, any other failed open tells nothing.
FileState StateOfFailedOpen(std::uint32_t error) {
  return error == kErrorFileNotFound || error == kErrorPathNotFound ? FileState::Missing : FileState::Unknown;
}

WimResource ParseResource(const std::uint8_t* at) {
  WimResource r;
  r.storedSize = Le64(at) & 0x00FFFFFFFFFFFFFFull;
  r.flags = at[7];
  r.offset = Le64(at + 8);
  r.originalSize = Le64(at + 16);
  return r;
}

bool BeyondEnd(const WimResource& r, std::uint64_t fileSize) {
  return r.storedSize != 0 && (r.offset > fileSize || r.storedSize > fileSize - r.offset);
}

}  // namespace

// A 32-bit program on 64-bit Windows that names System32 reaches SysWOW64;
// the folder the loader means is reached through the Sysnative alias.
void OpenablePath(const wchar_t* path, wchar_t (&out)[kPathChars]) {
  constexpr wchar_t kSystem32[] = L":\\Windows\\System32\\";
  constexpr std::size_t kPrefix = sizeof kSystem32 / sizeof kSystem32[0] - 1;
  CopyBounded(out, kPathChars, path);
  if (!Sys().system->RunsUnderWow64() || path[0] == L'\0') return;
  for (std::size_t i = 0; i < kPrefix; ++i) {
    if (path[1 + i] == L'\0' || UpperAscii(path[1 + i]) != UpperAscii(kSystem32[i])) return;
  }
  wchar_t drive[2] = {path[0], L'\0'};
  CopyBounded(out, kPathChars, drive);
  AppendBounded(out, kPathChars, L":\\Windows\\Sysnative\\");
  if (!AppendBounded(out, kPathChars, path + 1 + kPrefix)) CopyBounded(out, kPathChars, path);
}

namespace {

void TestImage(RecoveryImageFacts* facts) {
  FileApi& files = *Sys().files;
  wchar_t path[kPathChars];
  OpenablePath(facts->imagePath, path);
  UniqueHandle file(files.OpenFile(path, FileAccess::Read, FileCreate::OpenExisting));
  if (!file) {
    facts->imageError = Sys().system->LastError();
    facts->image = StateOfFailedOpen(facts->imageError);
    return;
  }
  std::uint64_t size = 0;
  std::uint8_t bytes[kWimHeaderBytes] = {};
  std::size_t have = 0;
  if (!files.Size(file.get(), &size) || !ReadUpTo(file.get(), bytes, kWimHeaderBytes, &have)) {
    facts->imageError = Sys().system->LastError();
    facts->image = FileState::Unknown;
    return;
  }
  facts->imageSize = size;
  if (!ParseWimHeader(bytes, have, &facts->header)) {
    facts->image = FileState::NotAWim;
    return;
  }
  facts->cut = WimPartBeyondEnd(facts->header, size);
  facts->image = facts->cut == WimCut::None ? FileState::Present : FileState::NotAWim;
}

void TestSdi(RecoveryImageFacts* facts) {
  FileApi& files = *Sys().files;
  wchar_t path[kPathChars];
  OpenablePath(facts->sdiPath, path);
  UniqueHandle file(files.OpenFile(path, FileAccess::Read, FileCreate::OpenExisting));
  if (!file) {
    facts->sdiError = Sys().system->LastError();
    facts->sdi = StateOfFailedOpen(facts->sdiError);
    return;
  }
  std::uint8_t head[sizeof kSdiSignature] = {};
  std::size_t have = 0;
  if (!files.Size(file.get(), &facts->sdiSize) || !ReadUpTo(file.get(), head, sizeof head, &have)) {
    facts->sdiError = Sys().system->LastError();
    facts->sdi = FileState::Unknown;
    return;
  }
  facts->sdiFault = facts->sdiSize == 0 || have == 0 ? SdiFault::Empty
                    : have < sizeof head || std::memcmp(head, kSdiSignature, sizeof head) != 0
                        ? SdiFault::NoSignature
                        : SdiFault::None;
  facts->sdi = facts->sdiFault == SdiFault::None ? FileState::Present : FileState::Missing;
}

}  // namespace

bool ParseWimHeader(const std::uint8_t* bytes, std::size_t size, WimHeader* header) {
  if (bytes == nullptr || header == nullptr || size < kWimHeaderBytes) return false;
  if (std::memcmp(bytes, kWimMagic, sizeof kWimMagic) != 0 || Le32(bytes + 8) != kWimHeaderBytes)
    return false;
  header->headerSize = Le32(bytes + 8);
  header->version = Le32(bytes + 12);
  header->flags = Le32(bytes + 16);
  header->partNumber = Le16(bytes + 40);
  header->totalParts = Le16(bytes + 42);
  header->imageCount = Le32(bytes + 44);
  header->lookupTable = ParseResource(bytes + 48);
  header->xmlData = ParseResource(bytes + 72);
  header->bootMetadata = ParseResource(bytes + 96);
  header->bootIndex = Le32(bytes + 120);
  return true;
}

WimCut WimPartBeyondEnd(const WimHeader& header, std::uint64_t fileSize) {
  if (BeyondEnd(header.lookupTable, fileSize)) return WimCut::LookupTable;
  if (BeyondEnd(header.xmlData, fileSize)) return WimCut::XmlData;
  if (BeyondEnd(header.bootMetadata, fileSize)) return WimCut::BootMetadata;
  return WimCut::None;
}

bool ResolveRecoveryImage(const ListingLines& listing, const wchar_t* entryId, RecoveryImageFacts* facts) {
  if (facts == nullptr) return false;
  *facts = RecoveryImageFacts{};
  LineView deviceLine;
  if (entryId == nullptr || !FindLoaderDeviceLine(listing, entryId, &deviceLine)) return false;
  RamdiskDevice ramdisk;
  if (!ParseRamdiskDevice(deviceLine, &ramdisk)) return false;
  CopyLine(ramdisk.device, facts->device, kPathChars);
  CopyLine(ramdisk.options, facts->optionsId, kMaxEntryIdChars + 1);
  static_cast<void>(ResolveDevicePath(ramdisk.device, ramdisk.path, facts->imagePath));

  LineView sdiDevice;
  LineView sdiPath;
  if (FindSdiLocation(listing, ramdisk.options, &sdiDevice, &sdiPath)) {
    static_cast<void>(ResolveDevicePath(sdiDevice, sdiPath, facts->sdiPath));
  }
  return true;
}

void TestRecoveryImage(RecoveryImageFacts* facts) {
  if (facts == nullptr) return;
  if (facts->imagePath[0] != L'\0') TestImage(facts);
  if (facts->sdiPath[0] != L'\0') TestSdi(facts);
}

bool RecoveryImageRefused(const RecoveryImageFacts& facts) {
  return facts.image == FileState::Missing || facts.image == FileState::NotAWim ||
         facts.sdi == FileState::Missing;
}

}  // namespace tavu
