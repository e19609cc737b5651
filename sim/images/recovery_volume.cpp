#include "sim/images/recovery_volume.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wimlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <tuple>

extern char** environ;

namespace tavu::images {

namespace {

namespace fs = std::filesystem;

struct WimCloser {
  void operator()(WIMStruct* wim) const { wimlib_free(wim); }
};
using WimPtr = std::unique_ptr<WIMStruct, WimCloser>;

// A scratch folder that goes with its contents.
class Scratch {
 public:
  Scratch() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tavu-winre-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

bool WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// In one read: byte by byte through a stream iterator, a volume of tens of MiB
// costs seconds in the sanitizer build, where every test process makes it anew.
Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
  if (size <= 0) return {};
  Bytes bytes(static_cast<std::size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return {};
  return bytes;
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// mkntfs lies in /usr/sbin, which an ordinary user's PATH often lacks.
std::string FindMkntfs() {
  for (const char* candidate : {"/usr/sbin/mkntfs", "/sbin/mkntfs", "/usr/bin/mkntfs"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
  }
  return "";
}

bool Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Bytes MakeWim() {
  Scratch scratch;
  if (scratch.path().empty()) return {};
  WIMStruct* raw = nullptr;
  if (wimlib_create_new_wim(WIMLIB_COMPRESSION_TYPE_NONE, &raw) != 0) return {};
  WimPtr wim(raw);
  int index = 0;
  if (wimlib_add_empty_image(wim.get(), "Microsoft Windows Recovery Environment (x64)", &index) != 0)
    return {};
  wimlib_wim_info info{};
  info.boot_index = static_cast<std::uint32_t>(index);
  if (wimlib_set_wim_info(wim.get(), &info, WIMLIB_CHANGE_BOOT_INDEX) != 0) return {};
  const fs::path out = scratch.path() / "Winre.wim";
  if (wimlib_write(wim.get(), out.c_str(), WIMLIB_ALL_IMAGES, 0, 1) != 0) return {};
  return ReadFile(out);
}

// wimlib applies a captured folder tree onto an unmounted NTFS volume file
// through libntfs-3g, keeping the label mkntfs gave it.
Bytes MakeVolume(const std::u16string& label, std::uint64_t startLba, std::uint64_t sectors,
                 std::uint32_t sectorSize) {
  const std::string mkntfs = FindMkntfs();
  const Bytes& wimBytes = SmallWinreWim();
  if (mkntfs.empty() || wimBytes.empty()) return {};
  Scratch scratch;
  if (scratch.path().empty()) return {};
  const fs::path tree = scratch.path() / "tree";
  const fs::path folder = tree / "Recovery" / "WindowsRE";
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !WriteFile(folder / "Winre.wim", wimBytes) || !WriteFile(folder / "boot.sdi", SmallBootSdi()))
    return {};
  const fs::path volume = scratch.path() / "volume.img";
  { std::ofstream make(volume, std::ios::binary); }
  fs::resize_file(volume, sectors * sectorSize, ec);
  if (ec) return {};
  if (!Run({mkntfs, "-F", "-Q", "-q", "-L", Utf8(label), "-s", std::to_string(sectorSize), "-p",
            std::to_string(startLba), "-H", "255", "-S", "63", volume.string()})) {
    return {};
  }
  WIMStruct* raw = nullptr;
  if (wimlib_create_new_wim(WIMLIB_COMPRESSION_TYPE_NONE, &raw) != 0) return {};
  WimPtr wim(raw);
  if (wimlib_add_image(wim.get(), tree.c_str(), "tree", nullptr, WIMLIB_ADD_FLAG_NO_ACLS) != 0) return {};
  if (wimlib_extract_image(wim.get(), 1, volume.c_str(),
                           WIMLIB_EXTRACT_FLAG_NTFS | WIMLIB_EXTRACT_FLAG_NO_ACLS) != 0) {
    return {};
  }
  return ReadFile(volume);
}

std::mutex& CacheLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

const Bytes& SmallWinreWim() {
  static const Bytes wim = MakeWim();
  return wim;
}

const Bytes& SmallBootSdi() {
  static const Bytes sdi = [] {
    Bytes b(4096, 0);
    const char kSignature[] = "$SDI0001";
    for (std::size_t i = 0; i + 1 < sizeof(kSignature); ++i) b[i] = static_cast<std::uint8_t>(kSignature[i]);
    return b;
  }();
  return sdi;
}

Bytes RecoveryNtfs(const std::u16string& label, std::uint64_t startLba, std::uint64_t sectors,
                   std::uint32_t sectorSize) {
  static std::map<std::tuple<std::u16string, std::uint64_t, std::uint64_t, std::uint32_t>, Bytes> cache;
  std::lock_guard<std::mutex> hold(CacheLock());
  auto key = std::make_tuple(label, startLba, sectors, sectorSize);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, MakeVolume(label, startLba, sectors, sectorSize)).first;
  return it->second;
}

}  // namespace tavu::images
