// The simulated Windows presents volumes and letters for its disks as the
// machine description says, and answers the volume calls with Windows' records
// and error codes.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <functional>
#include <set>

#include "common/system_api.h"
#include "common/unique_handle.h"
#include "common/volume_api.h"
#include "common/win_errors.h"
#include "sim/images/recovery_volume.h"
#include "tests/fixtures/disk_builders.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

constexpr std::uint64_t kDiskSectors = 8 * kMiB / kSector;

Bytes LabelledNtfs(const std::u16string& label) {
  NtfsParams params;
  params.label = label;
  return BuildNtfs(params).bytes;
}

Bytes LabelledFat32(const std::string& label11) {
  Fat32Params params;
  params.rootEntries = {{DirEntry{label11, 0x08}}};
  return BuildFat32(params).bytes;
}

// EFI, reserved, Windows (C:), a data partition hidden by a downgrade, one with
// only "no drive letter", and the recovery partition.
Bytes NotebookGpt() {
  Bytes disk = GptBuilder(kDiskSectors)
                   .Add(kEfiSystemType, 2048, 512)
                   .Add(kMsReservedType, 2560, 512)
                   .Add(kBasicDataType, 3072, 2048)
                   .Add(kBasicDataType, 5120, 1024, 0xC000000000000000ull)
                   .Add(kBasicDataType, 6144, 1024, 0x8000000000000000ull)
                   .Add(kRecoveryType, 7168, 1024, 0x8000000000000001ull)
                   .Build();
  Place(disk, 3072ull * 512, LabelledNtfs(u"Windows"));
  Place(disk, 5120ull * 512, LabelledNtfs(u"Data"));
  Place(disk, 7168ull * 512, LabelledNtfs(u"Recovery"));
  return disk;
}

class SimVolumesTest : public SimTest {
 protected:
  VolumeApi& volumes() { return *Sys().volumes; }
  sim::SimVolumes& simVolumes() { return machine().volumes(); }
  std::wstring Letters() {
    std::wstring out;
    for (const auto& v : simVolumes().Volumes()) out += v.letter == 0 ? L'-' : v.letter;
    return out;
  }
  void TearDown() override {
    EXPECT_EQ(machine().handles().OpenCount(), 0u);
    EXPECT_EQ(machine().handles().Misuses(), 0u);
  }
};

TEST_F(SimVolumesTest, GptPresentationAndLettersAtMachineStart) {
  machine().AddDiskBytes(NotebookGpt());
  const auto list = simVolumes().Volumes();
  // Reserved and the hidden data partition are not presented.
  ASSERT_EQ(list.size(), 4u);
  const std::int64_t offsets[] = {2048 * 512, 3072 * 512, 6144 * 512, 7168 * 512};
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(list[i].offset, offsets[i]);
  // Only the basic-data volume without bits 63 and 62 gets a letter.
  EXPECT_EQ(Letters(), L"-C--");
}

TEST_F(SimVolumesTest, MbrPresentationAndLettersInDiskOrder) {
  Bytes mbr = MbrBuilder(kDiskSectors)
                  .Primary(0, 0x07, 2048, 1024)
                  .Primary(1, 0x1C, 3072, 1024)
                  .Primary(2, 0x27, 4096, 1024)
                  .Primary(3, 0x0F, 5120, 3000)
                  .Logical(0x0B, 5120, 500)
                  .Logical(0x17, 6000, 500)
                  .Build();
  Bytes second = MbrBuilder(kDiskSectors).Primary(0, 0x06, 2048, 1024).Primary(1, 0x0E, 3072, 1024).Build();
  machine().AddDiskBytes(mbr);
  machine().AddAbsent();
  machine().AddDiskBytes(second, sim::DiskKind::Usb);
  const auto list = simVolumes().Volumes();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].disk, 0);
  EXPECT_EQ(list[1].offset, (5120 + 2048) * 512);  // the logical FAT32 one
  EXPECT_EQ(list[2].disk, 2);
  EXPECT_EQ(Letters(), L"CDEF");
}

