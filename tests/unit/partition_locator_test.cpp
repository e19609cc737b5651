// The locator on simulated machines: which disk and partition it reports, the
// order it searches in, where it stops, and what it reads.
#include <gtest/gtest.h>

#include <functional>

#include "common/disk_api.h"
#include "common/unique_handle.h"
#include "common/volume_api.h"
#include "launcher/arming/partition_locator.h"
#include "tests/fixtures/disk_builders.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

constexpr std::uint64_t kDiskSectors = 8 * kMiB / kSector;

struct Disk {
  Bytes bytes;  // empty: an absent disk (a gap in the numbering)
  sim::DiskKind kind = sim::DiskKind::Fixed;
};

Disk Absent() { return Disk{{}, sim::DiskKind::Absent}; }

Bytes Ntfs(const std::u16string& label) {
  NtfsParams params;
  params.label = label;
  return BuildNtfs(params).bytes;
}

// A volume the locator must find through Windows' own answer for its label
// (GetVolumeInformationW) holds FAT32: the simulated Windows reads labels with
// the library that reads file systems in images, which does not take the NTFS
// built here byte by byte. The launcher's raw reader reads both.
Bytes Fat32(const std::string& label11) {
  Fat32Params params;
  params.rootEntries = {{DirEntry{label11, 0x08}}};
  return BuildFat32(params).bytes;
}

// An MBR disk with up to four primaries of 1,024 sectors at 2048, 3072, ...,
// each holding the given file system (or none).
Disk Mbr(std::vector<std::pair<std::uint8_t, Bytes>> parts, sim::DiskKind kind = sim::DiskKind::Fixed) {
  MbrBuilder b(kDiskSectors);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    b.Primary(static_cast<int>(i), parts[i].first, static_cast<std::uint32_t>(2048 + 1024 * i), 1024);
  }
  Bytes disk = b.Build();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (!parts[i].second.empty()) Place(disk, (2048 + 1024 * i) * kSector, parts[i].second);
  }
  return Disk{disk, kind};
}

struct GptPart {
  Guid16 type;
  Bytes fs;
  std::uint64_t attributes = 0;
};

// A GPT disk with partitions of 1,024 sectors at 2048, 3072, ...
Disk Gpt(std::vector<GptPart> parts, sim::DiskKind kind = sim::DiskKind::Fixed) {
  GptBuilder b(kDiskSectors);
  for (std::size_t i = 0; i < parts.size(); ++i) b.Add(parts[i].type, 2048 + 1024 * i, 1024, parts[i].attributes);
  Bytes disk = b.Build();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (!parts[i].fs.empty()) Place(disk, (2048 + 1024 * i) * kSector, parts[i].fs);
  }
  return Disk{disk, kind};
}

std::int64_t PartOffset(int index) { return (2048 + 1024 * index) * static_cast<std::int64_t>(kSector); }

class LocatorTest : public SimTest {
 protected:
  void Machine(const std::vector<Disk>& disks) {
    for (const Disk& d : disks) {
      if (d.kind == sim::DiskKind::Absent) {
        machine().AddAbsent();
      } else {
        machine().AddDiskBytes(d.bytes, d.kind);
      }
    }
  }
  // A fresh machine for one case of a table.
  template <class Fn>
  void OnMachine(const std::vector<Disk>& disks, Fn fn) {
    sim::SimMachine m(root());
    m.Install();
    for (const Disk& d : disks) {
      if (d.kind == sim::DiskKind::Absent) {
        m.AddAbsent();
      } else {
        m.AddDiskBytes(d.bytes, d.kind);
      }
    }
    fn(m);
    EXPECT_EQ(m.handles().OpenCount(), 0u);
    EXPECT_EQ(m.handles().Misuses(), 0u);
    machine().Install();
  }
  void TearDown() override {
    EXPECT_EQ(machine().handles().OpenCount(), 0u);
    EXPECT_EQ(machine().handles().Misuses(), 0u);
  }
};

