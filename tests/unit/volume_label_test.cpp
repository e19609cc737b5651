// The raw NTFS and FAT32 label readers: the reads they make, the label they
// return, and what they do with damaged structures.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "common/disk_api.h"
#include "common/unique_handle.h"
#include "common/volume_label.h"
#include "launcher/arming/partition_locator.h"
#include "tests/fixtures/disk_builders.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

using ReadRecord = sim::SimDisks::ReadRecord;

constexpr std::int64_t kPartition = 1 * kMiB;

// A disk holding the volume at kPartition and some room after it.
Bytes DiskWith(const Bytes& volume, std::uint64_t room = kMiB) {
  Bytes disk(kPartition + volume.size() + room, 0);
  Place(disk, kPartition, volume);
  return disk;
}

struct LabelRead {
  int result = -1;
  std::wstring label;
  std::vector<ReadRecord> reads;
};

enum class Reader { Any, Ntfs, Fat32 };

class VolumeLabelTest : public SimTest {
 protected:
  // Reads the label of the volume at offset on a fresh machine whose only disk
  // is `disk`; failNth > 0 makes the failNth operation after the open fail.
  LabelRead ReadOn(const Bytes& disk, std::int64_t offset, Reader reader = Reader::Any, int failNth = 0) {
    LabelRead out;
    sim::SimMachine m(root());
    m.Install();
    m.AddDiskBytes(disk);
    m.disks().RecordReads(true);
    {
      UniqueHandle h(Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE0", false));
      EXPECT_TRUE(h.valid());
      if (failNth > 0) m.faults().FailNth(static_cast<std::uint64_t>(failNth));
      wchar_t label[kVolumeLabelChars];
      std::wmemset(label, L'#', kVolumeLabelChars);
      label[kVolumeLabelChars - 1] = L'\0';
      switch (reader) {
        case Reader::Any: out.result = ReadVolumeLabel(h.get(), label, offset); break;
        case Reader::Ntfs: out.result = ReadNtfsVolumeLabel(h.get(), label, offset); break;
        case Reader::Fat32: out.result = ReadFat32VolumeLabel(h.get(), label, offset); break;
      }
      out.label = label;
    }
    out.reads = m.disks().reads();
    EXPECT_EQ(m.handles().OpenCount(), 0u);
    machine().Install();
    return out;
  }
};

// ---- NTFS --------------------------------------------------------------------

TEST_F(VolumeLabelTest, NtfsRecordSizeComesFromTheBootSector) {
  struct Case {
    const char* name;
    std::uint16_t bytesPerSector;
    std::uint8_t sectorsPerCluster;
    std::int8_t clustersPerRecord;
    std::uint32_t recordSize;  // what the boot sector means
  };
  const Case cases[] = {
      {"0xF6 is 2^10 bytes", 512, 8, -10, 1024},
      {"2 clusters of 4,096 bytes", 512, 8, 2, 8192},
      {"0xF4 is 2^12 bytes", 4096, 1, -12, 4096},
      {"1 cluster of 1,024 bytes", 512, 2, 1, 1024},
      {"0xF6 with 64 KiB clusters", 512, 128, -10, 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NtfsParams params;
    params.bytesPerSector = c.bytesPerSector;
    params.sectorsPerCluster = c.sectorsPerCluster;
    params.clustersPerRecord = c.clustersPerRecord;
    params.recordSize = c.recordSize;
    params.mftCluster = 2;
    params.label = u"Recovery";
    params.volumeBytes = 2 * kMiB;
    NtfsImage image = BuildNtfs(params);
    const std::uint64_t mft = 2ull * c.bytesPerSector * c.sectorsPerCluster;
    // Where a reader with another record size would find record 3.
    for (std::uint32_t other : {1024u, 4096u, 8192u}) {
      if (other != c.recordSize) PutNtfsDecoyRecord(image.bytes, mft + 3ull * other, other, u"Decoy");
    }
    LabelRead r = ReadOn(DiskWith(image.bytes), kPartition);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.label, L"Recovery");
    const std::vector<ReadRecord> want = {{0, kPartition, 512},
                                          {0, kPartition, 512},
                                          {0, kPartition + mft + 3ull * c.recordSize, c.recordSize}};
    EXPECT_EQ(r.reads, want);
  }
}

TEST_F(VolumeLabelTest, NtfsVolumeNameText) {
  struct Case {
    const char* name;
    std::u16string value;
    std::uint32_t extraValueBytes;  // value length beyond the text
    std::wstring label;
  };
  const Case cases[] = {
      {"plain", u"Recovery", 0, L"Recovery"},
      {"empty name", u"", 0, L""},
      {"non-ASCII", u"R\u00E9cup\u00E9ration", 0, L"R\u00E9cup\u00E9ration"},
      {"ends at the first zero character", std::u16string(u"Rec\0very", 8), 0, L"Rec"},
      {"odd length keeps whole characters", u"Recovery", 1, L"Recovery"},
      {"thirty-two characters", u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", 0, L"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NtfsParams params;
    params.label = c.value;
    NtfsImage image = BuildNtfs(params);
    if (c.extraValueBytes != 0) {
      const std::size_t at = image.recordOffset + image.nameAttribute + 0x10;
      PutLe32(image.bytes, at, GetLe32(image.bytes, at) + c.extraValueBytes);
    }
    LabelRead r = ReadOn(DiskWith(image.bytes), kPartition);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.label, c.label);
  }
}

TEST_F(VolumeLabelTest, NtfsLongestNameFillsTheWorkArea) {
  NtfsParams params;
  params.clustersPerRecord = -12;  // 4,096-byte records hold a 1,024-byte value
  params.recordSize = 4096;
  params.label = std::u16string(512, u'x');
  NtfsImage image = BuildNtfs(params);
  LabelRead r = ReadOn(DiskWith(image.bytes), kPartition);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.label, std::wstring(512, L'x'));
  // One more byte is longer than the work area: no label.
  PutLe32(image.bytes, image.recordOffset + image.nameAttribute + 0x10, 1025);
  EXPECT_EQ(ReadOn(DiskWith(image.bytes), kPartition).result, 4);
}

