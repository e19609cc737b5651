#include "sim/formats/volume_files.h"

#include <tsk/libtsk.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "sim/formats/disk_image.h"

namespace tavu::sim {

namespace {

// The Sleuth Kit reads an image it cannot open itself through a structure
// that begins with its own image record; it calls back for every read.
struct ExternalImage {
  TSK_IMG_INFO info;
  const DiskImage* image;
};

ssize_t ReadImage(TSK_IMG_INFO* info, TSK_OFF_T offset, char* buffer, size_t length) {
  const auto* ext = reinterpret_cast<ExternalImage*>(info);
  if (offset < 0 || offset >= info->size) return 0;
  const auto count = std::min<std::uint64_t>(length, static_cast<std::uint64_t>(info->size - offset));
  if (!ext->image->Read(static_cast<std::uint64_t>(offset), buffer, static_cast<std::size_t>(count)))
    return -1;
  return static_cast<ssize_t>(count);
}

void CloseImage(TSK_IMG_INFO* info) { std::free(info); }

void ImageStat(TSK_IMG_INFO*, FILE*) {}

struct ImageCloser {
  void operator()(TSK_IMG_INFO* info) const { tsk_img_close(info); }
};
struct FsCloser {
  void operator()(TSK_FS_INFO* fs) const { tsk_fs_close(fs); }
};
struct FileCloser {
  void operator()(TSK_FS_FILE* file) const { tsk_fs_file_close(file); }
};

class TskFileSystem;

class TskFile final : public VolumeFile {
 public:
  TskFile(std::shared_ptr<TskFileSystem> owner, TSK_FS_FILE* file) : owner_(std::move(owner)), file_(file) {}
  std::uint64_t size() const override {
    return file_->meta != nullptr && file_->meta->size > 0 ? static_cast<std::uint64_t>(file_->meta->size)
                                                           : 0;
  }
  bool directory() const override {
    return file_->meta != nullptr && file_->meta->type == TSK_FS_META_TYPE_DIR;
  }
  bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t* read) override {
    *read = 0;
    if (offset >= this->size() || size == 0) return true;
    const ssize_t n = tsk_fs_file_read(file_.get(), static_cast<TSK_OFF_T>(offset),
                                       static_cast<char*>(buffer), size, TSK_FS_FILE_READ_FLAG_NONE);
    tsk_error_reset();
    if (n < 0) return false;
    *read = static_cast<std::uint32_t>(n);
    return true;
  }

 private:
  // Declared first, so the file closes before its file system does.
  std::shared_ptr<TskFileSystem> owner_;
  std::unique_ptr<TSK_FS_FILE, FileCloser> file_;
};

class TskFileSystem final : public VolumeFileSystem, public std::enable_shared_from_this<TskFileSystem> {
 public:
  TskFileSystem(std::unique_ptr<TSK_IMG_INFO, ImageCloser> image, std::unique_ptr<TSK_FS_INFO, FsCloser> fs)
      : image_(std::move(image)), fs_(std::move(fs)) {}

  VolumeLookup Open(const std::string& path, std::unique_ptr<VolumeFile>* file) override {
    std::string parent;
    const std::string full = LibraryPath(path, &parent);
    if (TSK_FS_FILE* found = Lookup(full)) {
      *file = std::make_unique<TskFile>(shared_from_this(), found);
      return VolumeLookup::Found;
    }
    std::unique_ptr<TSK_FS_FILE, FileCloser> folder(Lookup(parent));
    const bool isFolder =
        folder != nullptr && folder->meta != nullptr && folder->meta->type == TSK_FS_META_TYPE_DIR;
    return isFolder ? VolumeLookup::NoFile : VolumeLookup::NoPath;
  }

