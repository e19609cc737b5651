#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/volume_api.h"
#include "common/win_errors.h"
#include "common/win_records.h"
#include "patcher/volume_letters.h"
#include "sim/core/last_error.h"
#include "tests/fixtures/patcher_log_lines.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

struct FakeVolume {
  std::wstring name;  // with trailing backslash
  std::vector<DISK_EXTENT> extents;
  std::vector<std::wstring> paths;
  bool opens = true;
  bool extentsAnswer = true;
  std::uint32_t claimedExtents = 0;  // when not 0, the count reported instead of the real one
};

// A small table of volumes behind the volume seam. Its handles live in the
// machine's handle table, so closing them through the file seam is checked.
class FakeVolumes : public VolumeApi {
 public:
  explicit FakeVolumes(sim::SimHandles& handles) : handles_(handles) {}

  struct Search : sim::SimObject {
    std::size_t next = 1;
  };
  struct Open : sim::SimObject {
    const FakeVolume* volume = nullptr;
  };

  Handle FirstVolume(wchar_t* name, std::uint32_t capacity) override {
    if (failEnumeration || volumes.empty()) {
      sim::SetLastError(failEnumeration ? kErrorAccessDenied : kErrorNoMoreFiles);
      return kInvalidHandle;
    }
    Copy(volumes[0].name, name, capacity);
    return handles_.Add(std::make_unique<Search>(), sim::HandleKind::VolumeSearch);
  }
  bool NextVolume(Handle search, wchar_t* name, std::uint32_t capacity) override {
    Search* s = handles_.Get<Search>(search);
    if (s == nullptr || s->next >= volumes.size()) {
      sim::SetLastError(kErrorNoMoreFiles);
      return false;
    }
    Copy(volumes[s->next++].name, name, capacity);
    return true;
  }
  bool CloseVolumeSearch(Handle search) override { return handles_.Close(search, sim::HandleKind::VolumeSearch); }
  Handle OpenVolume(const wchar_t* path, bool readAccess) override {
    opened.push_back(path);
    EXPECT_FALSE(readAccess);
    for (const FakeVolume& v : volumes) {
      if (v.opens && v.name == std::wstring(path) + L"\\") {
        auto o = std::make_unique<Open>();
        o->volume = &v;
        return handles_.Add(std::move(o));
      }
    }
    sim::SetLastError(kErrorFileNotFound);
    return kInvalidHandle;
  }
  // Letters never take a volume offline.
  Handle OpenVolumeForChange(const wchar_t* /*path*/) override {
    ADD_FAILURE() << "a volume opened for change";
    return kInvalidHandle;
  }
  bool LockVolume(Handle /*volume*/) override { return false; }
  bool DismountVolume(Handle /*volume*/) override { return false; }
  bool OfflineVolume(Handle /*volume*/) override { return false; }
  bool GetExtents(Handle volume, void* buffer, std::uint32_t size) override {
    Open* o = handles_.Get<Open>(volume);
    EXPECT_EQ(size, 6176u);
    if (o == nullptr || !o->volume->extentsAnswer) {
      sim::SetLastError(kErrorMoreData);
      return false;
    }
    const FakeVolume& v = *o->volume;
    auto* out = static_cast<VOLUME_DISK_EXTENTS*>(buffer);
    out->NumberOfDiskExtents = v.claimedExtents != 0 ? v.claimedExtents : static_cast<std::uint32_t>(v.extents.size());
    std::memcpy(out->Extents, v.extents.data(), v.extents.size() * sizeof(DISK_EXTENT));
    return true;
  }
  bool PathNames(const wchar_t* volumeName, wchar_t* buffer, std::uint32_t capacity, std::uint32_t* needed) override {
    capacities.push_back(capacity);
    if (failPathNames) {
      sim::SetLastError(kErrorInvalidParameter);
      return false;
    }
    std::wstring list;
    for (const FakeVolume& v : volumes) {
      if (v.name == volumeName) {
        for (const std::wstring& p : v.paths) list += p + L'\0';
      }
    }
    list += L'\0';
    std::uint32_t want = static_cast<std::uint32_t>(list.size()) + growBy;
    if (want > capacity || alwaysMoreData) {
      *needed = want;
      sim::SetLastError(kErrorMoreData);
      return false;
    }
    std::copy(list.begin(), list.end(), buffer);
    return true;
  }
  bool SetMountPoint(const wchar_t* root, const wchar_t* volumeName) override {
    tried.push_back(root);
    std::wstring r = root;
    if (used.count(r) != 0 || refused.count(r) != 0) return false;
    for (FakeVolume& v : volumes) {
      if (v.name == volumeName) {
        used.insert(r);
        v.paths.push_back(r);
        return true;
      }
    }
    return false;
  }
  std::uint32_t DriveStrings(std::uint32_t, wchar_t*) override { return 0; }
  bool VolumeLabel(const wchar_t*, wchar_t*, std::uint32_t) override { return false; }

