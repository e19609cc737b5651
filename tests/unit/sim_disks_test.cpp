// The simulated disks answer as Windows does: layouts read from MBR and GPT
// images (with Windows' validation and fallback), layout writes that touch
// only what they must, reads of whole sectors, media and bus types, gaps.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>

#include "common/disk_api.h"
#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/win_errors.h"
#include "tests/fixtures/disk_builders.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

constexpr std::uint64_t kDiskSectors = 8 * kMiB / kSector;

Bytes NotebookGpt(std::uint64_t hiddenAttributes = 0xC000000000000000ull) {
  return GptBuilder(kDiskSectors)
      .Add(kEfiSystemType, 2048, 1024, 0, u"EFI system partition")
      .Add(kMsReservedType, 3072, 1024, 0, u"Microsoft reserved partition")
      .Add(kBasicDataType, 4096, 4096, 0, u"Basic data partition")
      .Add(kBasicDataType, 8192, 2048, hiddenAttributes, u"Data")
      .Add(kRecoveryType, 10240, 4096, 0x8000000000000001ull, u"Recovery")
      .Build();
}

class SimDisksTest : public SimTest {
 protected:
  DiskApi& disks() { return *Sys().disks; }
  UniqueHandle Open(int n, bool write = false) {
    wchar_t name[32];
    PhysicalDriveName(n, name);
    return UniqueHandle(disks().OpenDisk(name, write));
  }
  // The layout of disk n through the seam, in a buffer of `entries` entries.
  std::vector<std::uint8_t> Layout(int n, std::size_t entries = 128) {
    std::vector<std::uint8_t> buffer(DriveLayoutSize(entries), 0xCC);
    UniqueHandle disk = Open(n);
    EXPECT_TRUE(disk.valid());
    EXPECT_TRUE(disks().GetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
    return buffer;
  }
  static const DRIVE_LAYOUT_INFORMATION_EX* View(const std::vector<std::uint8_t>& b) {
    return reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(b.data());
  }
  void TearDown() override {
    EXPECT_EQ(machine().handles().OpenCount(), 0u);
    EXPECT_EQ(machine().handles().Misuses(), 0u);
  }
};

TEST_F(SimDisksTest, GptLayoutPresentsEveryUsedEntryInTableOrder) {
  machine().AddDiskBytes(GptBuilder(kDiskSectors)
                             .Add(kEfiSystemType, 2048, 2048)
                             .SkipSlot()
                             .Add(kBasicDataType, 6144, 4096, 0xC000000000000000ull, u"Data")
                             .Add(kRecoveryType, 10240, 8192, 1)
                             .Build());
  auto buffer = Layout(0);
  const auto* layout = View(buffer);
  EXPECT_EQ(layout->PartitionStyle, PARTITION_STYLE_GPT);
  ASSERT_EQ(layout->PartitionCount, 3u);
  EXPECT_EQ(layout->Gpt.MaxPartitionCount, 128u);
  EXPECT_EQ(layout->Gpt.StartingUsableOffset, 34 * 512);
  EXPECT_EQ(layout->Gpt.UsableLength, static_cast<std::int64_t>((kDiskSectors - 34 - 34 + 1) * 512));
  EXPECT_EQ(layout->Gpt.DiskId.Data1, 0x44332211u);

  struct Want {
    std::uint32_t number;
    std::int64_t offset;
    std::int64_t length;
    const Guid16* type;
    std::uint64_t attributes;
  };
  const Want want[] = {{1, 2048 * 512, 2048 * 512, &kEfiSystemType, 0},
                       {2, 6144 * 512, 4096 * 512, &kBasicDataType, 0xC000000000000000ull},
                       {3, 10240 * 512, 8192 * 512, &kRecoveryType, 1}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const PARTITION_INFORMATION_EX& e = *LayoutEntry(layout, i);
    EXPECT_EQ(e.PartitionStyle, PARTITION_STYLE_GPT);
    EXPECT_EQ(e.PartitionNumber, want[i].number);
    EXPECT_EQ(e.StartingOffset, want[i].offset);
    EXPECT_EQ(e.PartitionLength, want[i].length);
    EXPECT_EQ(std::memcmp(&e.Gpt.PartitionType, want[i].type->data(), 16), 0);
    EXPECT_EQ(e.Gpt.Attributes, want[i].attributes);
  }
  const PARTITION_INFORMATION_EX& data = *LayoutEntry(layout, 1);
  EXPECT_EQ(data.Gpt.Name[0], u'D');
  EXPECT_EQ(data.Gpt.Name[3], u'a');
  EXPECT_EQ(data.Gpt.Name[4], 0);
}

// Windows validates the primary header and its array, and reads the backup
// when the primary is damaged; with both damaged the disk is RAW.
TEST_F(SimDisksTest, GptDamageFallsBackToBackupThenRaw) {
  const Bytes good = NotebookGpt();
  const std::uint64_t backupLba = kDiskSectors - 1;
  struct Case {
    const char* name;
    void (*damage)(Bytes&, std::uint64_t backupLba);
    std::uint32_t style;
    std::uint32_t count;
  };
  const Case cases[] = {
      {"intact", [](Bytes&, std::uint64_t) {}, PARTITION_STYLE_GPT, 5},
      {"primary signature", [](Bytes& d, std::uint64_t) { d[512] = 'X'; }, PARTITION_STYLE_GPT, 5},
      {"primary header CRC", [](Bytes& d, std::uint64_t) { d[512 + 16] ^= 1; }, PARTITION_STYLE_GPT, 5},
      {"primary field without CRC fix", [](Bytes& d, std::uint64_t) { d[512 + 40] ^= 1; },
       PARTITION_STYLE_GPT, 5},
      {"primary entries CRC", [](Bytes& d, std::uint64_t) { d[2 * 512 + 48] ^= 1; }, PARTITION_STYLE_GPT, 5},
      {"primary claims another LBA",
       [](Bytes& d, std::uint64_t) {
         PutLe64(d, 512 + 24, 7);
         FixGptCrcs(d, 1);
       },
       PARTITION_STYLE_GPT, 5},
      {"primary header size too small",
       [](Bytes& d, std::uint64_t) {
         PutLe32(d, 512 + 12, 91);
         FixGptCrcs(d, 1);
       },
       PARTITION_STYLE_GPT, 5},
      {"primary entry size not a multiple of 8",
       [](Bytes& d, std::uint64_t) {
         PutLe32(d, 512 + 84, 130);
         FixGptCrcs(d, 1);
       },
       PARTITION_STYLE_GPT, 5},
      {"both headers",
       [](Bytes& d, std::uint64_t b) {
         d[512 + 16] ^= 1;
         d[b * 512 + 16] ^= 1;
       },
       PARTITION_STYLE_RAW, 0},
      {"no protective entry",
       [](Bytes& d, std::uint64_t) { d[446 + 4] = 0; },
       PARTITION_STYLE_MBR, 4},
      {"no boot signature", [](Bytes& d, std::uint64_t) { d[510] = 0; }, PARTITION_STYLE_RAW, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes disk = good;
    c.damage(disk, backupLba);
    sim::SimMachine m(root());
    m.Install();
    m.AddDiskBytes(disk);
    std::vector<std::uint8_t> buffer(DriveLayoutSize(128));
    wchar_t name[32];
    PhysicalDriveName(0, name);
    UniqueHandle h(Sys().disks->OpenDisk(name, false));
    ASSERT_TRUE(Sys().disks->GetLayout(h.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
    EXPECT_EQ(View(buffer)->PartitionStyle, c.style);
    EXPECT_EQ(View(buffer)->PartitionCount, c.count);
    if (c.style == PARTITION_STYLE_GPT) {
      EXPECT_EQ(LayoutEntry(View(buffer), 4)->StartingOffset, 10240 * 512);
    }
    h.reset();
    machine().Install();
  }
}

TEST_F(SimDisksTest, LayoutThatDoesNotFitFailsWithInsufficientBuffer) {
  machine().AddDiskBytes(NotebookGpt());
  UniqueHandle disk = Open(0);
  std::vector<std::uint8_t> buffer(DriveLayoutSize(5));
  EXPECT_FALSE(disks().GetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(DriveLayoutSize(4))));
  EXPECT_EQ(Sys().system->LastError(), kErrorInsufficientBuffer);
  EXPECT_TRUE(disks().GetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(DriveLayoutSize(5))));
}

TEST_F(SimDisksTest, MbrLayoutHasFourPrimarySlotsThenFourPerLogicalTable) {
  machine().AddDiskBytes(MbrBuilder(kDiskSectors)
                             .Primary(0, 0x07, 2048, 512, true)
                             .Primary(1, 0x0F, 3000, 6000)
                             .Primary(3, 0x1C, 10000, 2000)
                             .Logical(0x0C, 3000, 1000)
                             .Logical(0x27, 5000, 800)
                             .Build());
  auto buffer = Layout(0);
  const auto* layout = View(buffer);
  EXPECT_EQ(layout->PartitionStyle, PARTITION_STYLE_MBR);
  EXPECT_EQ(layout->Mbr.Signature, 0x0D15EA5Eu);
  ASSERT_EQ(layout->PartitionCount, 12u);
  struct Want {
    std::uint8_t type;
    std::uint32_t number;
    std::int64_t offset;
    std::uint8_t recognized;
    std::uint8_t boot;
  };
  const Want want[12] = {
      {0x07, 1, 2048ll * 512, 1, 1},  {0x0F, 0, 3000ll * 512, 0, 0}, {0, 0, 0, 0, 0},
      {0x1C, 2, 10000ll * 512, 0, 0},  // primaries, numbered before logicals
      {0x0C, 3, 5048ll * 512, 1, 0},  {0x05, 0, 5000ll * 512, 0, 0}, {0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0},                 // first logical table: partition and link
      {0x27, 4, 7048ll * 512, 0, 0},  {0, 0, 0, 0, 0},               {0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0}};
  for (std::size_t i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    const PARTITION_INFORMATION_EX& e = *LayoutEntry(layout, i);
    EXPECT_EQ(e.PartitionStyle, PARTITION_STYLE_MBR);
    EXPECT_EQ(e.Mbr.PartitionType, want[i].type);
    EXPECT_EQ(e.PartitionNumber, want[i].number);
    EXPECT_EQ(e.StartingOffset, want[i].offset);
    EXPECT_EQ(e.Mbr.RecognizedPartition, want[i].recognized);
    EXPECT_EQ(e.Mbr.BootIndicator, want[i].boot);
  }
}

TEST_F(SimDisksTest, DamagedMbrStructures) {
  struct Case {
    const char* name;
    Bytes disk;
    std::uint32_t style;
    std::uint32_t count;
  };
  Bytes badBoot = MbrBuilder(kDiskSectors).Primary(0, 0x07, 2048, 2048).Build();
  badBoot[446] = 0x12;
  Bytes loop = MbrBuilder(kDiskSectors)
                   .Primary(0, 0x05, 4096, 8000)
                   .Logical(0x07, 4096, 1000)
                   .Logical(0x07, 8192, 1000)
                   .Build();
  // The second logical table links back to the first.
  PutLe32(loop, 8192 * 512 + 446 + 16 + 4 - 4, 0);
  loop[8192 * 512 + 446 + 16 + 4] = 0x05;
  PutLe32(loop, 8192 * 512 + 446 + 16 + 8, 0);
  PutLe32(loop, 8192 * 512 + 446 + 16 + 12, 3000);
  Bytes unsignedEbr = MbrBuilder(kDiskSectors).Primary(0, 0x05, 4096, 8000).Logical(0x07, 4096, 1000).Build();
  unsignedEbr[4096 * 512 + 510] = 0;
  Bytes linkOutside = MbrBuilder(kDiskSectors)
                          .Primary(0, 0x05, 4096, 8000)
                          .Logical(0x07, 4096, 1000)
                          .Logical(0x07, 8192, 1000)
                          .Build();
  PutLe32(linkOutside, 4096 * 512 + 446 + 16 + 8, 0x7FFFFFFF);
  Case cases[] = {
      {"boot indicator neither 0 nor 0x80", badBoot, PARTITION_STYLE_RAW, 0},
      {"logical chain that loops stops at the loop", loop, PARTITION_STYLE_MBR, 12},
      {"logical table without signature is not read", unsignedEbr, PARTITION_STYLE_MBR, 4},
      {"link beyond the disk ends the chain", linkOutside, PARTITION_STYLE_MBR, 8},
      {"empty disk", Bytes(kDiskSectors * kSector, 0), PARTITION_STYLE_RAW, 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine m(root());
    m.Install();
    m.AddDiskBytes(c.disk);
    sim::SimLayout layout = m.disks().Layout(0);
    EXPECT_EQ(layout.style, c.style);
    EXPECT_EQ(layout.entries.size(), c.count);
    machine().Install();
  }
}

// Offsets of every byte that differs between two images.
std::set<std::uint64_t> Differences(const Bytes& a, const Bytes& b) {
  std::set<std::uint64_t> out;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) out.insert(i);
  }
  return out;
}

Bytes ImageNow(const sim::DiskImage& image) {
  Bytes now(static_cast<std::size_t>(image.size()));
  EXPECT_TRUE(image.Read(0, now.data(), now.size()));
  return now;
}

bool Within(std::uint64_t at, std::uint64_t from, std::uint64_t length) { return at >= from && at < from + length; }

// The patcher clears attributes and writes the layout back: Windows rewrites
// the entry arrays, their CRCs and both headers, and nothing else.
TEST_F(SimDisksTest, GptLayoutWriteChangesOnlyAttributesAndCrcs) {
  const Bytes before = NotebookGpt();
  machine().AddDiskBytes(before);
  auto buffer = Layout(0);
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
  LayoutEntry(layout, 3)->Gpt.Attributes = 0;
  UniqueHandle disk = Open(0, true);
  ASSERT_TRUE(disks().SetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));

