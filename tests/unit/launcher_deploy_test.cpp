#include "patcher/launcher_deploy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/file_api.h"
#include "tests/fixtures/patcher_log_lines.h"
#include "tests/fixtures/sim_test.h"

namespace tavu::test {
namespace {

using sim::SimOp;

// Forwards to the simulated files but writes at most `chunk` bytes per call
// (0: reports success with nothing written, as a full device might).
class ShortWrites : public FileApi {
 public:
  ShortWrites(FileApi& inner, std::uint32_t chunk) : inner_(inner), chunk_(chunk) {}
  Handle OpenFile(const wchar_t* p, FileAccess a, FileCreate c, FileSecurity s) override {
    return inner_.OpenFile(p, a, c, s);
  }
  bool Read(Handle f, void* b, std::uint32_t n, std::uint32_t* r) override { return inner_.Read(f, b, n, r); }
  bool Write(Handle f, const void* d, std::uint32_t n, std::uint32_t* w) override {
    ++writes;
    if (chunk_ == 0) {
      *w = 0;
      return true;
    }
    return inner_.Write(f, d, n < chunk_ ? n : chunk_, w);
  }
  bool Seek(Handle f, std::uint64_t o) override { return inner_.Seek(f, o); }
  bool Size(Handle f, std::uint64_t* s) override { return inner_.Size(f, s); }
  bool Flush(Handle f) override { return inner_.Flush(f); }
  bool Close(Handle h) override { return inner_.Close(h); }
  bool MakeDirectories(const wchar_t* p) override { return inner_.MakeDirectories(p); }
  bool Remove(const wchar_t* p) override { return inner_.Remove(p); }
  bool MoveReplace(const wchar_t* f, const wchar_t* t) override { return inner_.MoveReplace(f, t); }
  bool Exists(const wchar_t* p) override { return inner_.Exists(p); }
  bool IsReadOnly(const wchar_t* p) override { return inner_.IsReadOnly(p); }
  bool Security(const wchar_t* p, SecurityFacts* f) override { return inner_.Security(p, f); }
  Handle FindFirst(const wchar_t* p) override { return inner_.FindFirst(p); }
  bool CloseFind(Handle f) override { return inner_.CloseFind(f); }
  bool SetCurrentDir(const wchar_t* p) override { return inner_.SetCurrentDir(p); }
  int writes = 0;

 private:
  FileApi& inner_;
  std::uint32_t chunk_;
};

class DeployTest : public SimTest {
 protected:
  DeployTest() {
    for (int i = 0; i < 70000; ++i) carried_.push_back(static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF));
    machine().resources().SetCarriedLauncher(carried_);
  }
  std::string Target() { return root() + "/Program Files/TAVU/TAVU Recovery Launcher/TAVU Recovery.exe"; }
  std::string Temp() { return Target() + ".new"; }
  std::string Carried() const { return std::string(carried_.begin(), carried_.end()); }
  void ExpectClean() {
    EXPECT_FALSE(HostFileExists(Temp()));
    EXPECT_EQ(machine().handles().OpenCount(), 0u);
    EXPECT_EQ(machine().handles().Misuses(), 0u);
  }

