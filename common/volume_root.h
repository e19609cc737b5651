// The drive letter a volume is mounted at, from its mount paths.
#pragma once

namespace tavu {

// root: "X:\" when GetVolumePathNamesForVolumeNameW lists a drive letter for
// the volume ("\\?\Volume{GUID}\"), which it does for an offline volume too;
// false, root empty, when it lists none or cannot be asked.
bool DriveRootOfVolume(const wchar_t* volumeName, wchar_t (&root)[4]);

}  // namespace tavu
