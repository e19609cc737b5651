#include "check/windows_re.h"

#include <cstring>

#include "common/disk_api.h"
#include "common/drive_layout_view.h"
#include "common/file_api.h"
#include "common/heap_block.h"
#include "common/read_up_to.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/win_errors.h"

namespace tavu::check {

namespace {

// IOCTL_DISK_GET_DRIVE_LAYOUT_EX answer area: the header and 101 entries, as the locator's.
constexpr std::uint32_t kLayoutBytes = 14592;

void ReadFile(WindowsReFacts& f) {
  FileApi& files = *Sys().files;
  // Sysnative exists only for a 32-bit program on 64-bit Windows; everywhere
  // else System32 is the real folder.
  UniqueHandle file(files.OpenFile(kReAgentPathWow64, FileAccess::Read, FileCreate::OpenExisting));
  f.error = file ? 0 : Sys().system->LastError();
  if (!file && f.error == kErrorPathNotFound) {
    file.reset(files.OpenFile(kReAgentPath, FileAccess::Read, FileCreate::OpenExisting));
    f.error = file ? 0 : Sys().system->LastError();
  }
  if (!file) {
    f.file = f.error == kErrorFileNotFound || f.error == kErrorPathNotFound ? ReAgentFile::Absent
                                                                            : ReAgentFile::Unreadable;
    return;
  }
  f.file = ReAgentFile::Unreadable;
  std::uint64_t size = 0;
  if (!files.Size(file.get(), &size)) {
    f.error = Sys().system->LastError();
    return;
  }
  if (size > kMaxReAgentBytes) return;
  HeapBlock bytes = HeapBlock::Uninitialised(static_cast<std::size_t>(size) + 1);
  if (!bytes) return;
  std::size_t have = 0;
  if (!ReadUpTo(file.get(), bytes.get(), static_cast<std::size_t>(size), &have)) {
    f.error = Sys().system->LastError();
    return;
  }
  if (ParseReAgentXml(bytes.get(), have, &f.xml)) f.file = ReAgentFile::Present;
}

bool SameGuid(const Guid& a, const Guid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// GPT disks by their disk GUID, MBR disks by their signature; then the
// partition that starts at the offset.
void FindLocation(WindowsReFacts& f) {
  HeapBlock area = HeapBlock::Uninitialised(kLayoutBytes);
  if (!area) return;
  const bool gpt = f.xml.hasGuid && !IsZeroGuid(f.xml.guid);
  for (std::int32_t n = 0; n < kNameableDisks; ++n) {
    wchar_t name[32];
    PhysicalDriveName(n, name);
    UniqueHandle disk(Sys().disks->OpenDisk(name, false));
    if (!disk) break;
    if (!Sys().disks->GetLayout(disk.get(), area.get(), kLayoutBytes)) continue;
    DriveLayoutView layout(area.get(), kLayoutBytes);
    const DRIVE_LAYOUT_INFORMATION_EX& head = *area.As<DRIVE_LAYOUT_INFORMATION_EX>();
    bool same = gpt ? layout.Style() == PARTITION_STYLE_GPT && SameGuid(head.Gpt.DiskId, f.xml.guid)
                    : layout.Style() == PARTITION_STYLE_MBR && f.xml.hasId && head.Mbr.Signature == f.xml.id;
    if (!same) continue;
    for (std::uint32_t i = 0; i < layout.Count(); ++i) {
      const PARTITION_INFORMATION_EX& entry = layout.Entry(i);
      if (entry.PartitionNumber != 0 && static_cast<std::uint64_t>(entry.StartingOffset) == f.xml.offset) {
        f.locationFound = true;
        f.disk = n;
        f.partition = static_cast<std::int32_t>(entry.PartitionNumber);
        return;
      }
    }
  }
}

}  // namespace

bool NamesEntry(const ReAgentXml& xml) {
  Guid id{};
  return xml.hasBcd && xml.bcdId[0] != L'\0' && !(ParseGuidText(xml.bcdId, &id) && IsZeroGuid(id));
}

bool NamesLocation(const ReAgentXml& xml) {
  return xml.hasLocation && (xml.path[0] != L'\0' || (xml.hasOffset && xml.offset != 0));
}

void ReadWindowsRe(WindowsReFacts* facts) {
  WindowsReFacts& f = *facts;
  ReadFile(f);
  if (f.file != ReAgentFile::Present || !NamesLocation(f.xml)) return;
  f.locationNamed = true;
  FindLocation(f);
}

}  // namespace tavu::check
