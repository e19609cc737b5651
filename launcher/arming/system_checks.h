// Yes/no questions asked of Windows: 1 for yes, 0 for no; every failure is 0,
// except that a volume once seen protected keeps IsVolumeProtected at 1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/wide_text.h"

namespace tavu {

// What IsVolumeProtected saw, for the support check (the launcher passes none):
// each volume asked, in WMI's order, with its ProtectionStatus, or asked false
// when its question failed (that ends the check). Volumes past the room are
// counted but not kept.
struct ProtectionReport {
  static constexpr std::size_t kRoom = 26;
  struct Volume {
    wchar_t deviceId[kPathChars] = {};
    wchar_t letter[4] = {};  // DriveLetter ("C:"), empty when it has none
    bool asked = false;
    std::int32_t status = 0;
  };
  Volume volumes[kRoom];
  std::size_t count = 0;
  // The namespace or the query failed (no volume was asked), or a volume's
  // question failed: either way the answer is not "no volume protected".
  bool failed = false;
  std::int32_t failure = 0;  // the HRESULT of the step that failed
};

[[nodiscard]] int Is64BitWindows();
// reported (kPathChars), when given: the manufacturer text as WMI gave it.
[[nodiscard]] int CheckManufacturer(wchar_t* reported = nullptr);
[[nodiscard]] int IsVolumeProtected(ProtectionReport* report = nullptr);

}  // namespace tavu