  const Bytes after = ImageNow(*machine().disks().Image(0));
  const std::uint64_t backupHeader = (kDiskSectors - 1) * 512;
  const std::uint64_t backupArray = (kDiskSectors - 33) * 512;
  const std::uint64_t attributes = 3 * 128 + 48;
  std::set<std::uint64_t> diff = Differences(before, after);
  // The hidden and no-letter bits live in the attribute's top byte.
  EXPECT_EQ(diff.count(2 * 512 + attributes + 7), 1u);
  EXPECT_EQ(diff.count(backupArray + attributes + 7), 1u);
  for (std::uint64_t at : diff) {
    SCOPED_TRACE(at);
    bool allowed = Within(at, 2 * 512 + attributes, 8) || Within(at, backupArray + attributes, 8) ||
                   Within(at, 512 + 16, 4) || Within(at, 512 + 88, 4) || Within(at, backupHeader + 16, 4) ||
                   Within(at, backupHeader + 88, 4);
    EXPECT_TRUE(allowed);
  }
  // Both tables are valid again, with the new attributes.
  sim::SimLayout reread = machine().disks().Layout(0);
  EXPECT_EQ(reread.source, sim::GptSource::Primary);
  EXPECT_TRUE(reread.primary.valid);
  EXPECT_TRUE(reread.backup.valid);
  EXPECT_EQ(reread.entries.at(3).Gpt.Attributes, 0u);
  EXPECT_EQ(GetLe32(after, 512 + 88), Crc32(&after[2 * 512], 128 * 128));
  EXPECT_EQ(GetLe32(after, backupHeader + 88), Crc32(&after[backupArray], 128 * 128));
}

