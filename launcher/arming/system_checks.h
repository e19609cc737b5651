// Yes/no questions asked of Windows: 1 for yes, 0 for no; every failure is 0,
// except that a volume once seen protected keeps IsVolumeProtected at 1.
#pragma once

namespace tavu {

[[nodiscard]] int Is64BitWindows();
[[nodiscard]] int CheckManufacturer();
[[nodiscard]] int IsVolumeProtected();

}  // namespace tavu