  std::vector<FakeVolume> volumes;
  std::set<std::wstring> used;
  std::set<std::wstring> refused;
  std::vector<std::wstring> opened;
  std::vector<std::wstring> tried;
  std::vector<std::uint32_t> capacities;
  bool failEnumeration = false;
  bool failPathNames = false;
  bool alwaysMoreData = false;
  std::uint32_t growBy = 0;

 private:
  static void Copy(const std::wstring& from, wchar_t* to, std::uint32_t capacity) {
    std::size_t n = std::min<std::size_t>(from.size(), capacity - 1);
    std::copy(from.begin(), from.begin() + static_cast<std::ptrdiff_t>(n), to);
    to[n] = L'\0';
  }
  sim::SimHandles& handles_;
};

const std::wstring kVolA = L"\\\\?\\Volume{11111111-1111-1111-1111-111111111111}\\";
const std::wstring kVolB = L"\\\\?\\Volume{22222222-2222-2222-2222-222222222222}\\";
const std::wstring kVolC = L"\\\\?\\Volume{33333333-3333-3333-3333-333333333333}\\";
const std::string kVolANarrow = "\\\\?\\Volume{11111111-1111-1111-1111-111111111111}\\";
const std::string kVolBNarrow = "\\\\?\\Volume{22222222-2222-2222-2222-222222222222}\\";

DISK_EXTENT Extent(std::uint32_t disk, std::int64_t offset, std::int64_t length) {
  DISK_EXTENT e{};
  e.DiskNumber = disk;
  e.StartingOffset = offset;
  e.ExtentLength = length;
  return e;
}

constexpr std::int64_t kMiB = 1 << 20;

class VolumeLettersTest : public SimTest {
 protected:
  VolumeLettersTest() : fake_(machine().handles()) {
    Platform p = machine().platform();
    p.volumes = &fake_;
    SetPlatform(p);
  }
  ~VolumeLettersTest() override {
    EXPECT_EQ(machine().handles().OpenCount(), 0u);
    EXPECT_EQ(machine().handles().Misuses(), 0u);
  }
  std::vector<std::string> Log() { return PatcherLogLines(Host(L"C:\\WIndows\\Temp\\TvPatchDowngrade.log")); }
  // FindVolume, then SetVolumeLetter on what it found, as the patch pass does.
  bool FindAndLetter(std::uint32_t disk, std::int64_t offset, std::int64_t length) {
    wchar_t name[patcher::kVolumeNameChars];
    std::fill(std::begin(name), std::end(name), L'#');
    if (!patcher::FindVolume(name, disk, offset, length)) return false;
    found_ = name;
    patcher::SetVolumeLetter(name);
    return true;
  }
  void UseLetters(wchar_t first, wchar_t last) {
    for (wchar_t c = first; c <= last; ++c) fake_.used.insert(std::wstring(1, c) + L":\\");
  }

  FakeVolumes fake_;
  std::wstring found_;
};

