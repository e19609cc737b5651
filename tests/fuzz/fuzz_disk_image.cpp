// libFuzzer: arbitrary bytes as disk 0 of a simulated machine. They go through
// the layout reader (as Windows would present them), tavu-sim's test of whether
// they stand for a whole disk, and the file-system label readers, and through
// the locator's whole search. Whatever the bytes, every
// call ends with a defined result and reads nothing outside what it was given.
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "common/disk_api.h"
#include "common/unique_handle.h"
#include "common/volume_label.h"
#include "launcher/arming/partition_locator.h"
#include "sim/core/machine.h"
#include "sim/formats/whole_disk.h"

namespace {

const std::string& RootFolder() {
  static const std::string root = [] {
    char pattern[] = "/tmp/tavu-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    return std::string(made);
  }();
  return root;
}

bool IsLocatorResult(int r) { return r == 0 || r == 1 || r == 4 || r == 5; }

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tavu::sim::SimMachine machine(RootFolder());
  machine.Install();
  machine.AddDiskBytes(std::vector<std::uint8_t>(data, data + size));

  // The layout reader, directly and through the seam's answer area.
  const tavu::sim::SimLayout layout = machine.disks().Layout(0);
  Check(layout.style <= tavu::PARTITION_STYLE_RAW);
  for (bool superfloppy : {false, true}) {
    const std::string problem = tavu::sim::WholeDiskProblem(*machine.disks().Image(0), superfloppy);
    Check(problem.find('\n') == std::string::npos);
  }

  std::vector<std::int64_t> offsets = {0};
  for (const auto& e : layout.entries) {
    if (offsets.size() < 8) offsets.push_back(e.StartingOffset);
  }
  {
    tavu::UniqueHandle disk(tavu::Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE0", false));
    Check(disk.valid());
    alignas(8) static unsigned char area[14592];
    tavu::Sys().disks->GetLayout(disk.get(), area, sizeof(area));
    wchar_t label[tavu::kVolumeLabelChars];
    for (std::int64_t offset : offsets) {
      const int r = tavu::ReadVolumeLabel(disk.get(), label, offset);
      Check(r == 0 || r == 4 || r == 5);
      if (r == 0) Check(std::wcslen(label) < tavu::kVolumeLabelChars);
    }
  }

  std::int32_t disk = -1;
  std::int32_t partition = -1;
  Check(IsLocatorResult(tavu::FindRecoveryPartition(&partition, &disk)));
  wchar_t root[260];
  Check(IsLocatorResult(tavu::FindRecoveryVolume(&disk, &partition, root)));
  Check(machine.handles().OpenCount() == 0);
  tavu::SetPlatform(tavu::Platform{});
  return 0;
}
