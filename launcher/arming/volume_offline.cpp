#include "launcher/arming/volume_offline.h"

#include <cwchar>

#include "common/platform.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/volume_api.h"
#include "common/volume_arrival.h"
#include "common/volume_root.h"
#include "common/wide_text.h"
#include "common/win_errors.h"

namespace tavu {

namespace {

// "\\?\Volume{GUID}\" is 49 characters.
constexpr std::uint32_t kNameChars = 64;
constexpr std::uint32_t kLabelChars = 64;

// Notes a refusal; true when the next step is still worth taking.
bool Refused(OfflineOutcome* outcome, OfflineStep step) {
  if (outcome->firstRefused == OfflineStep::None) {
    outcome->firstRefused = step;
    outcome->error = Sys().system->LastError();
  }
  return GoOnAfterRefusal(step);
}

}  // namespace

bool GoOnAfterRefusal(OfflineStep refused) { return refused == OfflineStep::Lock; }

OfflineOutcome TakeVolumeOffline(std::uint32_t diskNumber, std::int64_t startingOffset) {
  OfflineOutcome outcome;
  wchar_t name[kNameChars] = {};
  if (!FindListedVolume(diskNumber, startingOffset, name, kNameChars)) {
    static_cast<void>(Refused(&outcome, OfflineStep::Find));
    return outcome;
  }
  // The device is the name without its trailing backslash.
  const std::size_t length = wcsnlen(name, kNameChars);
  if (length > 0 && name[length - 1] == L'\\') name[length - 1] = L'\0';
  VolumeApi& volumes = *Sys().volumes;
  UniqueHandle volume(volumes.OpenVolumeForChange(name));
  if (!volume) {
    static_cast<void>(Refused(&outcome, OfflineStep::Open));
    return outcome;
  }
  if (!volumes.LockVolume(volume.get()) && !Refused(&outcome, OfflineStep::Lock)) return outcome;
  if (!volumes.DismountVolume(volume.get()) && !Refused(&outcome, OfflineStep::Dismount)) return outcome;
  // Through the handle that dismounted it: any other open would mount it again first.
  if (!volumes.OfflineVolume(volume.get())) {
    static_cast<void>(Refused(&outcome, OfflineStep::Offline));
    return outcome;
  }
  outcome.offline = true;
  return outcome;
}

bool LetterRootOfVolume(std::uint32_t diskNumber, std::int64_t startingOffset, wchar_t* root,
                        std::size_t capacity) {
  if (root == nullptr || capacity < 4) return false;
  root[0] = L'\0';
  wchar_t name[kNameChars] = {};
  wchar_t found[4];
  return FindListedVolume(diskNumber, startingOffset, name, kNameChars) && DriveRootOfVolume(name, found) &&
         CopyBounded(root, capacity, found);
}

VolumeReach QueryVolumeReach(std::uint32_t diskNumber, std::int64_t startingOffset) {
  wchar_t name[kNameChars] = {};
  if (!FindListedVolume(diskNumber, startingOffset, name, kNameChars)) return VolumeReach::NotPresented;
  // The root opens only through a mounted file system; an offline volume
  // answers every request for it with ERROR_NOT_READY.
  wchar_t label[kLabelChars];
  if (!Sys().volumes->VolumeLabel(name, label, kLabelChars) && Sys().system->LastError() == kErrorNotReady) {
    return VolumeReach::Offline;
  }
  return VolumeReach::Reachable;
}

}  // namespace tavu