// ---- FAT32 -------------------------------------------------------------------

Fat32Params TwoClusterRoot(std::vector<DirEntry> first, std::vector<DirEntry> second) {
  Fat32Params params;
  params.rootChain = {2, 5};
  params.rootEntries = {std::move(first), std::move(second)};
  return params;
}

TEST_F(VolumeLabelTest, Fat32LabelEntryInTheRootDirectory) {
  const DirEntry file{"README  TXT", 0x20};
  const DirEntry dir{"WINDOWS    ", 0x10};
  const DirEntry longName{"BRecovery  ", 0x0F};
  struct Case {
    const char* name;
    Fat32Params params;
    int result;
    std::wstring label;
  };
  std::vector<DirEntry> manyFiles(16, file);  // fills the first 512-byte cluster
  const Case cases[] = {
      {"in the second of two clusters", TwoClusterRoot(manyFiles, {file, DirEntry{"RECOVERY   ", 0x08}}), 0,
       L"RECOVERY"},
      {"deleted label skipped",
       TwoClusterRoot({DirEntry{"\xE5" "ECOVERY   ", 0x08}, file}, {DirEntry{"DATA       ", 0x08}}), 0, L"DATA"},
      {"only a deleted label", TwoClusterRoot({DirEntry{"\xE5" "ECOVERY   ", 0x08}}, {file}), 4, L""},
      {"long-name entry never taken", TwoClusterRoot({longName, dir}, {DirEntry{"OTHER      ", 0x08}}), 0,
       L"OTHER"},
      {"only long-name entries", TwoClusterRoot({longName, longName}, {file}), 4, L""},
      {"label with archive bit is no label", TwoClusterRoot({DirEntry{"RECOVERY   ", 0x28}}, {file}), 4, L""},
      {"zero first byte does not end the scan",
       TwoClusterRoot({DirEntry{std::string("\0\0\0\0\0\0\0\0\0\0\0", 11), 0x00}, file},
                      {DirEntry{"RECOVERY   ", 0x08}}),
       0, L"RECOVERY"},
      {"trailing blanks trimmed", TwoClusterRoot({DirEntry{"RECOVERY   ", 0x08}}, {}), 0, L"RECOVERY"},
      {"inner blanks stay", TwoClusterRoot({DirEntry{"MY DISK    ", 0x08}}, {}), 0, L"MY DISK"},
      {"first byte never trimmed", TwoClusterRoot({DirEntry{"           ", 0x08}}, {}), 0, L" "},
      {"ANSI code page", TwoClusterRoot({DirEntry{"R\xC9" "CUP\xC9" "R    ", 0x08}}, {}), 0,
       L"R\u00C9CUP\u00C9R"},
      {"first label entry wins",
       TwoClusterRoot({DirEntry{"FIRST      ", 0x08}}, {DirEntry{"SECOND     ", 0x08}}), 0, L"FIRST"},
      {"no label at all", TwoClusterRoot({file, dir}, {file}), 4, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LabelRead r = ReadOn(DiskWith(BuildFat32(c.params).bytes), kPartition);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.label, c.label);
  }
}