// C: is the volume Windows runs from, on the first fixed disk off the USB
// bus, even when a stick was given first; the rest follow from D: in disk order.
TEST_F(SimVolumesTest, WindowsVolumeIsCWhateverTheDiskOrder) {
  machine().AddDiskBytes(MbrBuilder(kDiskSectors).Primary(0, 0x0C, 2048, 1024).Build(), sim::DiskKind::Usb);
  machine().AddDiskBytes(MbrBuilder(kDiskSectors).Primary(0, 0x07, 2048, 1024).Primary(1, 0x07, 3072, 1024).Build());
  EXPECT_EQ(Letters(), L"DCE");
}

TEST_F(SimVolumesTest, LayoutWritePresentsVolumesByStyle) {
  // At once, and lettered only where automatic mounting is on.
  simVolumes().SetArrivalMilliseconds(0);
  simVolumes().SetAutomount(false);
  machine().AddDiskBytes(NotebookGpt());
  machine().AddDiskBytes(MbrBuilder(kDiskSectors).Primary(0, 0x07, 2048, 1024).Primary(1, 0x1C, 3072, 1024).Build());
  ASSERT_EQ(Letters(), L"-C--D");
  std::vector<std::uint8_t> buffer(DriveLayoutSize(128));
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
  {
    // GPT: clearing the hidden bits presents the volume, without a letter.
    UniqueHandle disk(Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE0", true));
    ASSERT_TRUE(Sys().disks->GetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
    LayoutEntry(layout, 3)->Gpt.Attributes = 0;
    ASSERT_TRUE(Sys().disks->SetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
  }
  sim::SimVolumes::Info data = simVolumes().VolumeOf(0, 5120 * 512);
  ASSERT_FALSE(data.name.empty());
  EXPECT_EQ(data.letter, 0);
  simVolumes().SetAutomount(true);
  {
    // MBR: type 0x0C is presented at once and mounted at the first free letter.
    UniqueHandle disk(Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE1", true));
    ASSERT_TRUE(Sys().disks->GetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
    LayoutEntry(layout, 1)->Mbr.PartitionType = 0x0C;
    ASSERT_TRUE(Sys().disks->SetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
  }
  EXPECT_EQ(simVolumes().VolumeOf(1, 3072 * 512).letter, L'E');
  {
    // And hiding it again takes the volume and its letter away.
    UniqueHandle disk(Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE1", true));
    ASSERT_TRUE(Sys().disks->GetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
    LayoutEntry(layout, 1)->Mbr.PartitionType = 0x1C;
    ASSERT_TRUE(Sys().disks->SetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
  }
  EXPECT_TRUE(simVolumes().VolumeOf(1, 3072 * 512).name.empty());
}

TEST_F(SimVolumesTest, VolumeNamesHaveWindowsFormAndStayStable) {
  machine().AddDiskBytes(NotebookGpt());
  machine().AddDiskBytes(MbrBuilder(kDiskSectors).Primary(0, 0x07, 2048, 1024).Build());
  machine().AddDiskBytes(NotebookGpt());  // the same image twice
  const auto list = simVolumes().Volumes();
  std::set<std::wstring> names;
  for (const auto& v : list) {
    EXPECT_EQ(v.name.size(), 49u);
    EXPECT_EQ(v.name.rfind(L"\\\\?\\Volume{", 0), 0u);
    EXPECT_EQ(v.name.back(), L'\\');
    names.insert(v.name);
  }
  EXPECT_EQ(names.size(), list.size());
  // A GPT volume carries its partition's unique GUID (the builder's slot 2 id).
  EXPECT_EQ(simVolumes().VolumeOf(0, 3072 * 512).name, L"\\\\?\\Volume{54524150-0012-4000-8000-5eed00000003}\\");
  // Another machine on the same images names the volumes the same.
  sim::SimMachine again(root());
  again.AddDiskBytes(NotebookGpt());
  again.AddDiskBytes(MbrBuilder(kDiskSectors).Primary(0, 0x07, 2048, 1024).Build());
  again.AddDiskBytes(NotebookGpt());
  const auto list2 = again.volumes().Volumes();
  ASSERT_EQ(list2.size(), list.size());
  for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list2[i].name, list[i].name);
}

TEST_F(SimVolumesTest, EnumerationListsEveryVolumeOnce) {
  machine().AddDiskBytes(NotebookGpt());
  simVolumes().AddForeignVolume(L'X', L"Card", {}, false);
  wchar_t name[260];
  std::vector<std::wstring> seen;
  Handle search = volumes().FirstVolume(name, 260);
  ASSERT_TRUE(IsValidHandle(search));
  do {
    seen.emplace_back(name);
  } while (volumes().NextVolume(search, name, 260));
  EXPECT_EQ(Sys().system->LastError(), kErrorNoMoreFiles);
  EXPECT_TRUE(volumes().CloseVolumeSearch(search));
  EXPECT_EQ(seen.size(), 4u);
  // A buffer too small for a name.
  EXPECT_FALSE(IsValidHandle(volumes().FirstVolume(name, 49)));
  EXPECT_EQ(Sys().system->LastError(), kErrorFilenameExcedRange);
}

// A search lists the volumes there were when it started, while later searches
// list the ones that came since, in table order.
TEST_F(SimVolumesTest, SearchesListTheVolumesOfTheirStart) {
  simVolumes().SetArrivalMilliseconds(0);
  machine().AddDiskBytes(NotebookGpt());
  auto walk = [&](Handle search, wchar_t* name) {
    std::vector<std::wstring> seen{name};
    while (volumes().NextVolume(search, name, 260)) seen.emplace_back(name);
    return seen;
  };
  wchar_t first[260];
  Handle before = volumes().FirstVolume(first, 260);
  ASSERT_TRUE(IsValidHandle(before));
  {
    std::vector<std::uint8_t> buffer(DriveLayoutSize(128));
    UniqueHandle disk(Sys().disks->OpenDisk(L"\\\\.\\PHYSICALDRIVE0", true));
    ASSERT_TRUE(Sys().disks->GetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
    LayoutEntry(reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data()), 3)->Gpt.Attributes = 0;
    ASSERT_TRUE(Sys().disks->SetLayout(disk.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())));
  }
  const std::wstring shown = simVolumes().VolumeOf(0, 5120 * 512).name;
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(walk(before, first).size(), 4u);
  EXPECT_TRUE(volumes().CloseVolumeSearch(before));
  wchar_t name[260];
  Handle after = volumes().FirstVolume(name, 260);
  ASSERT_TRUE(IsValidHandle(after));
  std::vector<std::wstring> seen = walk(after, name);
  EXPECT_TRUE(volumes().CloseVolumeSearch(after));
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen.back(), shown);
  // With no search open, a volume that comes joins the end of the next list.
  const std::wstring card = simVolumes().AddForeignVolume(L'X', L"Card", {});
  Handle later = volumes().FirstVolume(name, 260);
  ASSERT_TRUE(IsValidHandle(later));
  seen = walk(later, name);
  EXPECT_TRUE(volumes().CloseVolumeSearch(later));
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen.back(), card);
}

TEST_F(SimVolumesTest, OpenVolumeAndExtents) {
  machine().AddDiskBytes(NotebookGpt());
  const std::wstring name = simVolumes().VolumeOf(0, 3072 * 512).name;
  const std::wstring device = name.substr(0, name.size() - 1);
  struct Case {
    std::wstring path;
    bool opens;
  };
  const Case cases[] = {{L"\\\\.\\C:", true},   {L"\\\\.\\c:", true},   {device, true},
                        {L"\\\\.\\D:", false},  {name, false},          {L"\\\\.\\C:\\", false},
                        {L"C:", false},         {L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.path));
    UniqueHandle volume(volumes().OpenVolume(c.path.c_str(), false));
    EXPECT_EQ(volume.valid(), c.opens);
    if (!volume) continue;
    alignas(8) std::uint8_t buffer[VolumeExtentsSize(4)];
    ASSERT_TRUE(volumes().GetExtents(volume.get(), buffer, sizeof(buffer)));
    const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer);
    ASSERT_EQ(extents->NumberOfDiskExtents, 1u);
    EXPECT_EQ(ExtentAt(extents, 0)->DiskNumber, 0u);
    EXPECT_EQ(ExtentAt(extents, 0)->StartingOffset, 3072 * 512);
    EXPECT_EQ(ExtentAt(extents, 0)->ExtentLength, 2048 * 512);
  }
  // Two extents do not fit the room for one: the count says how many there are.
  ASSERT_TRUE(simVolumes().AddExtent(name, DISK_EXTENT{3, 4096, 8192}));
  UniqueHandle volume(volumes().OpenVolume(device.c_str(), false));
  alignas(8) std::uint8_t small[VolumeExtentsSize(1)];
  EXPECT_FALSE(volumes().GetExtents(volume.get(), small, sizeof(small)));
  EXPECT_EQ(Sys().system->LastError(), kErrorMoreData);
  EXPECT_EQ(reinterpret_cast<const VOLUME_DISK_EXTENTS*>(small)->NumberOfDiskExtents, 2u);
  alignas(8) std::uint8_t tiny[16];
  EXPECT_FALSE(volumes().GetExtents(volume.get(), tiny, sizeof(tiny)));
  EXPECT_EQ(Sys().system->LastError(), kErrorInsufficientBuffer);
}

TEST_F(SimVolumesTest, PathNamesGrowWithMoreData) {
  machine().AddDiskBytes(NotebookGpt());
  const std::wstring windows = simVolumes().VolumeOf(0, 3072 * 512).name;
  const std::wstring recovery = simVolumes().VolumeOf(0, 7168 * 512).name;
  ASSERT_TRUE(simVolumes().AddFolderMount(windows, L"C:\\Mount\\Win\\"));
  std::uint32_t needed = 0;
  wchar_t small[8];
  EXPECT_FALSE(volumes().PathNames(windows.c_str(), small, 8, &needed));
  EXPECT_EQ(Sys().system->LastError(), kErrorMoreData);
  const std::wstring expected(L"C:\\\0C:\\Mount\\Win\\\0\0", 19);
  EXPECT_EQ(needed, expected.size());
  std::vector<wchar_t> big(needed);
  ASSERT_TRUE(volumes().PathNames(windows.c_str(), big.data(), needed, &needed));
  EXPECT_EQ(std::wstring(big.data(), big.size()), expected);
  // No path at all: the list is just its end.
  wchar_t none[260];
  std::wmemset(none, L'x', 260);
  ASSERT_TRUE(volumes().PathNames(recovery.c_str(), none, 260, &needed));
  EXPECT_EQ(needed, 1u);
  EXPECT_EQ(none[0], L'\0');
  // The name must end in a backslash.
  EXPECT_FALSE(volumes().PathNames(recovery.substr(0, 48).c_str(), none, 260, &needed));
  EXPECT_EQ(Sys().system->LastError(), kErrorInvalidName);
}

TEST_F(SimVolumesTest, MountPointsAndDriveStrings) {
  machine().AddDiskBytes(NotebookGpt());
  const std::wstring recovery = simVolumes().VolumeOf(0, 7168 * 512).name;
  const std::wstring efi = simVolumes().VolumeOf(0, 2048 * 512).name;
  EXPECT_FALSE(volumes().SetMountPoint(L"C:\\", recovery.c_str()));
  EXPECT_EQ(Sys().system->LastError(), kErrorDirNotEmpty);
  EXPECT_TRUE(volumes().SetMountPoint(L"E:\\", recovery.c_str()));
  // One letter per volume.
  EXPECT_FALSE(volumes().SetMountPoint(L"F:\\", recovery.c_str()));
  EXPECT_TRUE(volumes().SetMountPoint(L"C:\\Boot\\Efi\\", efi.c_str()));
  ASSERT_EQ(simVolumes().assignments().size(), 1u);
  EXPECT_EQ(simVolumes().assignments()[0].root, L"E:\\");
  EXPECT_EQ(simVolumes().assignments()[0].volume, recovery);

  wchar_t drives[104];
  std::uint32_t n = volumes().DriveStrings(104, drives);
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(std::wstring(drives, 9), std::wstring(L"C:\\\0E:\\\0\0", 9));
  // Room without the list's end: the size needed comes back, nothing written.
  wchar_t tight[8];
  std::wmemset(tight, L'x', 8);
  EXPECT_EQ(volumes().DriveStrings(8, tight), 9u);
  EXPECT_EQ(tight[0], L'x');
}

// Read by the library that reads file systems in images, not by the
// launcher's own reader: an NTFS that mkntfs made, a FAT32 built in code.
TEST_F(SimVolumesTest, LabelsComeFromTheFileSystems) {
  const Bytes ntfs = images::RecoveryNtfs(u"Système", 2048, 4096);
  if (ntfs.empty()) GTEST_SKIP() << "mkntfs or wimlib is not installed";
  Bytes mbr = MbrBuilder(kDiskSectors).Primary(0, 0x07, 2048, 4096).Primary(1, 0x0C, 6144, 2048).Primary(2, 0x0B, 8192, 1024).Build();
  Place(mbr, 2048ull * 512, ntfs);
  Place(mbr, 6144ull * 512, LabelledFat32("R\xC9" "CUP\xC9" "R    "));
  machine().AddDiskBytes(mbr);
  const std::wstring name = simVolumes().VolumeOf(0, 2048 * 512).name;
  struct Case {
    std::wstring root;
    bool ok;
    std::wstring label;
    std::uint32_t error;
  };
  const Case cases[] = {
      {L"C:\\", true, L"Syst\u00E8me", 0},
      {L"d:\\", true, L"R\u00C9CUP\u00C9R", 0},
      {name, true, L"Syst\u00E8me", 0},
      {L"E:\\", false, L"", kErrorUnrecognizedVolume},  // no file system written there
      {L"C:", false, L"", kErrorInvalidName},
      {L"F:\\", false, L"", kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.root));
    wchar_t label[200] = L"unchanged";
    EXPECT_EQ(volumes().VolumeLabel(c.root.c_str(), label, 200), c.ok);
    if (c.ok) {
      EXPECT_EQ(std::wstring(label), c.label);
    } else {
      EXPECT_EQ(Sys().system->LastError(), c.error);
    }
  }
}

// Each control asks for a handle opened for change, the offline one for a
// volume this handle dismounted; once offline, the volume stays listed and its
// device opens, but neither its root nor its letter reaches the file system.
TEST_F(SimVolumesTest, VolumeTakenOfflineIsListedButUnreachable) {
  machine().AddDiskBytes(NotebookGpt());
  const std::wstring name = simVolumes().VolumeOf(0, 3072 * 512).name;
  const std::wstring device = name.substr(0, name.size() - 1);
  UniqueHandle plain(volumes().OpenVolume(device.c_str(), true));
  UniqueHandle change(volumes().OpenVolumeForChange(device.c_str()));
  ASSERT_TRUE(plain.valid() && change.valid());
  wchar_t label[64];
  struct Step {
    const char* what;
    std::function<bool()> call;
    bool succeeds;
    std::uint32_t error;
  };
  const Step steps[] = {
      {"lock, read-only handle", [&] { return volumes().LockVolume(plain.get()); }, false,
       kErrorAccessDenied},
      {"dismount, read-only handle", [&] { return volumes().DismountVolume(plain.get()); }, false,
       kErrorAccessDenied},
      {"offline, read-only handle", [&] { return volumes().OfflineVolume(plain.get()); }, false,
       kErrorAccessDenied},
      {"offline before the dismount", [&] { return volumes().OfflineVolume(change.get()); }, false,
       kErrorAccessDenied},
      // Online, the call reaches the file system, which the library reading
      // images does not take for NTFS (it is built byte by byte here).
      {"label while online", [&] { return volumes().VolumeLabel(name.c_str(), label, 64); }, false,
       kErrorUnrecognizedVolume},
      {"lock", [&] { return volumes().LockVolume(change.get()); }, true, kErrorSuccess},
      {"dismount", [&] { return volumes().DismountVolume(change.get()); }, true, kErrorSuccess},
      {"offline", [&] { return volumes().OfflineVolume(change.get()); }, true, kErrorSuccess},
      {"label through the name", [&] { return volumes().VolumeLabel(name.c_str(), label, 64); }, false,
       kErrorNotReady},
      {"label through the letter", [&] { return volumes().VolumeLabel(L"C:\\", label, 64); }, false,
       kErrorNotReady},
      {"lock again", [&] { return volumes().LockVolume(change.get()); }, false, kErrorNotReady},
      {"device opens", [&] { return UniqueHandle(volumes().OpenVolume(device.c_str(), false)).valid(); },
       true, kErrorSuccess},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    EXPECT_EQ(step.call(), step.succeeds);
    EXPECT_EQ(Sys().system->LastError(), step.error);
  }
  EXPECT_TRUE(simVolumes().VolumeOf(0, 3072 * 512).offline);
  EXPECT_FALSE(simVolumes().VolumeOf(0, 7168 * 512).offline);
  std::set<std::wstring> listed;
  wchar_t found[260];
  UniqueVolumeSearch search(volumes().FirstVolume(found, 260));
  for (bool more = search.valid(); more; more = volumes().NextVolume(search.get(), found, 260))
    listed.insert(found);
  EXPECT_EQ(listed.count(name), 1u);
}

TEST_F(SimVolumesTest, EveryOperationCanBeMadeToFail) {
  machine().AddDiskBytes(NotebookGpt());
  const std::wstring recovery = simVolumes().VolumeOf(0, 7168 * 512).name;
  wchar_t buffer[260];
  std::uint32_t needed = 0;
  machine().faults().FailAll(sim::SimOp::VolumeEnum);
  EXPECT_FALSE(IsValidHandle(volumes().FirstVolume(buffer, 260)));
  machine().faults().FailAll(sim::SimOp::VolumeOpen);
  EXPECT_FALSE(IsValidHandle(volumes().OpenVolume(L"\\\\.\\C:", true)));
  machine().faults().FailAll(sim::SimOp::VolumePathNames);
  EXPECT_FALSE(volumes().PathNames(recovery.c_str(), buffer, 260, &needed));
  machine().faults().FailAll(sim::SimOp::MountPoint);
  EXPECT_FALSE(volumes().SetMountPoint(L"E:\\", recovery.c_str()));
  machine().faults().FailAll(sim::SimOp::DriveStrings);
  EXPECT_EQ(volumes().DriveStrings(260, buffer), 0u);
  machine().faults().FailAll(sim::SimOp::VolumeInfo);
  EXPECT_FALSE(volumes().VolumeLabel(L"C:\\", buffer, 260));
  EXPECT_FALSE(IsValidHandle(volumes().OpenVolumeForChange(L"\\\\.\\C:")));
  machine().faults().Reset();
  UniqueHandle change(volumes().OpenVolumeForChange(L"\\\\.\\C:"));
  for (sim::SimOp op : {sim::SimOp::VolumeLock, sim::SimOp::VolumeDismount, sim::SimOp::VolumeOffline}) {
    machine().faults().FailAll(op);
  }
  EXPECT_FALSE(volumes().LockVolume(change.get()));
  EXPECT_FALSE(volumes().DismountVolume(change.get()));
  EXPECT_FALSE(volumes().OfflineVolume(change.get()));
  EXPECT_FALSE(simVolumes().VolumeOf(0, 3072 * 512).offline);
  UniqueHandle volume(volumes().OpenVolume(L"\\\\.\\C:", true));
  machine().faults().FailAll(sim::SimOp::VolumeExtents);
  alignas(8) std::uint8_t extents[VolumeExtentsSize(4)];
  EXPECT_FALSE(volumes().GetExtents(volume.get(), extents, sizeof(extents)));
  EXPECT_TRUE(simVolumes().assignments().empty());
}

}  // namespace
}  // namespace tavu::test
