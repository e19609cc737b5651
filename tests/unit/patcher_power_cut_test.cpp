// The patch pass against a power cut while it replaces a running launcher,
// and the next pass after one.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/file_api.h"
#include "patcher/fix_downgrade.h"
#include "tests/fixtures/patcher_log_lines.h"
#include "tests/fixtures/pe_builder.h"
#include "tests/fixtures/sim_test.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/version_block.h"

namespace tavu::test {
namespace {

using Lines = std::vector<std::string>;

constexpr wchar_t kInstalled[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe";
constexpr wchar_t kFresh[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe.new";
constexpr wchar_t kAside[] = L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe.old";
constexpr wchar_t kLog[] = L"C:\\WIndows\\Temp\\TvPatchDowngrade.log";

const std::string kPutBack = "[FixDowngarde]\tThe TAVU Recovery that a cut left aside is put back";
const std::string kFound = "[FixDowngarde]\tFind TAVU Recovery";
const std::string kCopy = "[FixDowngarde]\tFile version is older, copy file";
const std::string kKeep = "[FixDowngarde]\tFile version is same or newer, do not copy";
const std::string kAtRestart = "[FixDowngarde]\tTAVU Recovery is running, it is replaced at the next restart";

std::string Launcher(const std::string& fileVersion) {
  VersionContent content;
  content.tables = {{"040904b0", {{"FileVersion", fileVersion}}}};
  return BuildPe(BuildVersionBlock(content)).bytes;
}
const std::string kOld = Launcher("1.0.0.6");
const std::string kCarried = Launcher("1.0.0.7");

// A machine whose older launcher runs (the logon task started it), with
// the patcher that carries the newer one.
struct RunningLauncherMachine {
  RunningLauncherMachine() : m(dir.path()) {
    m.Install();
    m.resources().SetCarriedLauncher(std::vector<std::uint8_t>(kCarried.begin(), kCarried.end()));
    WriteHostFile(m.HostPath(kInstalled), kOld);
    m.files().SetRunning(m.HostPath(kInstalled));
  }
  ~RunningLauncherMachine() { SetPlatform(Platform{}); }
  std::string Read(const wchar_t* path) { return ReadHostFile(m.HostPath(path)); }
  bool Exists(const wchar_t* path) { return HostFileExists(m.HostPath(path)); }

  TempDir dir;
  sim::SimMachine m;
};

TEST(PatcherPowerCutTest, CutAfterAnyWriteLeavesALauncherAndTheNextPassEndsTheJob) {
  std::size_t writes = 0;
  {
    RunningLauncherMachine whole;
    whole.m.faults().CutPowerAfter(std::nullopt);
    patcher::FixDowngarde();
    writes = whole.m.faults().persistentWrites().size();
    ASSERT_EQ(whole.Read(kInstalled), kCarried);
  }
  // Writing the new file, the move at restart, the rename aside, the move
  // in and the deletion at restart, at the least.
  ASSERT_GE(writes, 5u);
  for (std::size_t n = 0; n <= writes; ++n) {
    SCOPED_TRACE("power cut after write " + std::to_string(n));
    RunningLauncherMachine r;
    r.m.faults().CutPowerAfter(n);
    patcher::FixDowngarde();
    r.m.faults().PowerOn();
    r.m.Restart();
    ASSERT_TRUE(r.Exists(kInstalled));
    const std::string started = r.Read(kInstalled);
    EXPECT_TRUE(started == kOld || started == kCarried) << started.size() << " bytes, neither old nor new";

    patcher::FixDowngarde();
    EXPECT_EQ(r.Read(kInstalled), kCarried);
    EXPECT_TRUE(!r.Exists(kFresh) || r.m.files().MovePendingAtRestart(kFresh, kInstalled));
    EXPECT_TRUE(!r.Exists(kAside) || r.m.files().MovePendingAtRestart(kAside, nullptr));
    EXPECT_EQ(r.m.handles().OpenCount(), 0u);
  }
}

TEST(PatcherPowerCutTest, NextPassPutsBackWhatACutLeftBesideAnEmptyName) {
  struct Case {
    const char* what;
    std::string fresh;
    bool usersMayChangeFolder;
    Lines log;
  };
  const Case cases[] = {
      // The new file is short: the old one comes back, and is then replaced.
      {"old and a torn new file", kCarried.substr(0, 10), false, {kPutBack, kFound, kCopy}},
      {"old and a whole new file", kCarried, false, {kPutBack, kFound, kKeep}},
      {"in a folder users may change", kCarried, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunningLauncherMachine r;
    r.m.Restart();
    std::filesystem::rename(r.m.HostPath(kInstalled), r.m.HostPath(kAside));
    WriteHostFile(r.m.HostPath(kFresh), c.fresh);
    if (c.usersMayChangeFolder) r.m.files().AddUserWritable(L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher");
    patcher::FixDowngarde();
    EXPECT_EQ(PatcherLogLines(r.m.HostPath(kLog)), c.log);
    if (c.usersMayChangeFolder) {
      EXPECT_FALSE(r.Exists(kInstalled));
      EXPECT_EQ(r.Read(kAside), kOld);
      EXPECT_EQ(r.Read(kFresh), c.fresh);
    } else {
      EXPECT_EQ(r.Read(kInstalled), kCarried);
      EXPECT_FALSE(r.Exists(kAside));
      EXPECT_FALSE(r.Exists(kFresh));
      EXPECT_TRUE(r.m.files().restartMoves().empty());
    }
    EXPECT_EQ(r.m.handles().OpenCount(), 0u);
  }
}

// The simulated files, with the flush of the moves at restart refused.
class UnflushedRestartMoves : public FileApi {
 public:
  explicit UnflushedRestartMoves(FileApi& inner) : inner_(inner) {}
  Handle OpenFile(const wchar_t* p, FileAccess a, FileCreate c, FileSecurity s) override {
    return inner_.OpenFile(p, a, c, s);
  }
  Handle OpenNameItself(const wchar_t* p) override { return inner_.OpenNameItself(p); }
  bool Identify(Handle f, FileIdentity* i) override { return inner_.Identify(f, i); }
  bool Read(Handle f, void* b, std::uint32_t n, std::uint32_t* r) override { return inner_.Read(f, b, n, r); }
  bool Write(Handle f, const void* d, std::uint32_t n, std::uint32_t* w) override {
    return inner_.Write(f, d, n, w);
  }
  bool Seek(Handle f, std::uint64_t o) override { return inner_.Seek(f, o); }
  bool Size(Handle f, std::uint64_t* s) override { return inner_.Size(f, s); }
  bool Flush(Handle f) override { return inner_.Flush(f); }
  bool Close(Handle h) override { return inner_.Close(h); }
  bool MakeDirectories(const wchar_t* p) override { return inner_.MakeDirectories(p); }
  bool Remove(const wchar_t* p) override { return inner_.Remove(p); }
  bool RemoveFolder(const wchar_t* p) override { return inner_.RemoveFolder(p); }
  bool MoveReplace(const wchar_t* f, const wchar_t* t) override { return inner_.MoveReplace(f, t); }
  bool MoveAtRestart(const wchar_t* f, const wchar_t* t) override { return inner_.MoveAtRestart(f, t); }
  bool FlushRestartMoves() override { return false; }
  bool MovePendingAtRestart(const wchar_t* f, const wchar_t* t) override {
    return inner_.MovePendingAtRestart(f, t);
  }
  bool Exists(const wchar_t* p) override { return inner_.Exists(p); }
  bool IsReadOnly(const wchar_t* p) override { return inner_.IsReadOnly(p); }
  bool Security(const wchar_t* p, SecurityFacts* f) override { return inner_.Security(p, f); }
  Handle FindFirst(const wchar_t* p) override { return inner_.FindFirst(p); }
  bool CloseFind(Handle f) override { return inner_.CloseFind(f); }
  bool SetCurrentDir(const wchar_t* p) override { return inner_.SetCurrentDir(p); }

 private:
  FileApi& inner_;
};

TEST(PatcherPowerCutTest, RunningLauncherKeepsItsNameWhileTheRestartMoveIsNotFlushed) {
  RunningLauncherMachine r;
  UnflushedRestartMoves files(r.m.files());
  Platform p = r.m.platform();
  p.files = &files;
  SetPlatform(p);
  patcher::FixDowngarde();
  EXPECT_EQ(r.Read(kInstalled), kOld);
  EXPECT_FALSE(r.Exists(kAside));
  EXPECT_EQ(r.Read(kFresh), kCarried);
  EXPECT_TRUE(r.m.files().MovePendingAtRestart(kFresh, kInstalled));
  EXPECT_EQ(PatcherLogLines(r.m.HostPath(kLog)), (Lines{kFound, kCopy, kAtRestart}));
}

}  // namespace
}  // namespace tavu::test