TEST_F(VolumeLettersTest, Matching) {
  struct Case {
    const char* what;
    std::vector<DISK_EXTENT> extents;
    std::uint32_t disk;
    std::int64_t offset, length;
    bool found;
  };
  const Case cases[] = {
      {"exact", {Extent(0, kMiB, 100 * kMiB)}, 0, kMiB, 100 * kMiB, true},
      {"other length", {Extent(0, kMiB, 100 * kMiB)}, 0, kMiB, 100 * kMiB + 512, false},
      {"other offset", {Extent(0, kMiB, 100 * kMiB)}, 0, kMiB + 512, 100 * kMiB, false},
      {"other disk", {Extent(1, kMiB, 100 * kMiB)}, 0, kMiB, 100 * kMiB, false},
      {"second extent of a spanned volume", {Extent(1, 0, kMiB), Extent(0, kMiB, 100 * kMiB)}, 0, kMiB, 100 * kMiB, true},
      {"partition inside a larger extent", {Extent(0, 0, 200 * kMiB)}, 0, kMiB, 100 * kMiB, false},
      {"no extents", {}, 0, kMiB, 100 * kMiB, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake_.volumes = {{kVolA, c.extents, {L"D:\\"}}};
    wchar_t name[patcher::kVolumeNameChars] = {};
    EXPECT_EQ(patcher::FindVolume(name, c.disk, c.offset, c.length), c.found);
    if (c.found) {
      EXPECT_EQ(std::wstring(name), kVolA);
    }
  }
  // Every miss was reported, and nothing else.
  std::vector<std::string> misses(5, "[FindVolume]\tCan not find volume");
  EXPECT_EQ(Log(), misses);
}

TEST_F(VolumeLettersTest, VolumesThatCannotBeAskedAreSkipped) {
  FakeVolume unopenable{kVolA, {Extent(0, kMiB, kMiB)}, {}, false};
  FakeVolume silent{kVolB, {Extent(0, kMiB, kMiB)}, {}, true, false};
  FakeVolume liar{kVolC, {Extent(0, 5 * kMiB, kMiB)}, {L"F:\\"}, true, true, 100000};
  FakeVolume good{L"\\\\?\\Volume{44444444-4444-4444-4444-444444444444}\\", {Extent(0, kMiB, kMiB)}, {L"E:\\"}};
  fake_.volumes = {unopenable, silent, liar, good};
  wchar_t name[patcher::kVolumeNameChars] = {};
  ASSERT_TRUE(patcher::FindVolume(name, 0, kMiB, kMiB));
  EXPECT_EQ(std::wstring(name), good.name);
  // Each volume is opened under its device name: no trailing backslash.
  ASSERT_EQ(fake_.opened.size(), 4u);
  EXPECT_EQ(fake_.opened[0], kVolA.substr(0, kVolA.size() - 1));
  EXPECT_EQ(fake_.opened[3], good.name.substr(0, good.name.size() - 1));
  EXPECT_TRUE(Log().empty());
}

TEST_F(VolumeLettersTest, NoVolumesOrNoEnumeration) {
  for (bool failEnumeration : {false, true}) {
    fake_.volumes.clear();
    fake_.failEnumeration = failEnumeration;
    EXPECT_FALSE(FindAndLetter(0, kMiB, kMiB));
  }
  EXPECT_EQ(Log(), std::vector<std::string>(2, "[FindVolume]\tCan not find volume"));
}

TEST_F(VolumeLettersTest, LetterAssignment) {
  struct Case {
    const char* what;
    std::vector<std::wstring> paths;  // the volume's own mount paths
    wchar_t usedFrom, usedTo;         // letters already in use
    std::vector<std::string> log;
    std::vector<std::wstring> tried;
  };
  const std::string yes = "[SetVolumeLetter]\tGetVolumePathNamesForVolumeName return: true";
  std::vector<std::wstring> cToZ;
  for (wchar_t c = L'C'; c <= L'Z'; ++c) cToZ.push_back(std::wstring(1, c) + L":\\");
  const Case cases[] = {
      {"C: and D: in use, E: free", {}, L'C', L'D',
       {yes, "[SetVolumeLetter]\tAssign " + kVolANarrow + ", Letter = E:\\"}, {L"C:\\", L"D:\\", L"E:\\"}},
      {"nothing in use", {}, L'C', L'B', {yes, "[SetVolumeLetter]\tAssign " + kVolANarrow + ", Letter = C:\\"}, {L"C:\\"}},
      {"already has a letter", {L"C:\\"}, L'D', L'D', {yes}, {}},
      {"mounted in a folder only", {L"C:\\Data\\Mount\\"}, L'C', L'C', {yes}, {}},
      {"C: to Z: all in use; A: and B: never tried", {}, L'C', L'Z', {yes}, cToZ},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(Host(L"C:\\Windows"));
    fake_.used.clear();
    fake_.tried.clear();
    UseLetters(c.usedFrom, c.usedTo);
    fake_.volumes = {{kVolA, {Extent(0, kMiB, 50 * kMiB)}, c.paths}};
    ASSERT_TRUE(FindAndLetter(0, kMiB, 50 * kMiB));
    EXPECT_EQ(found_, kVolA);
    EXPECT_EQ(Log(), c.log);
    EXPECT_EQ(fake_.tried, c.tried);
  }
}

TEST_F(VolumeLettersTest, RefusedRootsAreSkippedSilently) {
  fake_.refused = {L"C:\\", L"D:\\", L"E:\\"};
  UseLetters(L'F', L'F');
  fake_.volumes = {{kVolA, {Extent(0, kMiB, kMiB)}, {}}};
  ASSERT_TRUE(FindAndLetter(0, kMiB, kMiB));
  EXPECT_EQ(Log(), (std::vector<std::string>{"[SetVolumeLetter]\tGetVolumePathNamesForVolumeName return: true",
                                             "[SetVolumeLetter]\tAssign " + kVolANarrow + ", Letter = G:\\"}));
}

TEST_F(VolumeLettersTest, TwoPathlessVolumesGetConsecutiveLetters) {
  UseLetters(L'C', L'D');
  fake_.volumes = {{kVolA, {Extent(0, kMiB, kMiB)}, {}}, {kVolB, {Extent(0, 2 * kMiB, kMiB)}, {}}};
  ASSERT_TRUE(FindAndLetter(0, kMiB, kMiB));
  ASSERT_TRUE(FindAndLetter(0, 2 * kMiB, kMiB));
  const std::string yes = "[SetVolumeLetter]\tGetVolumePathNamesForVolumeName return: true";
  EXPECT_EQ(Log(), (std::vector<std::string>{yes, "[SetVolumeLetter]\tAssign " + kVolANarrow + ", Letter = E:\\", yes,
                                             "[SetVolumeLetter]\tAssign " + kVolBNarrow + ", Letter = F:\\"}));
}

TEST_F(VolumeLettersTest, PathListQuery) {
  std::vector<std::wstring> many;
  for (int i = 0; i < 40; ++i) many.push_back(L"C:\\Mounts\\Folder number " + std::to_wstring(i) + L"\\");
  struct Case {
    const char* what;
    std::vector<std::wstring> paths;
    bool failOther, endless;
    std::uint32_t growBy;
    std::string line;
    std::vector<std::uint32_t> capacities;  // as offered to each call
  };
  std::uint32_t longList = 1;
  for (const std::wstring& p : many) longList += static_cast<std::uint32_t>(p.size()) + 1;
  ASSERT_GT(longList, 260u);
  const std::string yes = "[SetVolumeLetter]\tGetVolumePathNamesForVolumeName return: true";
  const std::string no = "[SetVolumeLetter]\tGetVolumePathNamesForVolumeName return: false";
  const Case cases[] = {
      {"fits at once", {L"E:\\"}, false, false, 0, yes, {260}},
      {"long list: one retry with the reported length", many, false, false, 0, yes, {260, longList}},
      {"other error", {}, true, false, 0, no, {260}},
      {"reported length never enough", many, false, true, 0, no,
       std::vector<std::uint32_t>{260, longList, longList, longList, longList, longList, longList, longList,
                                  longList, longList, longList, longList, longList, longList, longList, longList}},
      {"absurd length is not believed", {}, false, false, (1u << 24) + 1, no, {260}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(Host(L"C:\\Windows"));
    fake_.volumes = {{kVolA, {Extent(0, kMiB, kMiB)}, c.paths}};
    fake_.failPathNames = c.failOther;
    fake_.alwaysMoreData = c.endless;
    fake_.growBy = c.growBy;
    fake_.capacities.clear();
    fake_.tried.clear();
    patcher::SetVolumeLetter(kVolA.c_str());
    EXPECT_EQ(Log(), std::vector<std::string>{c.line});
    EXPECT_EQ(fake_.capacities, c.capacities);
    EXPECT_TRUE(fake_.tried.empty());
  }
}

}  // namespace
}  // namespace tavu::test