 private:
  // "/A/B" from "\A\B" or "A/B", and the parent folder's path beside it.
  static std::string LibraryPath(const std::string& path, std::string* parent) {
    std::string out;
    std::string name;
    *parent = "/";
    for (std::size_t i = 0; i <= path.size(); ++i) {
      if (i == path.size() || path[i] == '\\' || path[i] == '/') {
        if (!name.empty()) {
          *parent = out.empty() ? "/" : out;
          out += "/" + name;
        }
        name.clear();
      } else {
        name.push_back(path[i]);
      }
    }
    return out.empty() ? "/" : out;
  }

  // A name that only a deleted entry still carries names no file.
  TSK_FS_FILE* Lookup(const std::string& path) {
    TSK_FS_FILE* f = tsk_fs_file_open(fs_.get(), nullptr, path.c_str());
    tsk_error_reset();
    if (f == nullptr) return nullptr;
    const bool deleted = (f->name != nullptr && (f->name->flags & TSK_FS_NAME_FLAG_UNALLOC) != 0) ||
                         f->meta == nullptr || (f->meta->flags & TSK_FS_META_FLAG_UNALLOC) != 0;
    if (deleted) {
      tsk_fs_file_close(f);
      return nullptr;
    }
    return f;
  }

  // Declared first, so the image closes after the file system.
  std::unique_ptr<TSK_IMG_INFO, ImageCloser> image_;
  std::unique_ptr<TSK_FS_INFO, FsCloser> fs_;
};

// The image as the library reads it, up to the volume's end.
std::unique_ptr<TSK_IMG_INFO, ImageCloser> OpenImage(const DiskImage& image, std::uint64_t end) {
  // The library fills in and frees the record through the callbacks.
  auto* ext = static_cast<ExternalImage*>(std::calloc(1, sizeof(ExternalImage)));
  if (ext == nullptr) return nullptr;
  ext->image = &image;
  TSK_IMG_INFO* opened =
      tsk_img_open_external(ext, static_cast<TSK_OFF_T>(end), image.sectorSize(), ReadImage, CloseImage, ImageStat);
  if (opened == nullptr) {
    std::free(ext);
    tsk_error_reset();
  }
  return std::unique_ptr<TSK_IMG_INFO, ImageCloser>(opened);
}

// The library's FAT detection goes by the count of clusters (fewer than 4085:
// FAT12) and takes a small FAT32 volume for FAT12 or FAT16; Windows goes by
// the boot sector, which names FAT32 by its 32-bit FAT size.
std::unique_ptr<TSK_FS_INFO, FsCloser> OpenFs(TSK_IMG_INFO* img, std::uint64_t offset) {
  for (TSK_FS_TYPE_ENUM type : {TSK_FS_TYPE_NTFS_DETECT, TSK_FS_TYPE_FAT_DETECT, TSK_FS_TYPE_FAT32}) {
    TSK_FS_INFO* fs = tsk_fs_open_img(img, static_cast<TSK_OFF_T>(offset), type);
    tsk_error_reset();
    if (fs != nullptr) return std::unique_ptr<TSK_FS_INFO, FsCloser>(fs);
  }
  return nullptr;
}

std::u16string FromUtf16Le(const unsigned char* bytes, std::size_t size) {
  std::u16string out;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    out.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
  return out;
}

// $Volume (MFT record 3) holds the label as its $VOLUME_NAME attribute.
std::u16string NtfsLabel(TSK_FS_INFO* fs) {
  std::unique_ptr<TSK_FS_FILE, FileCloser> volume(tsk_fs_file_open_meta(fs, nullptr, 3));
  tsk_error_reset();
  if (volume == nullptr) return u"";
  const TSK_FS_ATTR* name = tsk_fs_file_attr_get_type(volume.get(), TSK_FS_ATTR_TYPE_NTFS_VNAME, 0, 0);
  tsk_error_reset();
  if (name == nullptr || (name->flags & TSK_FS_ATTR_RES) == 0 || name->rd.buf == nullptr || name->size <= 0) {
    return u"";
  }
  return FromUtf16Le(name->rd.buf,
                     std::min<std::size_t>(name->rd.buf_size, static_cast<std::size_t>(name->size)));
}

// The label entry of the root folder, as Windows reads it: the first entry
// with the volume-label attribute that is neither a long-name part nor
// deleted, up to the end mark. The library follows the folder's cluster
// chain; its own listing passes over a label entry whose date is zero, which
// Windows does not.
std::u16string FatLabel(TSK_FS_INFO* fs) {
  std::unique_ptr<TSK_FS_FILE, FileCloser> root(tsk_fs_file_open_meta(fs, nullptr, fs->root_inum));
  tsk_error_reset();
  if (root == nullptr || root->meta == nullptr || root->meta->size <= 0) return u"";
  constexpr std::size_t kMaxRootBytes = 1u << 20;
  std::vector<char> bytes(std::min<std::size_t>(static_cast<std::size_t>(root->meta->size), kMaxRootBytes));
  const ssize_t got = tsk_fs_file_read(root.get(), 0, bytes.data(), bytes.size(), TSK_FS_FILE_READ_FLAG_NONE);
  tsk_error_reset();
  std::u16string label;
  for (ssize_t at = 0; got > 0 && at + 32 <= got; at += 32) {
    const auto first = static_cast<unsigned char>(bytes[static_cast<std::size_t>(at)]);
    const auto attributes = static_cast<unsigned char>(bytes[static_cast<std::size_t>(at) + 11]);
    if (first == 0x00) break;
    if (first == 0xE5 || (attributes & 0x0F) == 0x0F || (attributes & 0x18) != 0x08) continue;
    // The entry's bytes are in the OEM code page; labels are ASCII in practice.
    for (std::size_t i = 0; i < 11; ++i)
      label.push_back(static_cast<unsigned char>(bytes[static_cast<std::size_t>(at) + i]));
    while (!label.empty() && label.back() == u' ') label.pop_back();
    break;
  }
  return label;
}

TSK_WALK_RET_ENUM CountBlock(const TSK_FS_BLOCK*, void* count) {
  ++*static_cast<std::uint64_t*>(count);
  return TSK_WALK_CONT;
}

}  // namespace