TEST_F(LocatorTest, FindRecoveryPartitionSearchOrderAndMarkers) {
  const Bytes none;
  struct Case {
    const char* name;
    std::vector<Disk> disks;
    int result;
    std::int32_t disk;
    std::int32_t partition;
  };
  Bytes logical = MbrBuilder(kDiskSectors)
                      .Primary(0, 0x07, 2048, 1024)
                      .Primary(1, 0x0F, 4096, 8000)
                      .Logical(0x07, 4096, 500)
                      .Logical(0x1C, 6500, 500)
                      .Build();
  Guid16 almost = kRecoveryType;
  almost[15] ^= 0x01;
  Guid16 almostFirst = kRecoveryType;
  almostFirst[0] ^= 0x80;
  const Case cases[] = {
      {"disk 1 after an unmarked disk 0", {Mbr({{0x07, none}}), Mbr({{0x07, none}, {0x1C, none}})}, 0, 1, 2},
      {"type 0x1B marks too", {Mbr({{0x0B, none}, {0x1B, none}})}, 0, 0, 2},
      {"removable disk 0 with a marker is passed over",
       {Mbr({{0x1C, none}}, sim::DiskKind::Removable), Mbr({{0x07, none}, {0x07, none}, {0x1B, none}})}, 0, 1, 3},
      {"a USB disk reporting fixed media is passed over",
       {Mbr({{0x1C, none}}, sim::DiskKind::Usb), Mbr({{0x07, none}, {0x1B, none}})}, 0, 1, 2},
      {"a USB disk alone holds no marker", {Mbr({{0x1C, none}}, sim::DiskKind::Usb)}, 4, 0, 0},
      {"a gap at disk 1 hides disk 2", {Mbr({{0x07, none}}), Absent(), Mbr({{0x1C, none}})}, 4, 0, 0},
      {"no marker anywhere",
       {Mbr({{0x07, none}, {0x0C, none}, {0x27, none}, {0x17, none}}), Mbr({{0x0B, none}})}, 4, 0, 0},
      {"no disk at all", {}, 4, 0, 0},
      {"disk 0 absent", {Absent(), Mbr({{0x1C, none}})}, 4, 0, 0},
      {"GPT recovery type", {Gpt({{kEfiSystemType, none}, {kBasicDataType, none}, {kRecoveryType, none}})}, 0, 0, 3},
      {"GPT type differing in the last byte", {Gpt({{kBasicDataType, none}, {almost, none}})}, 4, 0, 0},
      {"GPT type differing in the first byte", {Gpt({{almostFirst, none}})}, 4, 0, 0},
      {"GPT basic data labelled Recovery is no marker", {Gpt({{kBasicDataType, Ntfs(u"Recovery")}})}, 4, 0, 0},
      {"first marker in layout order wins", {Mbr({{0x07, none}, {0x1B, none}, {0x1C, none}})}, 0, 0, 2},
      {"lowest disk wins", {Gpt({{kRecoveryType, none}}), Mbr({{0x1C, none}})}, 0, 0, 1},
      {"RAW disk 0 holds nothing", {Disk{Bytes(kDiskSectors * kSector, 0)}, Mbr({{0x1C, none}})}, 0, 1, 1},
      {"logical partition in an extended one", {Disk{logical}}, 0, 0, 3},
      {"partition numbers, not positions", {Mbr({{0x05, none}, {0x07, none}, {0x1C, none}})}, 0, 0, 2},
  };
  std::vector<Disk> ten(9, Mbr({{0x07, none}}));
  ten.push_back(Mbr({{0x1C, none}}));
  std::vector<Disk> eleven(10, Mbr({{0x07, none}}));
  eleven.push_back(Mbr({{0x1C, none}}));
  const Case named[] = {
      {"disk 9 is searched", ten, 0, 9, 1},
      {"disk 10 cannot be named", eleven, 4, 0, 0},
  };
  std::vector<const Case*> all;
  for (const Case& c : cases) all.push_back(&c);
  for (const Case& c : named) all.push_back(&c);
  for (const Case* each : all) {
    const Case& c = *each;
    SCOPED_TRACE(c.name);
    OnMachine(c.disks, [&](sim::SimMachine& m) {
      m.disks().RecordReads(true);
      std::int32_t partition = -7;
      std::int32_t disk = -7;
      EXPECT_EQ(FindRecoveryPartition(&partition, &disk), c.result);
      EXPECT_EQ(disk, c.disk);
      EXPECT_EQ(partition, c.partition);
      // The partition table is all it looks at.
      EXPECT_TRUE(m.disks().reads().empty());
    });
  }
}

TEST_F(LocatorTest, MediaTypeThatCannotBeReadIsSearchedLikeFixed) {
  Machine({Mbr({{0x1C, {}}}, sim::DiskKind::Removable), Mbr({{0x1B, {}}})});
  machine().faults().FailAll(sim::SimOp::DiskGeometry);
  std::int32_t partition = 0;
  std::int32_t disk = 0;
  EXPECT_EQ(FindRecoveryPartition(&partition, &disk), 0);
  EXPECT_EQ(disk, 0);
  EXPECT_EQ(partition, 1);
}

