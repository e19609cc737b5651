#include "check/ticket_facts.h"

#include "check/boot_manager.h"
#include "check/recovery_check.h"
#include "common/disk_api.h"
#include "common/drive_layout_view.h"
#include "common/file_api.h"
#include "common/heap_block.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/volume_api.h"
#include "common/volume_arrival.h"
#include "common/win_errors.h"
#include "launcher/arming/recovery_image.h"

namespace tavu::check {

namespace {

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX answer area: the header and 101 entries.
constexpr auto kLayoutBytes = static_cast<std::uint32_t>(DriveLayoutSize(101));
constexpr wchar_t kRecoveryLabel[] = L"Recovery";
// GPT type of a Windows recovery partition, as the layout holds it.
constexpr std::uint8_t kWinReType[16] = {0xA4, 0xBB, 0x94, 0xDE, 0xD1, 0x06, 0x40, 0x4D,
                                         0xA1, 0x6A, 0xBF, 0xD5, 0x01, 0x79, 0xD6, 0xAC};

bool SameBytes(const void* a, const void* b, std::size_t n) {
  const auto* x = static_cast<const std::uint8_t*>(a);
  const auto* y = static_cast<const std::uint8_t*>(b);
  for (std::size_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return false;
  }
  return true;
}

Presence PresenceOf(const wchar_t* path) {
  wchar_t openable[kPathChars];
  OpenablePath(path, openable);
  UniqueHandle file(Sys().files->OpenFile(openable, FileAccess::Read, FileCreate::OpenExisting));
  if (file) return Presence::Present;
  const std::uint32_t error = Sys().system->LastError();
  return error == kErrorFileNotFound || error == kErrorPathNotFound ? Presence::Missing : Presence::Unknown;
}

// Size from the table; volume, label, file system and free space from
// Windows, as Disk Management shows them.
void DescribePartition(std::int32_t disk, std::int64_t offset, PartitionTicket* t) {
  PARTITION_INFORMATION_EX entry{};
  if (PartitionEntryAt(disk, offset, &entry)) {
    t->known = true;
    t->offset = offset;
    t->size = entry.PartitionLength;
  }
  if (!FindListedVolume(static_cast<std::uint32_t>(disk), offset, t->volume, kPathChars)) {
    t->volume[0] = L'\0';
    return;
  }
  VolumeApi& volumes = *Sys().volumes;
  t->hasLabel = volumes.VolumeLabel(t->volume, t->label, kVolumeLabelChars);
  if (!t->hasLabel) t->label[0] = L'\0';
  if (!volumes.FileSystemName(t->volume, t->fileSystem, 16)) t->fileSystem[0] = L'\0';
  std::uint64_t total = 0;
  t->hasFree = volumes.FreeSpace(t->volume, &t->freeBytes, &total);
}

// Every partition of every disk that a technician would take for a recovery
// partition: by its type (GPT Windows RE, MBR 0x27, or the maker's hidden
// 0x1B and 0x1C) or by its label.
void Candidates(CheckFacts& f) {
  TicketFacts& t = f.ticket;
  HeapBlock area = HeapBlock::Uninitialised(kLayoutBytes);
  if (!area) return;
  for (std::int32_t n = 0; n < kNameableDisks; ++n) {
    wchar_t name[32];
    PhysicalDriveName(n, name);
    UniqueHandle disk(Sys().disks->OpenDisk(name, false));
    if (!disk) break;
    if (!Sys().disks->GetLayout(disk.get(), area.get(), kLayoutBytes)) continue;
    DriveLayoutView layout(area.get(), kLayoutBytes);
    for (std::uint32_t i = 0; i < layout.Count() && t.candidateCount < TicketFacts::kRoom; ++i) {
      const PARTITION_INFORMATION_EX& e = layout.Entry(i);
      if (e.PartitionNumber == 0 || e.PartitionLength <= 0) continue;
      bool looks =
          layout.Style() == PARTITION_STYLE_GPT
              ? SameBytes(&e.Gpt.PartitionType, kWinReType, 16)
              : e.Mbr.PartitionType == 0x27 || e.Mbr.PartitionType == 0x1B || e.Mbr.PartitionType == 0x1C;
      if (!looks) {
        wchar_t label[kVolumeLabelChars] = {};
        looks = ReadVolumeLabel(disk.get(), label, e.StartingOffset) == kLocateFound &&
                EqualsIgnoreAsciiCase(label, kRecoveryLabel);
      }
      if (!looks) continue;
      RecoveryCandidate& c = t.candidates[t.candidateCount++];
      c.disk = n;
      c.partition = static_cast<std::int32_t>(e.PartitionNumber);
    }
  }
  // Live: the one ReAgent.xml names, else the one the live loader's image lies on.
  const WindowsReFacts& w = f.windowsRe;
  for (std::size_t i = 0; i < t.candidateCount; ++i) {
    RecoveryCandidate& c = t.candidates[i];
    c.live = w.locationFound
                 ? c.disk == w.disk && c.partition == w.partition
                 : t.entryPlace.found && c.disk == t.entryPlace.disk && c.partition == t.entryPlace.partition;
  }
}

// The device of a resolved path: "\\?\GLOBALROOT\Device\HarddiskVolume5\..."
// gives "\Device\HarddiskVolume5", "E:\..." gives "E:"; false for another form.
bool DeviceOfPath(const wchar_t* path, wchar_t* device, std::size_t capacity) {
  constexpr wchar_t kGlobalRoot[] = L"\\\\?\\GLOBALROOT";
  constexpr std::size_t kPrefix = sizeof(kGlobalRoot) / sizeof(wchar_t) - 1;
  if (path[0] != L'\0' && path[1] == L':') {
    const wchar_t letter[3] = {path[0], L':', L'\0'};
    return CopyBounded(device, capacity, letter);
  }
  for (std::size_t i = 0; i < kPrefix; ++i) {
    if (path[i] == L'\0' || UpperAscii(path[i]) != UpperAscii(kGlobalRoot[i])) return false;
  }
  // "\Device\" and the volume's name, up to the next backslash.
  std::size_t end = kPrefix + 1;
  for (int parts = 0; path[end] != L'\0'; ++end) {
    if (path[end] == L'\\' && ++parts == 2) break;
  }
  if (end - kPrefix + 1 > capacity) return false;
  for (std::size_t i = kPrefix; i < end; ++i) device[i - kPrefix] = path[i];
  device[end - kPrefix] = L'\0';
  return true;
}

}  // namespace

void ReadTicketFacts(CheckFacts& f, const ListingLines& listing) {
  TicketFacts& t = f.ticket;
  if (f.partitionResult == kLocateFound)
    DescribePartition(f.partitionDisk, f.partitionDetail.foundOffset, &t.recovery);
  if (f.imageResolved) {
    t.entryPlace = PlaceOfDevice(f.image.device);
    wchar_t device[kPathChars];
    if (DeviceOfPath(f.image.sdiPath, device, kPathChars)) t.sdiPlace = PlaceOfDevice(device);
  }
  Candidates(f);
  if (f.listingRead) {
    wchar_t ids[TicketFacts::kRoom + 1][kMaxEntryIdChars + 1] = {};
    const std::size_t count = ListRecoveryLoaders(listing, ids, TicketFacts::kRoom + 1);
    wchar_t live[kMaxEntryIdChars + 1] = {};
    const bool hasLive = FindRecoveryEntryId(listing, live);
    for (std::size_t i = 0; i < count && i < TicketFacts::kRoom + 1 && t.orphanCount < TicketFacts::kRoom;
         ++i) {
      if (hasLive && EqualsIgnoreAsciiCase(ids[i], live)) continue;
      CopyBounded(t.orphans[t.orphanCount++], kMaxEntryIdChars + 1, ids[i]);
    }
    if (f.partitionResult != kLocateFound && hasLive) {
      wchar_t description[kPathChars];
      t.loaderWithoutPartition = true;
      CopyBounded(t.loaderId, kMaxEntryIdChars + 1, live);
      ReadEntryLines(listing, live, description, t.loaderDevice);
    }
  }
  const WindowsReFacts& w = f.windowsRe;
  if (w.locationFound) {
    wchar_t volume[kPathChars];
    wchar_t image[kPathChars];
    if (FindListedVolume(static_cast<std::uint32_t>(w.disk), static_cast<std::int64_t>(w.xml.offset), volume,
                         kPathChars)) {
      t.locationPlace = PlaceOfVolume(volume);
      if (FormatBounded(image, kPathChars, L"%ls%ls\\Winre.wim", volume,
                        w.xml.path[0] == L'\\' ? w.xml.path + 1 : w.xml.path) >= 0) {
        t.locationImage = PresenceOf(image);
      }
    }
  }
  // While Windows RE is disabled its image waits in System32\Recovery; reagentc
  // /enable cannot work without it.
  if (w.file == ReAgentFile::Present && w.xml.installState == 0) {
    t.system32Asked = true;
    t.system32Image = PresenceOf(kSystem32Image);
  }
}

}  // namespace tavu::check