VolumeFacts ReadVolumeFacts(const DiskImage& image, std::uint64_t offset, std::uint64_t length) {
  VolumeFacts facts;
  if (offset >= image.size() || length == 0) return facts;
  auto img = OpenImage(image, std::min(image.size(), offset + length));
  if (img == nullptr) return facts;
  auto fs = OpenFs(img.get(), offset);
  if (fs == nullptr) return facts;
  facts.recognized = true;
  if (TSK_FS_TYPE_ISNTFS(fs->ftype)) {
    facts.fileSystem = "NTFS";
    facts.label = NtfsLabel(fs.get());
  } else {
    facts.fileSystem = fs->ftype == TSK_FS_TYPE_FAT32 ? "FAT32" : "FAT";
    facts.label = FatLabel(fs.get());
  }
  std::uint64_t freeBlocks = 0;
  if (tsk_fs_block_walk(fs.get(), fs->first_block, fs->last_block,
                        static_cast<TSK_FS_BLOCK_WALK_FLAG_ENUM>(TSK_FS_BLOCK_WALK_FLAG_UNALLOC |
                                                                 TSK_FS_BLOCK_WALK_FLAG_AONLY),
                        CountBlock, &freeBlocks) == 0) {
    facts.freeBytes = freeBlocks * fs->block_size;
  }
  tsk_error_reset();
  facts.totalBytes = static_cast<std::uint64_t>(fs->block_count) * fs->block_size;
  return facts;
}

std::shared_ptr<VolumeFileSystem> OpenVolumeFileSystem(const DiskImage& image, std::uint64_t offset,
                                                       std::uint64_t length) {
  if (offset >= image.size() || length == 0) return nullptr;
  auto img = OpenImage(image, std::min(image.size(), offset + length));
  if (img == nullptr) return nullptr;
  auto fs = OpenFs(img.get(), offset);
  if (fs == nullptr) return nullptr;
  return std::make_shared<TskFileSystem>(std::move(img), std::move(fs));
}

}  // namespace tavu::sim