TEST_F(LocatorTest, LayoutQueryFailureEndsTheSearch) {
  struct Case {
    const char* name;
    std::uint64_t failLayoutNth;  // which layout query fails (1-based)
  };
  const Case cases[] = {{"on disk 0", 1}, {"on disk 1 after an unmarked disk 0", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnMachine({Mbr({{0x07, {}}}), Mbr({{0x07, {}}}), Mbr({{0x1C, {}}})}, [&](sim::SimMachine& m) {
      // Operations per disk: open, geometry, adapter, layout.
      m.faults().FailNth(4 * c.failLayoutNth);
      std::int32_t partition = -1;
      std::int32_t disk = -1;
      EXPECT_EQ(FindRecoveryPartition(&partition, &disk), 5);
      sim::SimOp op{};
      ASSERT_TRUE(m.faults().Injected(&op));
      EXPECT_EQ(op, sim::SimOp::DiskLayoutQuery);
      EXPECT_EQ(partition, 0);
      EXPECT_EQ(disk, 0);
      // Disk 2 was never opened: nothing was counted after the failure.
      EXPECT_EQ(m.faults().Count(), 4 * c.failLayoutNth);
    });
  }
  std::int32_t one = 0;
  EXPECT_EQ(FindRecoveryPartition(nullptr, &one), 1);
  EXPECT_EQ(FindRecoveryPartition(&one, nullptr), 1);
}

TEST_F(LocatorTest, QueryPartitionStyle) {
  Machine({Mbr({{0x1C, {}}}), Gpt({{kRecoveryType, {}}}), Disk{Bytes(kDiskSectors * kSector, 0)}, Absent(),
           Mbr({{0x07, {}}})});
  struct Case {
    std::int32_t disk;
    int style;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {2, 5}, {3, 5}, {4, 0}, {-1, 5}, {10, 5}, {5, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.disk);
    EXPECT_EQ(QueryPartitionStyle(c.disk), c.style);
  }
  machine().faults().FailAll(sim::SimOp::DiskLayoutQuery);
  EXPECT_EQ(QueryPartitionStyle(0), 5);
  EXPECT_EQ(QueryPartitionStyle(1), 5);
}

struct VolumeCase {
  const char* name;
  std::vector<Disk> disks;
  std::function<void(sim::SimMachine&)> setup;
  int result;
  std::int32_t disk;
  std::int32_t partition;
  const wchar_t* root;
};

TEST_F(LocatorTest, FindRecoveryVolumeScenarios) {
  const Bytes none;
  auto noSetup = [](sim::SimMachine&) {};
  const std::vector<VolumeCase> cases = {
      {"MBR FAT32 labelled RECOVERY, lettered at start", {Mbr({{0x07, Ntfs(u"Windows")}, {0x0C, Fat32("RECOVERY   ")}})},
       noSetup, 0, 0, 2, L"D:\\"},
      {"still hidden (0x1C) is skipped", {Mbr({{0x07, Ntfs(u"Windows")}, {0x1C, Fat32("RECOVERY   ")}})}, noSetup, 4,
       0, 0, L""},
      {"0x1B is skipped too", {Mbr({{0x1B, Ntfs(u"Recovery")}})}, noSetup, 4, 0, 0, L""},
      {"unrecognized type is skipped", {Mbr({{0x27, Ntfs(u"Recovery")}})}, noSetup, 4, 0, 0, L""},
      {"label compared without case", {Mbr({{0x07, Fat32("rEcOvErY   ")}})}, noSetup, 0, 0, 1, L"C:\\"},
      {"label must match whole", {Mbr({{0x07, Ntfs(u"Recovery1")}, {0x07, Ntfs(u"Recover")}})}, noSetup, 4, 0, 0, L""},
      {"GPT: every entry looked at, recovery volume has no letter",
       {Gpt({{kEfiSystemType, Fat32("SYSTEM     ")}, {kMsReservedType, none}, {kBasicDataType, Ntfs(u"Windows")},
             {kRecoveryType, Ntfs(u"Recovery")}})},
       noSetup, 0, 0, 4, L""},
      {"GPT: a labelled partition of another type is found",
       {Gpt({{kBasicDataType, Ntfs(u"Windows")}, {kBasicDataType, Fat32("RECOVERY   ")}})}, noSetup, 0, 0, 2, L"D:\\"},
      {"removable and USB disks are passed over",
       {Mbr({{0x0C, Fat32("RECOVERY   ")}}, sim::DiskKind::Removable), Mbr({{0x0C, Fat32("RECOVERY   ")}}, sim::DiskKind::Usb),
        Mbr({{0x07, Fat32("RECOVERY   ")}})},
       noSetup, 0, 2, 1, L"C:\\"},  // the first fixed disk's type 0x07 volume is C:, the sticks follow
      {"first labelled in disk order", {Mbr({{0x07, Ntfs(u"Data")}}), Mbr({{0x07, Fat32("RECOVERY   ")}}),
                                        Mbr({{0x0C, Fat32("RECOVERY   ")}})},
       noSetup, 0, 1, 1, L"D:\\"},
      {"gap ends the search", {Mbr({{0x07, Ntfs(u"Data")}}), Absent(), Mbr({{0x07, Ntfs(u"Recovery")}})}, noSetup, 4,
       0, 0, L""},
      {"unreadable label is not the one",
       {Mbr({{0x07, none}, {0x07, Fat32("RECOVERY   ")}})}, noSetup, 0, 0, 2, L"D:\\"},
      {"label found but no mounted volume",
       {Mbr({{0x07, Ntfs(u"Recovery")}})},
       [](sim::SimMachine& m) { m.volumes().RemoveLetter(L'C'); }, 0, 0, 1, L""},
      {"a Recovery volume at another offset of the same disk is not taken",
       {Gpt({{kBasicDataType, Ntfs(u"Windows")}, {kRecoveryType, Ntfs(u"Recovery")}})},
       [](sim::SimMachine& m) {
         m.volumes().AddForeignVolume(L'R', L"Recovery", {DISK_EXTENT{0, PartOffset(0), 1024 * 512}});
       },
       0, 0, 2, L""},
      {"a Recovery volume on another disk at the same offset is not taken",
       {Gpt({{kBasicDataType, Ntfs(u"Windows")}, {kRecoveryType, Ntfs(u"Recovery")}})},
       [](sim::SimMachine& m) {
         m.volumes().AddForeignVolume(L'R', L"Recovery", {DISK_EXTENT{1, PartOffset(1), 1024 * 512}});
       },
       0, 0, 2, L""},
      {"the matching extent may be any of a volume's extents",
       {Gpt({{kBasicDataType, Ntfs(u"Windows")}, {kRecoveryType, Ntfs(u"Recovery")}})},
       [](sim::SimMachine& m) {
         m.volumes().AddForeignVolume(L'R', L"RECOVERY",
                                      {DISK_EXTENT{3, 0, 512}, DISK_EXTENT{0, PartOffset(1), 512}});
       },
       0, 0, 2, L"R:\\"},
  };
  for (const VolumeCase& c : cases) {
    SCOPED_TRACE(c.name);
    OnMachine(c.disks, [&](sim::SimMachine& m) {
      c.setup(m);
      std::int32_t disk = 77;
      std::int32_t partition = 77;
      wchar_t root[260] = L"junk";
      EXPECT_EQ(FindRecoveryVolume(&disk, &partition, root), c.result);
      EXPECT_EQ(disk, c.disk);
      EXPECT_EQ(partition, c.partition);
      EXPECT_EQ(std::wstring(root), c.root);
    });
  }
}

// The worker's second search: only the partition at that disk and offset.
TEST_F(LocatorTest, FindRecoveryVolumeAtLooksOnlyWhereTheFirstSearchFound) {
  struct {
    const char* what;
    std::vector<Disk> disks;
    std::int32_t disk;
    std::int64_t offset;
    int result;
    std::int32_t partition;
  } cases[] = {
      {"the labelled partition at the offset",
       {Gpt({{kBasicDataType, Ntfs(u"Windows")}, {kRecoveryType, Ntfs(u"Recovery")}})}, 0, PartOffset(1), 0, 2},
      {"another partition at that offset is not labelled Recovery",
       {Gpt({{kBasicDataType, Ntfs(u"Windows")}, {kRecoveryType, Ntfs(u"Recovery")}})}, 0, PartOffset(0), 4, 0},
      {"no partition starts at the offset",
       {Gpt({{kBasicDataType, Ntfs(u"Windows")}, {kRecoveryType, Ntfs(u"Recovery")}})}, 0, PartOffset(1) + 512, 4,
       0},
      {"a RECOVERY stick on an earlier disk is not looked at",
       {Mbr({{0x0C, Fat32("RECOVERY   ")}}, sim::DiskKind::Usb),
        Mbr({{0x07, Ntfs(u"Windows")}, {0x0C, Fat32("RECOVERY   ")}})},
       1, PartOffset(1), 0, 2},
      {"the same offset on a disk the walk passes over",
       {Mbr({{0x0C, Fat32("RECOVERY   ")}}, sim::DiskKind::Removable)}, 0, PartOffset(0), 4, 0},
      {"still hidden", {Mbr({{0x07, Ntfs(u"Windows")}, {0x1C, Fat32("RECOVERY   ")}})}, 0, PartOffset(1), 4, 0},
      {"no such disk", {Mbr({{0x0C, Fat32("RECOVERY   ")}})}, 1, PartOffset(0), 4, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    OnMachine(c.disks, [&](sim::SimMachine&) {
      std::int32_t partition = 77;
      wchar_t root[260] = L"junk";
      EXPECT_EQ(FindRecoveryVolumeAt(c.disk, c.offset, &partition, root), c.result);
      EXPECT_EQ(partition, c.partition);
      if (c.result != 0) {
        EXPECT_EQ(std::wstring(root), L"");
      }
    });
  }
}

// The worker's MBR route: the hidden partition is found by its marker, made
// type 0x0C by a layout write (as diskpart does), mounted by Windows at the
// first free letter, and then found by its label.
TEST_F(LocatorTest, MbrRouteFindsTheUnhiddenVolumeAtItsNewLetter) {
  Machine({Mbr({{0x07, Ntfs(u"Windows")}, {0x07, Ntfs(u"Data")}, {0x1C, Fat32("RECOVERY   ")}})});
  std::int32_t partition = 0;
  std::int32_t disk = 0;
  ASSERT_EQ(FindRecoveryPartition(&partition, &disk), 0);
  ASSERT_EQ(partition, 3);
  ASSERT_EQ(QueryPartitionStyle(disk), 0);
  {
    UniqueHandle h(Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE0", true));
    std::vector<std::uint8_t> buffer(DriveLayoutSize(128));
    ASSERT_TRUE(Sys().disks->GetLayout(h.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
    auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
    LayoutEntry(layout, 2)->Mbr.PartitionType = 0x0C;
    LayoutEntry(layout, 2)->Mbr.BootIndicator = 1;
    ASSERT_TRUE(Sys().disks->SetLayout(h.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
  }
  // The volume, and the letter Windows gives it, arrive a moment later.
  machine().Settle();
  machine().disks().RecordReads(true);
  wchar_t root[260];
  EXPECT_EQ(FindRecoveryVolume(&disk, &partition, root), 0);
  EXPECT_EQ(disk, 0);
  EXPECT_EQ(partition, 3);
  EXPECT_EQ(std::wstring(root), L"E:\\");
  // Two NTFS volumes read (boot sector twice, one record), then the FAT32 one
  // (boot sector twice, the second FAT, the root cluster).
  using R = sim::SimDisks::ReadRecord;
  const std::uint64_t p1 = PartOffset(0), p2 = PartOffset(1), p3 = PartOffset(2);
  const std::uint64_t record3 = 4 * 4096 + 3 * 1024;
  const std::vector<R> want = {{0, p1, 512}, {0, p1, 512}, {0, p1 + record3, 1024},
                               {0, p2, 512}, {0, p2, 512}, {0, p2 + record3, 1024},
                               {0, p3, 512}, {0, p3, 512}, {0, p3 + 33 * 512, 512},
                               {0, p3 + 34 * 512, 512}};
  EXPECT_EQ(machine().disks().reads(), want);
}

TEST_F(LocatorTest, FindRecoveryVolumeFailures) {
  Machine({Mbr({{0x07, Ntfs(u"Data")}}), Mbr({{0x07, Ntfs(u"Recovery")}})});
  std::int32_t disk = 9;
  std::int32_t partition = 9;
  wchar_t root[260] = L"junk";
  // Operations before disk 1's layout query: open, geometry, adapter, layout,
  // the label reader's geometry (for the sector size) and 3 reads on disk 0,
  // then the open, geometry and adapter of disk 1.
  machine().faults().FailNth(12);
  EXPECT_EQ(FindRecoveryVolume(&disk, &partition, root), 5);
  sim::SimOp op{};
  ASSERT_TRUE(machine().faults().Injected(&op));
  EXPECT_EQ(op, sim::SimOp::DiskLayoutQuery);
  EXPECT_EQ(disk, 0);
  EXPECT_EQ(partition, 0);
  EXPECT_EQ(std::wstring(root), L"");
  EXPECT_EQ(FindRecoveryVolume(nullptr, &partition, root), 1);
  EXPECT_EQ(FindRecoveryVolume(&disk, nullptr, root), 1);
  EXPECT_EQ(FindRecoveryVolume(&disk, &partition, nullptr), 1);
}

TEST_F(LocatorTest, FindVolumeRootOverTheDriveList) {
  // Windows (C:), the recovery partition (no letter), and a basic-data
  // partition without a file system (D:, its label cannot be read).
  const Disk gpt = Gpt({{kBasicDataType, Ntfs(u"Windows")}, {kRecoveryType, Fat32("RECOVERY   ")}, {kBasicDataType, {}}});
  const std::int64_t recovery = PartOffset(1);
  auto mountRecovery = [](sim::SimMachine& m, const wchar_t* root) {
    std::wstring name = m.volumes().VolumeOf(0, PartOffset(1)).name;
    ASSERT_TRUE(Sys().volumes->SetMountPoint(root, name.c_str()));
  };
  auto fillLetters = [](sim::SimMachine& m, wchar_t from, wchar_t to) {
    for (wchar_t c = from; c <= to; ++c) m.volumes().AddForeignVolume(c, L"Other", {DISK_EXTENT{5, 0, 512}});
  };
  struct Case {
    const char* name;
    std::function<void(sim::SimMachine&)> setup;
    std::int32_t disk;
    int result;
    const wchar_t* root;
  };
  const Case cases[] = {
      {"mounted at E:", [&](sim::SimMachine& m) { mountRecovery(m, L"E:\\"); }, 0, 0, L"E:\\"},
      {"mounted at A:", [&](sim::SimMachine& m) { mountRecovery(m, L"A:\\"); }, 0, 0, L"A:\\"},
      {"not mounted", [](sim::SimMachine&) {}, 0, 4, L""},
      {"other disk number", [&](sim::SimMachine& m) { mountRecovery(m, L"E:\\"); }, 1, 4, L""},
      {"25 letters in use, the last is it",
       [&](sim::SimMachine& m) {
         fillLetters(m, L'A', L'B');
         fillLetters(m, L'D', L'X');
         mountRecovery(m, L"Y:\\");
       },
       0, 0, L"Y:\\"},
      {"all 26 letters in use: the list does not fit",
       [&](sim::SimMachine& m) {
         fillLetters(m, L'A', L'B');
         fillLetters(m, L'D', L'Y');
         mountRecovery(m, L"Z:\\");
       },
       0, 5, L""},
      {"drive list fails", [&](sim::SimMachine& m) {
         mountRecovery(m, L"E:\\");
         m.faults().FailAll(sim::SimOp::DriveStrings);
       }, 0, 5, L""},
      {"extents query fails",
       [&](sim::SimMachine& m) {
         mountRecovery(m, L"E:\\");
         m.faults().FailAll(sim::SimOp::VolumeExtents);
       },
       0, 5, L""},
      {"volume without extents ends the search",
       [](sim::SimMachine& m) { m.volumes().AddForeignVolume(L'K', L"Recovery", {}); }, 0, 5, L""},
      {"volume that cannot be opened is skipped",
       [&](sim::SimMachine& m) {
         mountRecovery(m, L"E:\\");
         m.faults().FailAll(sim::SimOp::VolumeOpen);
       },
       0, 4, L""},
      {"a root whose label cannot be read is skipped", [&](sim::SimMachine& m) { mountRecovery(m, L"E:\\"); }, 0,
       0, L"E:\\"},
      {"no label can be read",
       [&](sim::SimMachine& m) {
         mountRecovery(m, L"E:\\");
         m.faults().FailAll(sim::SimOp::VolumeInfo);
       },
       0, 4, L""},
      {"first matching root in letter order",
       [&](sim::SimMachine& m) {
         mountRecovery(m, L"P:\\");
         m.volumes().AddForeignVolume(L'G', L"recovery", {DISK_EXTENT{0, PartOffset(1), 4096}});
       },
       0, 0, L"G:\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnMachine({gpt}, [&](sim::SimMachine& m) {
      c.setup(m);
      wchar_t root[260] = L"junk";
      EXPECT_EQ(FindVolumeRoot(c.disk, root, recovery), c.result);
      EXPECT_EQ(std::wstring(root), c.root);
    });
  }
}

}  // namespace
}  // namespace tavu::test
