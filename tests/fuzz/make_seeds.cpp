// Writes small, valid disk images into a folder as the fuzzer's first corpus:
// bare NTFS and FAT32 volumes, and GPT and MBR disks that hold them.
#include <cstdio>
#include <string>

#include "sim/images/disk_builders.h"

using namespace tavu::images;

namespace {

bool Write(const std::string& dir, const char* name, const Bytes& bytes) {
  std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  NtfsParams ntfs;
  ntfs.sectorsPerCluster = 1;
  ntfs.mftCluster = 4;
  const Bytes ntfsVolume = BuildNtfs(ntfs).bytes;
  Fat32Params fat;
  fat.reservedSectors = 2;
  fat.dataClusters = 6;
  fat.rootChain = {2, 4};
  fat.rootEntries = {{DirEntry{"A          ", 0x0F}, DirEntry{"\xE5OLD       ", 0x08}},
                     {DirEntry{"RECOVERY   ", 0x08}}};
  const Bytes fatVolume = BuildFat32(fat).bytes;

  Bytes gpt = GptBuilder(128).Add(kRecoveryType, 34, 16).Add(kBasicDataType, 50, 16).Build();
  Place(gpt, 34 * 512, ntfsVolume);
  Bytes mbr = MbrBuilder(64)
                  .Primary(0, 0x0C, 1, 12)
                  .Primary(1, 0x1C, 13, 12)
                  .Primary(2, 0x05, 26, 36)
                  .Logical(0x07, 26, 4)
                  .Build();
  Place(mbr, 512, fatVolume);
  bool ok = Write(dir, "ntfs-volume", ntfsVolume) && Write(dir, "fat32-volume", fatVolume) &&
            Write(dir, "gpt-recovery-ntfs", gpt) && Write(dir, "mbr-fat32-logical", mbr);
  return ok ? 0 : 1;
}