TEST_F(VolumeLabelTest, Fat32ReadsSecondFatWholeThenOneClusterAtATime) {
  struct Case {
    const char* name;
    std::uint16_t bytesPerSector;
    std::uint8_t sectorsPerCluster;
    std::uint32_t sectorsPerFat;
  };
  const Case cases[] = {
      {"512-byte clusters", 512, 1, 1},
      {"4 KiB clusters, FAT of 3 sectors", 512, 8, 3},
      {"4 KiB sectors", 4096, 1, 1},
      {"64 KiB clusters", 512, 128, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fat32Params params = TwoClusterRoot({DirEntry{"README  TXT", 0x20}}, {DirEntry{"RECOVERY   ", 0x08}});
    params.bytesPerSector = c.bytesPerSector;
    params.sectorsPerCluster = c.sectorsPerCluster;
    params.sectorsPerFat = c.sectorsPerFat;
    params.dataClusters = 8;
    Fat32Image image = BuildFat32(params);
    // The first FAT says the root is one cluster long: only the second is read.
    PutLe32(image.bytes, image.fat1Offset + 2 * 4, 0x0FFFFFFF);
    LabelRead r = ReadOn(DiskWith(image.bytes), kPartition);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.label, L"RECOVERY");
    const std::uint32_t cluster = image.clusterBytes;
    const std::vector<ReadRecord> want = {
        {0, kPartition, 512},
        {0, kPartition, 512},
        {0, kPartition + image.fat2Offset, c.sectorsPerFat * c.bytesPerSector},
        {0, kPartition + image.ClusterOffset(2), cluster},
        {0, kPartition + image.ClusterOffset(5), cluster},
    };
    EXPECT_EQ(r.reads, want);
  }
}

// ---- Damaged structures --------------------------------------------------------