  std::vector<std::uint8_t> carried_;
  const std::string old_ = std::string(200000, 'O') + "old launcher tail";
};

TEST_F(DeployTest, ResultIsTheResourceByteForByte) {
  struct Case {
    const char* what;
    bool installed;
    std::string oldBytes;
    bool staleTemp;
  };
  const Case cases[] = {
      {"old file longer", true, old_, false},
      {"old file shorter", true, "MZ", false},
      {"old file empty", true, "", false},
      {"no old file", false, "", false},
      {"leftover temporary file of an interrupted run", true, old_, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(root() + "/Program Files");
    std::filesystem::create_directories(root() + "/Program Files/TAVU/TAVU Recovery Launcher");
    if (c.installed) WriteHostFile(Target(), c.oldBytes);
    if (c.staleTemp) WriteHostFile(Temp(), std::string(300000, 'S'));
    patcher::ExtractLauncher();
    EXPECT_EQ(ReadHostFile(Target()), Carried());
    ExpectClean();
  }
}

TEST_F(DeployTest, EachFailingStepLeavesTheOldFileExactly) {
  struct Case {
    const char* what;
    SimOp op;
  };
  const Case cases[] = {
      {"resource lookup", SimOp::ResourceLoad},
      {"temporary file open", SimOp::FileOpen},
      {"write", SimOp::FileWrite},
      {"flush", SimOp::FileFlush},
      {"replace", SimOp::FileRename},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteHostFile(Target(), old_);
    machine().faults().FailAll(c.op);
    patcher::ExtractLauncher();
    machine().faults().Reset();
    EXPECT_EQ(ReadHostFile(Target()), old_);
    ExpectClean();
  }
}

TEST_F(DeployTest, AFaultAtAnyOperationGivesOldOrNewNeverAMix) {
  int oldSeen = 0;
  int newSeen = 0;
  for (std::uint64_t k = 1; k < 40; ++k) {
    SCOPED_TRACE(k);
    WriteHostFile(Target(), old_);
    machine().faults().Reset();
    machine().faults().FailNth(k);
    patcher::ExtractLauncher();
    SimOp op{};
    bool injected = machine().faults().Injected(&op);
    machine().faults().Reset();
    std::string now = ReadHostFile(Target());
    ASSERT_TRUE(now == old_ || now == Carried());
    ExpectClean();
    // A failure of the clean-up of a stale name leaves the update going, and a
    // refused move is tried again.
    if (injected && op != SimOp::FileRemove && op != SimOp::FileRename) {
      EXPECT_EQ(now, old_);
      ++oldSeen;
    } else {
      EXPECT_EQ(now, Carried());
      ++newSeen;
    }
  }
  EXPECT_GE(oldSeen, 4);  // lookup, open, write, flush
  EXPECT_GT(newSeen, 0);
}

TEST_F(DeployTest, MissingOrEmptyResourceLeavesTheOldFile) {
  struct Case {
    const char* what;
    bool present;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {{"missing", false, {}}, {"empty", true, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.present) {
      machine().resources().SetCarriedLauncher(c.bytes);
    } else {
      machine().resources().RemoveCarriedLauncher();
    }
    WriteHostFile(Target(), old_);
    patcher::ExtractLauncher();
    EXPECT_EQ(ReadHostFile(Target()), old_);
    ExpectClean();
  }
}

// A read-only flag never keeps an old launcher unsaid: the patcher clears it
// and says so, or says why the old one stays.
TEST_F(DeployTest, ReadOnlyTargetIsClearedAndReplacedOrKeptWithAReason) {
  const std::string log = machine().HostPath(L"C:\\Windows\\Temp\\TvPatchDowngrade.log");
  WriteHostFile(Target(), old_);
  machine().files().SetReadOnly(Target(), true);
  machine().faults().FailAll(sim::SimOp::FileAttributes);
  patcher::ExtractLauncher();
  EXPECT_EQ(ReadHostFile(Target()), old_);
  std::vector<std::string> lines = PatcherLogLines(log);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "[FixDowngarde]\tThe installed TAVU Recovery is read-only and stays so, do not copy");
  ExpectClean();

  machine().faults().Reset();
  patcher::ExtractLauncher();
  EXPECT_EQ(ReadHostFile(Target()), std::string(carried_.begin(), carried_.end()));
  EXPECT_FALSE(machine().files().IsReadOnly(
      L"C:\\Program Files\\TAVU\\TAVU Recovery Launcher\\TAVU Recovery.exe"));
  lines = PatcherLogLines(log);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "[FixDowngarde]\tThe installed TAVU Recovery was read-only, the flag is cleared");
  ExpectClean();
}

TEST_F(DeployTest, ScannerHoldingTheNewFileDelaysOrStopsTheReplacement) {
  carried_[0] = 'M';
  carried_[1] = 'Z';
  machine().resources().SetCarriedLauncher(carried_);
  struct Case {
    const char* what;
    std::uint32_t holdMilliseconds;
    bool replaced;
  };
  // Ten tries of the move, 100 ms apart, span 900 ms. A new file held longer
  // is complete: Windows moves it into place at the next start.
  const Case cases[] = {{"released while the move is retried", 350, true},
                        {"held past the move's tries", 1500, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteHostFile(Target(), old_);
    machine().files().SetScanner(c.holdMilliseconds);
    patcher::ExtractLauncher();
    EXPECT_EQ(ReadHostFile(Target()), c.replaced ? Carried() : old_);
    EXPECT_EQ(machine().files().restartMoves().size(), c.replaced ? 0u : 1u);
    machine().Restart();
    EXPECT_EQ(ReadHostFile(Target()), Carried());
    ExpectClean();
  }
}

TEST_F(DeployTest, ShortWrites) {
  struct Case {
    std::uint32_t chunk;
    bool replaced;
  };
  const Case cases[] = {{4096, true}, {1, true}, {0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chunk);
    WriteHostFile(Target(), old_);
    // One byte per call is slow but must still finish: keep the launcher small.
    if (c.chunk == 1) {
      machine().resources().SetCarriedLauncher(
          std::vector<std::uint8_t>(carried_.begin(), carried_.begin() + 3000));
    } else {
      machine().resources().SetCarriedLauncher(carried_);
    }
    ShortWrites files(machine().files(), c.chunk);
    Platform p = machine().platform();
    p.files = &files;
    SetPlatform(p);
    patcher::ExtractLauncher();
    machine().Install();
    std::string expected = c.chunk == 1 ? Carried().substr(0, 3000) : Carried();
    EXPECT_EQ(ReadHostFile(Target()), c.replaced ? expected : old_);
    if (c.chunk == 0) {
      EXPECT_EQ(files.writes, 1);
    }
    ExpectClean();
  }
}

}  // namespace
}  // namespace tavu::test
