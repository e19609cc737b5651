#include "tools/tavu-sim/input_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "sim/formats/image_format.h"
#include "launcher/arming/recovery_entry.h"
#include "sim/formats/code_pages.h"
#include "tools/tavu-sim/listing_input.h"

namespace tavu::tool {

namespace {

const char* TypeName(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory";
  if (S_ISFIFO(mode)) return "a FIFO: not a regular file or block device";
  if (S_ISSOCK(mode)) return "a socket: not a regular file or block device";
  if (S_ISCHR(mode)) return "a character device: not a regular file or block device";
  return "not a regular file or block device";
}

// Closes the descriptor it was given on every way out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A file in a format the machine does not read, or a container to be written:
// said before anything is opened for long.
std::string FormatProblem(int fd, const std::string& path, std::uint64_t size, bool write,
                          bool* writeRefused) {
  std::uint8_t head[512] = {};
  std::uint8_t tail[512] = {};
  const std::size_t headSize = size < sizeof head ? static_cast<std::size_t>(size) : sizeof head;
  const std::size_t tailSize = size < sizeof tail ? static_cast<std::size_t>(size) : sizeof tail;
  if (pread(fd, head, headSize, 0) != static_cast<ssize_t>(headSize) ||
      pread(fd, tail, tailSize, static_cast<off_t>(size - tailSize)) != static_cast<ssize_t>(tailSize)) {
    return "";  // the reading itself fails later, with its own reason
  }
  const sim::ImageKind kind = sim::IdentifyImage(head, headSize, tail, tailSize);
  *writeRefused = write && sim::IsContainer(kind.format);
  return sim::FormatRefusal(kind, path, write);
}

// The whole file, up to the size past which no boot store's listing goes.
std::string ListingProblem(int fd) {
  std::string bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof(chunk));
    if (n < 0) return std::strerror(errno);
    if (n == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
    if (bytes.size() > kMaxListingBytes) return "larger than any listing of bcdedit /enum all";
  }
  if (LooksLikeUtf16(bytes.substr(0, 512))) {
    return "UTF-16 listing: capture it in cmd.exe, or convert it";
  }
  std::wstring text = sim::DecodeCodePage(437, bytes);
  return ReadGivenListing(&text);
}

}  // namespace

bool LooksLikeUtf16(const std::string& head) {
  if (head.size() >= 2 &&
      ((head[0] == '\xFF' && head[1] == '\xFE') || (head[0] == '\xFE' && head[1] == '\xFF'))) {
    return true;
  }
  // Without a mark: text of ASCII characters has a zero in every second byte.
  if (head.size() < 8) return false;
  std::size_t zeros[2] = {0, 0};
  for (std::size_t i = 0; i < head.size(); ++i) zeros[i % 2] += head[i] == '\0' ? 1 : 0;
  const std::size_t half = head.size() / 2;
  return (zeros[1] == half && zeros[0] == 0) || (zeros[0] == half && zeros[1] == 0);
}

std::string InputFileProblem(const InputFile& file, bool write, bool* writeRefused) {
  *writeRefused = false;
  struct stat st {};
  if (stat(file.path.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return TypeName(st.st_mode);
  const bool writes = write && file.disk;
  Fd fd(open(file.path.c_str(), (writes ? O_RDWR : O_RDONLY) | O_CLOEXEC));
  if (fd.get() < 0) {
    const int error = errno;
    // A file that reads but does not write: say it is the writing that fails.
    *writeRefused = writes && access(file.path.c_str(), R_OK) == 0;
    return std::strerror(error);
  }
  if (file.disk && S_ISREG(st.st_mode) && st.st_size == 0)
    return "an empty file: an image holds at least one sector";
  if (file.disk && S_ISREG(st.st_mode)) {
    std::string problem =
        FormatProblem(fd.get(), file.path, static_cast<std::uint64_t>(st.st_size), writes, writeRefused);
    if (!problem.empty()) return problem;
  }
  if (std::strcmp(file.what, "listing") == 0) return ListingProblem(fd.get());
  return "";
}

int CheckInputFiles(const SimOptions& options, std::FILE* err) {
  struct Seen {
    dev_t device;
    ino_t inode;
    const std::string* path;
  };
  std::vector<Seen> disks;
  for (const InputFile& file : options.inputFiles) {
    bool writing = false;
    std::string problem = InputFileProblem(file, options.write, &writing);
    struct stat st {};
    if (problem.empty() && file.disk && stat(file.path.c_str(), &st) == 0) {
      // One file given twice would be two disks that are one: written twice
      // with --write, and seen twice by every search.
      for (const Seen& seen : disks) {
        if (seen.device == st.st_dev && seen.inode == st.st_ino) {
          problem = "the same file as '" + *seen.path + "', given twice";
        }
      }
      disks.push_back(Seen{st.st_dev, st.st_ino, &file.path});
    }
    if (!problem.empty()) {
      std::fprintf(err, "tavu-sim: cannot %s %s '%s': %s\n", writing ? "write" : "read", file.what,
                   file.path.c_str(), problem.c_str());
      return 2;
    }
  }
  return 0;
}

}  // namespace tavu::tool