// Each case damages one field of a good volume. A value that the on-disk
// rules forbid gives 4 (no usable file system); a position past the end of the
// disk, or a read that fails or comes back short, gives 5.
TEST_F(VolumeLabelTest, DamagedStructuresStopAtTheEdgeOfWhatWasRead) {
  NtfsParams ntfsParams;
  ntfsParams.volumeBytes = 64 * 1024;
  const NtfsImage ntfs = BuildNtfs(ntfsParams);
  const std::size_t rec = ntfs.recordOffset;
  const std::size_t name = rec + ntfs.nameAttribute;

  Fat32Params fatParams = TwoClusterRoot({DirEntry{"README  TXT", 0x20}}, {DirEntry{"RECOVERY   ", 0x08}});
  const Fat32Image fat = BuildFat32(fatParams);
  const std::size_t fat2 = fat.fat2Offset;

  struct Case {
    const char* name;
    bool isNtfs;
    std::function<void(Bytes&)> damage;
    int result;
  };
  const Case cases[] = {
      // NTFS boot sector.
      {"NTFS bytes per sector 0", true, [](Bytes& v) { PutLe16(v, 0x0B, 0); }, 4},
      {"NTFS bytes per sector 768", true, [](Bytes& v) { PutLe16(v, 0x0B, 768); }, 4},
      {"NTFS bytes per sector 256", true, [](Bytes& v) { PutLe16(v, 0x0B, 256); }, 4},
      {"NTFS sectors per cluster 0", true, [](Bytes& v) { v[0x0D] = 0; }, 4},
      {"NTFS sectors per cluster 3", true, [](Bytes& v) { v[0x0D] = 3; }, 4},
      {"NTFS sectors per cluster 0xF4", true, [](Bytes& v) { v[0x0D] = 0xF4; }, 4},
      {"record size 0 clusters", true, [](Bytes& v) { v[0x40] = 0; }, 4},
      {"record size 2^-(-128)", true, [](Bytes& v) { v[0x40] = 0x80; }, 4},
      {"record size 2^31", true, [](Bytes& v) { v[0x40] = 0xE1; }, 4},
      {"record size 2^8 too small", true, [](Bytes& v) { v[0x40] = 0xF8; }, 4},
      {"record size 127 clusters", true, [](Bytes& v) { v[0x40] = 0x7F; }, 4},
      {"record size from a 32-bit value with high bytes set", true, [](Bytes& v) { PutLe32(v, 0x40, 0x01000001); }, 4},
      {"MFT cluster overflows the position", true, [](Bytes& v) { PutLe64(v, 0x30, 0xFFFFFFFFFFFFFFF0ull); }, 5},
      {"MFT beyond the disk", true, [](Bytes& v) { PutLe64(v, 0x30, 0x10000000); }, 5},
      // NTFS record 3.
      {"first attribute beyond the record", true, [rec](Bytes& v) { PutLe16(v, rec + 0x14, 0x400); }, 4},
      {"first attribute in the record's last bytes", true, [rec](Bytes& v) { PutLe16(v, rec + 0x14, 0x3FE); }, 4},
      {"attribute length 0", true, [rec](Bytes& v) { PutLe32(v, rec + 0x38 + 4, 0); }, 4},
      {"attribute length 8", true, [rec](Bytes& v) { PutLe32(v, rec + 0x38 + 4, 8); }, 4},
      {"attribute length past the record", true, [rec](Bytes& v) { PutLe32(v, rec + 0x38 + 4, 0x7FFFFFF0); }, 4},
      {"attribute length wraps 32 bits", true, [rec](Bytes& v) { PutLe32(v, rec + 0x38 + 4, 0xFFFFFFF8); }, 4},
      {"no end marker and no name", true,
       [rec, name](Bytes& v) {
         // Every attribute from the name on becomes a chain of 0x18-byte ones
         // up to the end of the record.
         for (std::size_t at = name; at + 0x18 <= rec + 1024; at += 0x18) {
           PutLe32(v, at, 0x80);
           PutLe32(v, at + 4, 0x18);
         }
       },
       4},
      {"end marker before the name", true, [rec](Bytes& v) { PutLe32(v, rec + 0x38, 0xFFFFFFFF); }, 4},
      {"name value longer than the work area", true, [name](Bytes& v) { PutLe32(v, name + 0x10, 1026); }, 4},
      {"name value past the record", true, [name, rec](Bytes& v) {
         PutLe32(v, name + 0x10, static_cast<std::uint32_t>(rec + 1024 - (name + 0x18) + 2));
       }, 4},
      {"name value length 2^32-2", true, [name](Bytes& v) { PutLe32(v, name + 0x10, 0xFFFFFFFE); }, 4},
      // FAT32 boot sector.
      {"FAT bytes per sector 0", false, [](Bytes& v) { PutLe16(v, 0x0B, 0); }, 4},
      {"FAT bytes per sector 1000", false, [](Bytes& v) { PutLe16(v, 0x0B, 1000); }, 4},
      {"FAT sectors per cluster 0", false, [](Bytes& v) { v[0x0D] = 0; }, 4},
      {"FAT sectors per cluster 6", false, [](Bytes& v) { v[0x0D] = 6; }, 4},
      {"sectors per FAT 0", false, [](Bytes& v) { PutLe32(v, 0x24, 0); }, 4},
      {"FAT larger than 1 GiB", false, [](Bytes& v) { PutLe32(v, 0x24, 0x00200001); }, 4},
      {"FAT of 1 GiB beyond the disk", false, [](Bytes& v) { PutLe32(v, 0x24, 0x00200000); }, 5},
      {"FAT running over the disk's end", false, [](Bytes& v) { PutLe32(v, 0x24, 0x00001000); }, 5},
      {"reserved sectors push the FAT off the disk", false, [](Bytes& v) { PutLe16(v, 0x0E, 0xFFFF); }, 5},
      {"root cluster 0", false, [](Bytes& v) { PutLe32(v, 0x2C, 0); }, 4},
      {"root cluster 1", false, [](Bytes& v) { PutLe32(v, 0x2C, 1); }, 4},
      {"root cluster outside the FAT", false, [](Bytes& v) { PutLe32(v, 0x2C, 128); }, 4},
      {"root cluster 0x0FFFFFFF", false, [](Bytes& v) { PutLe32(v, 0x2C, 0x0FFFFFFF); }, 4},
      // FAT32 chain.
      {"chain loops back", false, [fat2](Bytes& v) { PutLe32(v, fat2 + 5 * 4, 2); }, 4},
      {"cluster points at itself", false, [fat2](Bytes& v) { PutLe32(v, fat2 + 2 * 4, 2); }, 4},
      {"chain leads to entry 0", false, [fat2](Bytes& v) { PutLe32(v, fat2 + 5 * 4, 0); }, 4},
      {"chain leads to entry 1", false, [fat2](Bytes& v) { PutLe32(v, fat2 + 5 * 4, 1); }, 4},
      {"chain leads to a cluster past the disk", false,
       [fat2](Bytes& v) {
         PutLe32(v, fat2 + 2 * 4, 120);
         PutLe32(v, fat2 + 120 * 4, 0x0FFFFFFF);
       },
       5},
      {"chain ends on a value beyond the FAT (top bits unmasked)", false,
       [fat2](Bytes& v) { PutLe32(v, fat2 + 2 * 4, 0xF0000005); }, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes volume = c.isNtfs ? ntfs.bytes : fat.bytes;
    c.damage(volume);
    // Little room after the volume, so that positions past it leave the disk.
    LabelRead r = ReadOn(DiskWith(volume, 4096), kPartition);
    EXPECT_EQ(r.result, c.result);
    if (c.result != 0) {
      EXPECT_EQ(r.label, L"");
    }
  }
}

TEST_F(VolumeLabelTest, ArgumentsSignaturesAndFailedReads) {
  const Bytes ntfsDisk = DiskWith(BuildNtfs(NtfsParams{}).bytes);
  const Bytes fatDisk = DiskWith(BuildFat32(Fat32Params{}).bytes);
  Bytes both = ntfsDisk;
  std::memcpy(&both[kPartition + 82], "FAT32   ", 8);
  Bytes neither = ntfsDisk;
  std::memcpy(&neither[kPartition + 3], "NTFS   X", 8);
  struct Case {
    const char* name;
    const Bytes* disk;
    std::int64_t offset;
    Reader reader;
    int failNth;
    int result;
    const wchar_t* label;
  };
  const Case cases[] = {
      {"NTFS", &ntfsDisk, kPartition, Reader::Any, 0, 0, L"Recovery"},
      {"FAT32", &fatDisk, kPartition, Reader::Any, 0, 0, L"RECOVERY"},
      {"NTFS mark wins over the FAT32 mark", &both, kPartition, Reader::Any, 0, 0, L"Recovery"},
      {"no mark", &neither, kPartition, Reader::Any, 0, 4, L""},
      {"zeroed sectors", &ntfsDisk, 0, Reader::Any, 0, 4, L""},
      {"negative offset", &ntfsDisk, -512, Reader::Any, 0, 5, L""},
      {"offset past the disk", &ntfsDisk, 64 * static_cast<std::int64_t>(kMiB), Reader::Any, 0, 5, L""},
      // The disk's geometry is asked first, for its sector size; without an
      // answer its sectors are taken to be 512 bytes.
      {"geometry fails", &ntfsDisk, kPartition, Reader::Any, 1, 0, L"Recovery"},
      {"first read fails", &ntfsDisk, kPartition, Reader::Any, 2, 5, L""},
      {"NTFS boot sector read again fails", &ntfsDisk, kPartition, Reader::Any, 3, 5, L""},
      {"NTFS record read fails", &ntfsDisk, kPartition, Reader::Any, 4, 5, L""},
      {"FAT read fails", &fatDisk, kPartition, Reader::Any, 4, 5, L""},
      {"root cluster read fails", &fatDisk, kPartition, Reader::Any, 5, 5, L""},
      {"NTFS reader on FAT32", &fatDisk, kPartition, Reader::Ntfs, 0, 4, L""},
      {"FAT32 reader on NTFS", &ntfsDisk, kPartition, Reader::Fat32, 0, 4, L""},
      {"NTFS reader alone", &ntfsDisk, kPartition, Reader::Ntfs, 0, 0, L"Recovery"},
      {"FAT32 reader alone", &fatDisk, kPartition, Reader::Fat32, 0, 0, L"RECOVERY"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LabelRead r = ReadOn(*c.disk, c.offset, c.reader, c.failNth);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.label, c.label);
  }
  machine().AddDiskBytes(ntfsDisk);
  wchar_t label[kVolumeLabelChars];
  EXPECT_EQ(ReadVolumeLabel(nullptr, label, kPartition), 1);
  EXPECT_EQ(ReadVolumeLabel(kInvalidHandle, label, kPartition), 1);
  EXPECT_EQ(ReadNtfsVolumeLabel(nullptr, label, kPartition), 1);
  EXPECT_EQ(ReadFat32VolumeLabel(kInvalidHandle, label, kPartition), 1);
  UniqueHandle disk(Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE0", false));
  EXPECT_EQ(ReadVolumeLabel(disk.get(), nullptr, kPartition), 1);
}

}  // namespace
}  // namespace tavu::test
