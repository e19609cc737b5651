// One patch pass over ten GPT disks of 128 basic-data entries each: every
// entry is written back, found among all volumes and offered a letter.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "patcher/fix_downgrade.h"
#include "sim/core/machine.h"
#include "sim/images/disk_builders.h"

namespace {

using tavu::images::GptBuilder;

constexpr int kDisks = 10;
constexpr int kEntries = 128;
constexpr std::uint64_t kDiskSectors = 8192;  // 4 MiB
constexpr std::uint64_t kPartitionSectors = 32;

std::vector<std::uint8_t> FullDisk() {
  GptBuilder b(kDiskSectors);
  for (int i = 0; i < kEntries; ++i) {
    // Hidden and without letter, as a downgrade leaves them: each volume
    // appears only after its own write and then wants a letter.
    b.Add(tavu::images::kBasicDataType, 2048 + i * kPartitionSectors, kPartitionSectors, 0xC000000000000000ull);
  }
  return b.Build();
}

void BM_PatchPassTenFullGptDisks(benchmark::State& state) {
  const std::vector<std::uint8_t> disk = FullDisk();
  std::uint64_t writes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string root = (std::filesystem::temp_directory_path() / "tavu-bench-XXXXXX").string();
    if (mkdtemp(root.data()) == nullptr) {
      state.SkipWithError("no temporary folder");
      break;
    }
    {
      tavu::sim::SimMachine machine(root);
      machine.Install();
      for (int d = 0; d < kDisks; ++d) machine.AddDiskBytes(disk);
      state.ResumeTiming();
      tavu::patcher::FixDowngarde();
      state.PauseTiming();
      writes = machine.disks().layoutWrites().size();
      tavu::SetPlatform(tavu::Platform{});
    }
    std::filesystem::remove_all(root);
    state.ResumeTiming();
  }
  state.counters["layout_writes"] = static_cast<double>(writes);
}
BENCHMARK(BM_PatchPassTenFullGptDisks)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
