#include "patcher/volume_letters.h"

#include <cwchar>

#include "common/drive_layout_view.h"
#include "common/heap_block.h"
#include "common/platform.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/volume_api.h"
#include "common/win_errors.h"
#include "common/win_records.h"
#include "common/wide_text.h"
#include "patcher/patcher_log.h"

namespace tavu::patcher {

namespace {

constexpr const wchar_t* kFindTag = L"FindVolume";
constexpr const wchar_t* kLetterTag = L"SetVolumeLetter";

constexpr const wchar_t* kRoots[] = {
    L"C:\\", L"D:\\", L"E:\\", L"F:\\", L"G:\\", L"H:\\", L"I:\\", L"J:\\",
    L"K:\\", L"L:\\", L"M:\\", L"N:\\", L"O:\\", L"P:\\", L"Q:\\", L"R:\\",
    L"S:\\", L"T:\\", L"U:\\", L"V:\\", L"W:\\", L"X:\\", L"Y:\\", L"Z:\\"};

constexpr std::uint32_t kFirstPathNamesChars = 260;
// A list that keeps growing between two calls is given a few more chances,
// not an endless loop; a length beyond any real list is not believed.
constexpr int kPathNamesAttempts = 16;
constexpr std::uint32_t kMaxPathNamesChars = 1u << 24;

static_assert(VolumeExtentsRoom(kExtentsBytes) == 257);

bool HasMatchingExtent(Handle volume, const HeapBlock& extents, std::uint32_t diskNumber,
                       std::int64_t startingOffset, std::int64_t length) {
  if (!Sys().volumes->GetExtents(volume, extents.get(), kExtentsBytes)) return false;
  const VolumeExtentsView answer(extents.get(), kExtentsBytes);
  for (std::uint32_t i = 0; i < answer.Count(); ++i) {
    const DISK_EXTENT& e = answer.Entry(i);
    if (e.DiskNumber == diskNumber && e.StartingOffset == startingOffset && e.ExtentLength == length) {
      return true;
    }
  }
  return false;
}

// Opens the volume under its device name (the name without its trailing
// backslash) and compares its extents; the name is given back unchanged.
bool VolumeMatches(wchar_t* name, const HeapBlock& extents, std::uint32_t diskNumber,
                   std::int64_t startingOffset, std::int64_t length) {
  std::size_t len = wcsnlen(name, kVolumeNameChars);
  if (len == 0 || len == kVolumeNameChars) return false;
  bool trailing = name[len - 1] == L'\\';
  if (trailing) name[len - 1] = L'\0';
  UniqueHandle volume(Sys().volumes->OpenVolume(name, false));
  if (trailing) name[len - 1] = L'\\';
  if (!volume) return false;
  return HasMatchingExtent(volume.get(), extents, diskNumber, startingOffset, length);
}

}  // namespace

bool FindVolume(wchar_t* volumeName, std::uint32_t diskNumber, std::int64_t startingOffset,
                std::int64_t length) {
  VolumeApi& volumes = *Sys().volumes;
  HeapBlock extents = HeapBlock::Zeroed(kExtentsBytes);
  if (extents) {
    UniqueVolumeSearch search(volumes.FirstVolume(volumeName, kVolumeNameChars));
    if (search) {
      do {
        if (VolumeMatches(volumeName, extents, diskNumber, startingOffset, length)) return true;
      } while (volumes.NextVolume(search.get(), volumeName, kVolumeNameChars));
    }
  }
  WriteLog(kFindTag, L"Can not find volume");
  return false;
}

void SetVolumeLetter(const wchar_t* volumeName) {
  VolumeApi& volumes = *Sys().volumes;
  std::uint32_t capacity = kFirstPathNamesChars;
  HeapBlock paths = HeapBlock::Zeroed(capacity * sizeof(wchar_t));
  for (int attempt = 1;; ++attempt) {
    std::uint32_t needed = 0;
    if (paths && volumes.PathNames(volumeName, paths.As<wchar_t>(), capacity, &needed)) break;
    bool retry = paths && Sys().system->LastError() == kErrorMoreData && attempt < kPathNamesAttempts &&
                 needed != 0 && needed <= kMaxPathNamesChars;
    if (!retry) {
      WriteLog(kLetterTag, L"GetVolumePathNamesForVolumeName return: false");
      return;
    }
    capacity = needed;
    paths = HeapBlock::Zeroed(capacity * sizeof(wchar_t));
  }
  WriteLog(kLetterTag, L"GetVolumePathNamesForVolumeName return: true");
  // A drive letter or a folder mount point: the volume is reachable already.
  if (paths.As<wchar_t>()[0] != L'\0') return;
  for (const wchar_t* root : kRoots) {
    if (volumes.SetMountPoint(root, volumeName)) {
      FormatBounded(g_patchMessage, kPathChars, L"Assign %ls, Letter = %ls", volumeName, root);
      WriteLog(kLetterTag, g_patchMessage);
      return;
    }
  }
}

}  // namespace tavu::patcher
