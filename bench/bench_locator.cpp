// FindRecoveryPartition and FindRecoveryVolume on sparse 64 GiB images made by
// the real tools (bench/make_bench_images.sh): wall time per call and the bytes
// each call reads through the disk seam.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/disk_api.h"
#include "common/unique_handle.h"
#include "launcher/arming/partition_locator.h"
#include "sim/core/machine.h"

namespace {

using tavu::sim::SimMachine;

std::string g_error;

const std::string& Images() {
  static const std::string dir = [] {
    const std::string images = TAVU_BENCH_IMAGES;
    const std::string command =
        std::string("'") + TAVU_SOURCE_DIR + "/bench/make_bench_images.sh' '" + images + "' >/dev/null 2>&1";
    int status = std::system(command.c_str());
    if (status != 0) g_error = "bench/make_bench_images.sh failed (status " + std::to_string(status) + ")";
    return images;
  }();
  return dir;
}

struct Fixture {
  std::string root;
  std::unique_ptr<SimMachine> machine;
};

// A machine whose only disk is the image; unhide: make the MBR recovery
// partition type 0x0C first, as the worker's diskpart script does.
Fixture Make(const std::string& image, bool unhide) {
  Fixture f;
  char pattern[] = "/tmp/tavu-bench-XXXXXX";
  f.root = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
  f.machine = std::make_unique<SimMachine>(f.root);
  std::string error;
  if (!f.machine->AddDisk(Images() + "/" + image, tavu::sim::DiskKind::Fixed, &error)) {
    g_error = image + ": " + error;
    return f;
  }
  f.machine->Install();
  if (unhide) {
    tavu::UniqueHandle disk(tavu::Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE0", true));
    std::vector<std::uint8_t> buffer(tavu::DriveLayoutSize(128));
    auto* layout = reinterpret_cast<tavu::DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
    if (tavu::Sys().disks->GetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size()))) {
      tavu::LayoutEntry(layout, 0)->Mbr.PartitionType = 0x0C;
      tavu::Sys().disks->SetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    }
  }
  return f;
}

void Report(benchmark::State& state, SimMachine& machine, int result, int expected) {
  const double calls = static_cast<double>(state.iterations());
  state.counters["bytes_read"] = benchmark::Counter(static_cast<double>(machine.disks().BytesRead()) / calls);
  state.counters["reads"] = benchmark::Counter(static_cast<double>(machine.disks().ReadCalls()) / calls);
  if (result != expected) state.SkipWithError(("unexpected result " + std::to_string(result)).c_str());
}

void BM_FindRecoveryPartition(benchmark::State& state, const char* image, int expected) {
  Fixture f = Make(image, false);
  if (!g_error.empty()) {
    state.SkipWithError(g_error.c_str());
    return;
  }
  f.machine->Install();
  f.machine->disks().ResetCounters();
  int result = -1;
  for (auto _ : state) {
    std::int32_t partition = 0;
    std::int32_t disk = 0;
    result = tavu::FindRecoveryPartition(&partition, &disk);
    benchmark::DoNotOptimize(partition);
  }
  Report(state, *f.machine, result, expected);
}

void BM_FindRecoveryVolume(benchmark::State& state, const char* image, bool unhide, int expected) {
  Fixture f = Make(image, unhide);
  if (!g_error.empty()) {
    state.SkipWithError(g_error.c_str());
    return;
  }
  f.machine->Install();
  f.machine->disks().ResetCounters();
  int result = -1;
  for (auto _ : state) {
    std::int32_t partition = 0;
    std::int32_t disk = 0;
    wchar_t root[260];
    result = tavu::FindRecoveryVolume(&disk, &partition, root);
    benchmark::DoNotOptimize(root);
  }
  Report(state, *f.machine, result, expected);
}

BENCHMARK_CAPTURE(BM_FindRecoveryPartition, fat32_64g, "fat32-64g.img", 0)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FindRecoveryVolume, fat32_64g, "fat32-64g.img", true, 0)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FindRecoveryPartition, ntfs_64g, "ntfs-64g.img", 0)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FindRecoveryVolume, ntfs_64g, "ntfs-64g.img", false, 0)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