TEST_F(SimDisksTest, GptLayoutWriteUnchangedLeavesImageAsItWas) {
  const Bytes before = NotebookGpt(0);
  machine().AddDiskBytes(before);
  auto buffer = Layout(0);
  UniqueHandle disk = Open(0, true);
  ASSERT_TRUE(disks().SetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
  EXPECT_TRUE(Differences(before, ImageNow(*machine().disks().Image(0))).empty());
}

TEST_F(SimDisksTest, GptLayoutWriteRepairsDamagedPrimaryFromBackup) {
  Bytes damaged = NotebookGpt();
  std::memset(&damaged[512], 0, 512);
  machine().AddDiskBytes(damaged);
  ASSERT_EQ(machine().disks().Layout(0).source, sim::GptSource::Backup);
  auto buffer = Layout(0);
  UniqueHandle disk = Open(0, true);
  ASSERT_TRUE(disks().SetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
  sim::SimLayout reread = machine().disks().Layout(0);
  EXPECT_EQ(reread.source, sim::GptSource::Primary);
  EXPECT_TRUE(reread.backup.valid);
  // The rebuilt primary is the good one in its own place.
  const Bytes after = ImageNow(*machine().disks().Image(0));
  const Bytes reference = NotebookGpt();
  EXPECT_TRUE(std::equal(after.begin() + 512, after.begin() + 1024, reference.begin() + 512));
}

TEST_F(SimDisksTest, MbrLayoutWriteChangesTypeAndActiveFlagOnly) {
  const Bytes before = MbrBuilder(kDiskSectors).Primary(0, 0x07, 2048, 2048, true).Primary(1, 0x1C, 4096, 2048).Build();
  machine().AddDiskBytes(before);
  auto buffer = Layout(0);
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
  LayoutEntry(layout, 0)->Mbr.BootIndicator = 0;
  LayoutEntry(layout, 1)->Mbr.PartitionType = 0x0C;
  LayoutEntry(layout, 1)->Mbr.BootIndicator = 1;
  LayoutEntry(layout, 1)->RewritePartition = 1;
  UniqueHandle disk = Open(0, true);
  ASSERT_TRUE(disks().SetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
  const Bytes after = ImageNow(*machine().disks().Image(0));
  EXPECT_EQ(Differences(before, after), (std::set<std::uint64_t>{446, 462, 466}));
  EXPECT_EQ(after[446], 0x00);
  EXPECT_EQ(after[462], 0x80);
  EXPECT_EQ(after[466], 0x0C);
}

TEST_F(SimDisksTest, LayoutWritesThatCannotBeApplied) {
  machine().AddDiskBytes(MbrBuilder(kDiskSectors).Primary(0, 0x1C, 2048, 2048).Build());
  machine().AddDiskBytes(NotebookGpt());
  machine().AddDiskBytes(Bytes(kDiskSectors * kSector, 0));
  struct Case {
    const char* name;
    int disk;
    bool writeAccess;
    void (*change)(DRIVE_LAYOUT_INFORMATION_EX*);
    std::uint32_t error;
  };
  const Case cases[] = {
      {"read-only handle", 0, false, [](DRIVE_LAYOUT_INFORMATION_EX*) {}, kErrorAccessDenied},
      {"MBR partition moved", 0, true,
       [](DRIVE_LAYOUT_INFORMATION_EX* l) { LayoutEntry(l, 0)->StartingOffset += 512; }, kErrorInvalidParameter},
      {"MBR partition created in an empty slot", 0, true,
       [](DRIVE_LAYOUT_INFORMATION_EX* l) { LayoutEntry(l, 2)->Mbr.PartitionType = 0x07; },
       kErrorInvalidParameter},
      {"MBR entries dropped", 0, true, [](DRIVE_LAYOUT_INFORMATION_EX* l) { l->PartitionCount = 3; },
       kErrorInvalidParameter},
      {"style changed", 1, true, [](DRIVE_LAYOUT_INFORMATION_EX* l) { l->PartitionStyle = PARTITION_STYLE_MBR; },
       kErrorNotSupported},
      {"GPT entry of unaligned length", 1, true,
       [](DRIVE_LAYOUT_INFORMATION_EX* l) { LayoutEntry(l, 0)->PartitionLength += 1; }, kErrorInvalidParameter},
      {"more entries than the table holds", 1, true,
       [](DRIVE_LAYOUT_INFORMATION_EX* l) { l->PartitionCount = 129; }, kErrorInvalidParameter},
      {"RAW disk", 2, true, [](DRIVE_LAYOUT_INFORMATION_EX*) {}, kErrorNotSupported},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> buffer(DriveLayoutSize(200), 0);
    UniqueHandle disk = Open(c.disk, c.writeAccess);
    ASSERT_TRUE(disks().GetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
    auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
    c.change(layout);
    const Bytes before = ImageNow(*machine().disks().Image(c.disk));
    EXPECT_FALSE(disks().SetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
    EXPECT_EQ(Sys().system->LastError(), c.error);
    EXPECT_TRUE(Differences(before, ImageNow(*machine().disks().Image(c.disk))).empty());
  }
  EXPECT_TRUE(machine().disks().layoutWrites().empty());
}

TEST_F(SimDisksTest, ImageFileIsUntouchedUnlessWritingThrough) {
  const Bytes before = NotebookGpt();
  // Bytes in memory that machines share (a sweep's hundreds of runs) are never written either.
  const auto shared = std::make_shared<const Bytes>(before);
  for (bool through : {false, true}) {
    SCOPED_TRACE(through);
    const std::string path = root() + (through ? "/through.img" : "/copy.img");
    WriteHostFile(path, before);
    sim::SimMachine m(root());
    m.Install();
    m.disks().SetWriteThrough(through);
    ASSERT_TRUE(m.AddDisk(path, sim::DiskKind::Fixed));
    m.AddSharedDisk(shared);
    std::vector<std::uint8_t> buffer(DriveLayoutSize(128));
    for (const wchar_t* drive : {L"\\\\.\\PHYSICALDRIVE0", L"\\\\.\\PHYSICALDRIVE1"}) {
      UniqueHandle disk(Sys().disks->OpenDisk(drive, true));
      ASSERT_TRUE(Sys().disks->GetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
      LayoutEntry(reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data()), 3)->Gpt.Attributes = 0;
      ASSERT_TRUE(Sys().disks->SetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
    }
    const std::string file = ReadHostFile(path);
    EXPECT_EQ(file == std::string(before.begin(), before.end()), !through);
    EXPECT_TRUE(*shared == before);
    // Either way the machine itself sees the change.
    EXPECT_EQ(m.disks().Layout(0).entries.at(3).Gpt.Attributes, 0u);
    EXPECT_EQ(m.disks().Layout(1).entries.at(3).Gpt.Attributes, 0u);
    machine().Install();
  }
}

TEST_F(SimDisksTest, DiskKindsAnswerMediaAndBusType) {
  machine().AddDiskBytes(NotebookGpt(), sim::DiskKind::Fixed);
  machine().AddDiskBytes(NotebookGpt(), sim::DiskKind::Usb);
  machine().AddDiskBytes(NotebookGpt(), sim::DiskKind::Removable);
  struct Want {
    std::uint32_t media;
    std::uint8_t bus;
  };
  const Want want[] = {{12, 11}, {12, 7}, {11, 11}};
  for (int n = 0; n < 3; ++n) {
    SCOPED_TRACE(n);
    UniqueHandle disk = Open(n);
    DISK_GEOMETRY geometry{};
    ASSERT_TRUE(disks().GetGeometry(disk.get(), &geometry));
    EXPECT_EQ(geometry.MediaType, want[n].media);
    EXPECT_EQ(geometry.BytesPerSector, 512u);
    STORAGE_PROPERTY_QUERY query{StorageAdapterProperty, PropertyStandardQuery, {0}};
    std::uint8_t answer[1024];
    std::memset(answer, 0xCC, sizeof(answer));
    ASSERT_TRUE(disks().QueryProperty(disk.get(), &query, answer, sizeof(answer)));
    EXPECT_EQ(answer[24], want[n].bus);
  }
}

TEST_F(SimDisksTest, DiskNamesAndGaps) {
  machine().AddDiskBytes(NotebookGpt());
  machine().AddAbsent();
  machine().AddDiskBytes(NotebookGpt());
  struct Case {
    const wchar_t* name;
    bool opens;
  };
  const Case cases[] = {
      {L"\\\\.\\PHYSICALDRIVE0", true},  {L"\\\\.\\physicaldrive0", true}, {L"\\\\.\\PHYSICALDRIVE1", false},
      {L"\\\\.\\PHYSICALDRIVE2", true},  {L"\\\\.\\PHYSICALDRIVE3", false}, {L"\\\\.\\PHYSICALDRIVE:", false},
      {L"\\\\.\\PHYSICALDRIVE", false},  {L"PHYSICALDRIVE0", false},        {L"\\\\.\\PHYSICALDRIVE0x", false},
      {L"\\\\.\\PHYSICALDRIVE00", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    UniqueHandle disk(disks().OpenDisk(c.name, false));
    EXPECT_EQ(disk.valid(), c.opens);
    if (!c.opens) {
      EXPECT_EQ(Sys().system->LastError(), kErrorFileNotFound);
    }
  }
}

TEST_F(SimDisksTest, ReadsAreWholeSectorsWithinTheDisk) {
  machine().AddDiskBytes(NotebookGpt());
  UniqueHandle disk = Open(0);
  const std::uint64_t end = kDiskSectors * 512;
  struct Case {
    std::uint64_t offset;
    std::uint32_t size;
    bool ok;
    std::uint32_t read;
    std::uint32_t error;
  };
  const Case cases[] = {
      {0, 512, true, 512, 0},
      {512, 1024, true, 1024, 0},
      {1, 512, false, 0, kErrorInvalidParameter},
      {0, 100, false, 0, kErrorInvalidParameter},
      {end - 512, 1024, true, 512, 0},  // runs over the end: the bytes up to it
      {end, 512, false, 0, kErrorSectorNotFound},
      {0x8000000000000000ull, 512, false, 0, kErrorInvalidParameter},
  };
  std::vector<std::uint8_t> buffer(4096);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    std::uint32_t read = 99;
    EXPECT_EQ(disks().ReadAt(disk.get(), c.offset, buffer.data(), c.size, &read), c.ok);
    EXPECT_EQ(read, c.read);
    if (!c.ok) {
      EXPECT_EQ(Sys().system->LastError(), c.error);
    }
  }
  std::uint32_t read = 0;
  ASSERT_TRUE(disks().ReadAt(disk.get(), 512, buffer.data(), 512, &read));
  EXPECT_EQ(std::memcmp(buffer.data(), "EFI PART", 8), 0);
}

TEST_F(SimDisksTest, EveryOperationCanBeMadeToFail) {
  machine().AddDiskBytes(NotebookGpt());
  struct Case {
    sim::SimOp op;
    bool (*run)(DiskApi&, Handle);
  };
  const Case cases[] = {
      {sim::SimOp::DiskGeometry, [](DiskApi& d, Handle h) { DISK_GEOMETRY g; return d.GetGeometry(h, &g); }},
      {sim::SimOp::DiskLayoutQuery,
       [](DiskApi& d, Handle h) {
         std::vector<std::uint8_t> b(DriveLayoutSize(128));
         return d.GetLayout(h, b.data(), static_cast<std::uint32_t>(b.size()));
       }},
      {sim::SimOp::DiskRead,
       [](DiskApi& d, Handle h) {
         std::uint8_t b[512];
         std::uint32_t r;
         return d.ReadAt(h, 0, b, 512, &r);
       }},
      {sim::SimOp::AdapterQuery,
       [](DiskApi& d, Handle h) {
         STORAGE_PROPERTY_QUERY q{StorageAdapterProperty, PropertyStandardQuery, {0}};
         std::uint8_t a[64];
         return d.QueryProperty(h, &q, a, sizeof(a));
       }},
  };
  for (const Case& c : cases) {
    UniqueHandle disk = Open(0, true);
    EXPECT_TRUE(c.run(disks(), disk.get()));
    machine().faults().FailAll(c.op);
    EXPECT_FALSE(c.run(disks(), disk.get()));
    machine().faults().FailAll(c.op, false);
  }
  machine().faults().FailAll(sim::SimOp::DiskOpen);
  EXPECT_FALSE(Open(0).valid());
}

}  // namespace
}  // namespace tavu::test
