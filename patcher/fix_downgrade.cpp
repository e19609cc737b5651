#include "patcher/fix_downgrade.h"

#include <cstring>

#include "common/disk_api.h"
#include "common/drive_layout_view.h"
#include "common/error_mode.h"
#include "common/file_api.h"
#include "common/heap_block.h"
#include "common/platform.h"
#include "common/searchable_disks.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/volume_arrival.h"
#include "common/wide_text.h"
#include "common/win_records.h"
#include "patcher/launcher_deploy.h"
#include "patcher/launcher_version.h"
#include "patcher/patcher_log.h"
#include "patcher/volume_letters.h"

namespace tavu::patcher {

namespace {

constexpr const wchar_t* kTag = L"FixDowngarde";
// GPT_BASIC_DATA_ATTRIBUTE_HIDDEN: the partition manager presents no volume.
constexpr std::uint64_t kGptAttributeHidden = std::uint64_t{1} << 62;
static_assert(kLayoutBytes == DriveLayoutSize(128) && DriveLayoutRoom(kLayoutBytes) == 128);

void LogNumber(const wchar_t* format, int value) {
  FormatBounded(g_patchMessage, kPathChars, format, value);
  WriteLog(kTag, g_patchMessage);
}

// Every basic-data entry in table order: attributes 0 in the shared buffer,
// the whole layout written back, then the entry's volume and its letter.
void ClearBasicDataAttributes(Handle disk, int number, const HeapBlock& layoutBlock, wchar_t* volumeName) {
  const DriveLayoutView layout(layoutBlock.get(), kLayoutBytes);
  const std::uint32_t count = layout.Count();
  // The log numbers the entries from 1.
  for (std::uint32_t i = 1; i <= count; ++i) {
    LogNumber(L"Partition: %d", static_cast<int>(i));
    PARTITION_INFORMATION_EX& entry = layout.Entry(i - 1);
    if (std::memcmp(&entry.Gpt.PartitionType, kBasicDataGuidBytes, sizeof(kBasicDataGuidBytes)) != 0) {
      continue;
    }
    WriteLog(kTag, L"PARTITION_BASIC_DATA_GUID");
    // A hidden partition has no volume; once the write shows it, Windows
    // presents its volume a moment later, not at once.
    const bool wasHidden = (entry.Gpt.Attributes & kGptAttributeHidden) != 0;
    entry.Gpt.Attributes = 0;
    if (!Sys().disks->SetLayout(disk, layoutBlock.get(), kLayoutBytes)) continue;
    // Whether or not it came in time, the search below decides and logs.
    if (wasHidden)
      static_cast<void>(WaitForVolumeArrival(static_cast<std::uint32_t>(number), entry.StartingOffset));
    if (FindVolume(volumeName, static_cast<std::uint32_t>(number), entry.StartingOffset,
                   entry.PartitionLength)) {
      SetVolumeLetter(volumeName);
    }
  }
}

void PatchDisk(const SearchableDisks& disks, wchar_t* volumeName) {
  const Handle disk = disks.Disk();
  const int number = disks.Number();
  // The patcher is for the notebook's own disk: a USB disk and a removable
  // medium on any bus (a card in the notebook's reader) are left as they are.
  if (disks.Verdict() == DiskVerdict::UsbBus || disks.Verdict() == DiskVerdict::RemovableMedia) {
    WriteLog(kTag, L"Removable Media");
    return;
  }
  // A slot without a medium has no table to read.
  if (disks.Verdict() == DiskVerdict::NoMedium) return;
  HeapBlock layout = HeapBlock::Zeroed(kLayoutBytes);
  if (!layout || !Sys().disks->GetLayout(disk, layout.get(), kLayoutBytes)) return;
  switch (DriveLayoutView(layout.get(), kLayoutBytes).Style()) {
    case PARTITION_STYLE_GPT:
      WriteLog(kTag, L"PARTITION_STYLE_GPT");
      ClearBasicDataAttributes(disk, number, layout, volumeName);
      break;
    case PARTITION_STYLE_MBR:
      WriteLog(kTag, L"PARTITION_STYLE_MBR");
      break;
    default:
      WriteLog(kTag, L"PARTITION_STYLE_UNKNOWN");
      break;
  }
}

void UpdateLauncher() {
  // A cut part way through an earlier replacement must not read as "no
  // launcher installed", which would leave the folder as the cut left it.
  RestoreInterruptedLauncher();
  wchar_t launcher[kPathChars];
  if (!LauncherPath(L"", launcher, kPathChars) || !Sys().files->Exists(launcher)) return;
  WriteLog(kTag, L"Find TAVU Recovery");
  wchar_t installed[kPathChars];
  // An unreadable version leaves the text empty, which is older than any.
  static_cast<void>(GetFileVersion(installed, kPathChars));
  VersionList threshold;
  VersionList current;
  ParseVersion(kThresholdVersion, &threshold);
  ParseVersion(installed, &current);
  if (CompareVersion(current, threshold) == -1) {
    WriteLog(kTag, L"File version is older, copy file");
    ExtractLauncher();
  } else {
    WriteLog(kTag, L"File version is same or newer, do not copy");
  }
}

}  // namespace

void FixDowngarde() {
  FailCriticalErrorsQuietly();
  wchar_t volumeName[kVolumeNameChars] = {};
  SearchableDisks disks(true);
  while (disks.Next()) {
    LogNumber(L"Disk: %d", disks.Number());
    PatchDisk(disks, volumeName);
  }
  Sys().system->SetWow64FsRedirection(true);
  UpdateLauncher();
  Sys().system->SetWow64FsRedirection(false);
}

}  // namespace tavu::patcher
