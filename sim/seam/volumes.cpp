#include "sim/seam/volumes.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <map>
#include <set>

#include "common/volume_label.h"
#include "common/win_errors.h"
#include "sim/core/last_error.h"
#include "sim/core/operation.h"
#include "sim/core/text.h"
#include "sim/formats/volume_files.h"
#include "sim/seam/system.h"

namespace tavu::sim {

struct SimVolumes::VolumeHandle : SimObject {
  std::uint64_t id = 0;
  // Opened with GENERIC_READ | GENERIC_WRITE.
  bool forChange = false;
  bool dismounted = false;
};

struct SimVolumes::SearchHandle : SimObject {
  std::shared_ptr<const NameList> names;
  std::size_t next = 0;
};

namespace {

constexpr std::uint8_t kMsReservedGuid[16] = {0x16, 0xE3, 0xC9, 0xE3, 0x5C, 0x0B, 0xB8, 0x4D,
                                              0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE};
constexpr std::uint64_t kGptNoDriveLetter = std::uint64_t{1} << 63;
constexpr std::uint64_t kGptHidden = std::uint64_t{1} << 62;

bool IsBasicData(const PARTITION_INFORMATION_EX& e) {
  return std::memcmp(&e.Gpt.PartitionType, kBasicDataGuidBytes, 16) == 0;
}

bool IsPresentedMbrType(std::uint8_t type) {
  return type == 0x07 || type == 0x0B || type == 0x0C || type == 0x0E || type == 0x06;
}

// Whether Windows presents a volume for the entry, and whether the volume gets
// a letter at machine start.
bool Presented(std::uint32_t style, const PARTITION_INFORMATION_EX& e, bool* startLetter) {
  *startLetter = false;
  if (style == PARTITION_STYLE_GPT) {
    if (std::memcmp(&e.Gpt.PartitionType, kMsReservedGuid, 16) == 0) return false;
    if (IsBasicData(e)) {
      if ((e.Gpt.Attributes & kGptHidden) != 0) return false;
      *startLetter = (e.Gpt.Attributes & kGptNoDriveLetter) == 0;
    }
    return true;
  }
  if (style == PARTITION_STYLE_MBR && e.PartitionNumber != 0 && IsPresentedMbrType(e.Mbr.PartitionType)) {
    *startLetter = true;
    return true;
  }
  return false;
}

std::wstring FormatVolumeName(const std::uint8_t g[16]) {
  // In-memory GUID layout: Data1..Data3 little-endian, Data4 as bytes.
  wchar_t text[64];
  // 49 characters always fit.
  (void)std::swprintf(
      text, 64, L"\\\\?\\Volume{%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x}\\",
      g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return text;
}

// A stable GUID from a few bytes of identity (version 4 bits, variant 10).
void DerivedGuid(const std::uint8_t* seed, std::size_t size, std::uint8_t out[16]) {
  for (int part = 0; part < 4; ++part) {
    uLong crc = crc32(0L, Z_NULL, 0);
    const std::uint8_t salt = static_cast<std::uint8_t>(0xA5 + part);
    crc = crc32(crc, &salt, 1);
    crc = crc32(crc, seed, static_cast<uInt>(size));
    for (int k = 0; k < 4; ++k) out[part * 4 + k] = static_cast<std::uint8_t>(crc >> (8 * k));
  }
  out[7] = static_cast<std::uint8_t>((out[7] & 0x0F) | 0x40);
  out[8] = static_cast<std::uint8_t>((out[8] & 0x3F) | 0x80);
}

bool IsZeroGuid(const Guid& g) {
  static const std::uint8_t kZero[16] = {};
  return std::memcmp(&g, kZero, 16) == 0;
}

// "X:\" (any case) gives X, anything else 0.
wchar_t RootLetter(const wchar_t* root) {
  if (root == nullptr) return 0;
  wchar_t c = AsciiUpper(root[0]);
  if (c < L'A' || c > L'Z' || root[1] != L':' || root[2] != L'\\' || root[3] != L'\0') return 0;
  return c;
}

bool HasVolumePrefix(const wchar_t* path) {
  return path != nullptr && path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') &&
         path[3] == L'\\';
}

// The partition's bytes on its disk image, for the file-system label readers.
class ImageSectors final : public SectorSource {
 public:
  explicit ImageSectors(const DiskImage& image) : image_(image) {}
  bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t* read) override {
    *read = 0;
    if (offset >= image_.size()) return false;
    std::uint64_t count = std::min<std::uint64_t>(size, image_.size() - offset);
    if (!image_.Read(offset, buffer, static_cast<std::size_t>(count))) return false;
    *read = static_cast<std::uint32_t>(count);
    return true;
  }
  int AnsiToWide(const char* text, wchar_t* out, int capacity) override {
    int n = static_cast<int>(std::strlen(text)) + 1;
    if (n > capacity) return 0;
    for (int i = 0; i < n; ++i) out[i] = Cp1252ToWide(static_cast<unsigned char>(text[i]));
    return n;
  }

 private:
  const DiskImage& image_;
};

}  // namespace

std::wstring SimVolumes::MakeName(int disk, const PARTITION_INFORMATION_EX& entry,
                                  std::uint32_t style) const {
  std::uint8_t guid[16];
  if (style == PARTITION_STYLE_GPT && !IsZeroGuid(entry.Gpt.PartitionId)) {
    // A GPT volume carries its partition's unique GUID, as on Windows.
    std::memcpy(guid, &entry.Gpt.PartitionId, 16);
  } else {
    std::uint8_t seed[16] = {};
    SimLayout layout = disks_.Layout(disk);
    std::memcpy(seed, &layout.mbr.Signature, 4);
    std::memcpy(seed + 4, &entry.StartingOffset, 8);
    DerivedGuid(seed, sizeof(seed), guid);
  }
  std::wstring name = FormatVolumeName(guid);
  // The same image given twice would give the same names; the later disk's
  // volume takes a name derived from its disk number too.
  for (int salt = 1;
       std::any_of(volumes_.begin(), volumes_.end(), [&](const Volume& v) { return v.name == name; });
       ++salt) {
    std::uint8_t seed[24];
    std::memcpy(seed, guid, 16);
    std::memcpy(seed + 16, &disk, sizeof(disk));
    std::memcpy(seed + 20, &salt, sizeof(salt));
    std::uint8_t derived[16];
    DerivedGuid(seed, sizeof(seed), derived);
    name = FormatVolumeName(derived);
  }
  return name;
}

void SimVolumes::Refresh(bool autoMountNew) {
  Recompute(autoMountNew ? NewVolumes::StartRule : NewVolumes::NoLetter);
}

// Only the written disk's volumes can change: the others are left as they are,
// which keeps a pass over many disks from reading every table after each write.
void SimVolumes::RefreshAfterLayoutWrite(int disk) {
  Recompute(NewVolumes::Arrive, disk);
  Arrive();
}

std::uint64_t SimVolumes::LastArrivalDue() const {
  std::uint64_t last = 0;
  for (const Pending& p : pending_) last = std::max(last, p.due);
  return last;
}

void SimVolumes::AddDiskVolume(int disk, const PARTITION_INFORMATION_EX& entry, std::uint32_t style,
                               wchar_t letter) {
  Volume v;
  v.id = nextId_++;
  v.disk = disk;
  v.offset = entry.StartingOffset;
  v.length = entry.PartitionLength;
  v.name = MakeName(disk, entry, style);
  v.letter = letter;
  v.device = nextDevice_++;
  volumes_.push_back(std::move(v));
  Indexed(volumes_.size() - 1);
}

// Due volumes arrive in the order their writes presented them, each only if
// its partition is still presented then.
void SimVolumes::Arrive() {
  if (pending_.empty()) return;
  const std::uint64_t now = Now();
  std::vector<Pending> later;
  for (const Pending& p : pending_) {
    if (p.due > now) {
      later.push_back(p);
      continue;
    }
    SimLayout layout = disks_.Layout(p.disk);
    for (const PARTITION_INFORMATION_EX& e : layout.entries) {
      bool letterRule = false;
      if (e.StartingOffset != p.offset || !Presented(layout.style, e, &letterRule)) continue;
      const wchar_t letter = automount_ && letterRule ? FirstFreeLetter() : 0;
      AddDiskVolume(p.disk, e, layout.style, letter);
      arrivals_.push_back(Arrival{volumes_.back().name, p.disk, p.offset, now - p.written, now, letter});
      break;
    }
  }
  pending_.swap(later);
}

void SimVolumes::Recompute(NewVolumes rule, int onlyDisk) {
  struct Wanted {
    int disk;
    PARTITION_INFORMATION_EX entry;
    std::uint32_t style;
    bool startLetter;
  };
  std::vector<Wanted> wanted;
  std::set<std::pair<int, std::int64_t>> wantedAt;
  for (int d = 0; d < disks_.Count(); ++d) {
    if (disks_.Image(d) == nullptr || (onlyDisk >= 0 && d != onlyDisk)) continue;
    SimLayout layout = disks_.Layout(d);
    for (const PARTITION_INFORMATION_EX& e : layout.entries) {
      bool startLetter = false;
      if (Presented(layout.style, e, &startLetter)) {
        wanted.push_back(Wanted{d, e, layout.style, startLetter});
        wantedAt.insert({d, e.StartingOffset});
      }
    }
  }
  // A partition hidden again before its volume came never arrives.
  pending_.erase(
      std::remove_if(pending_.begin(), pending_.end(),
                     [&](const Pending& p) {
                       return (onlyDisk < 0 || p.disk == onlyDisk) && wantedAt.count({p.disk, p.offset}) == 0;
                     }),
      pending_.end());
  // Volumes that are no longer presented go, with their letters and folders.
  auto gone = std::remove_if(volumes_.begin(), volumes_.end(), [&](const Volume& v) {
    if (v.foreign || (onlyDisk >= 0 && v.disk != onlyDisk)) return false;
    return wantedAt.count({v.disk, v.offset}) == 0;
  });
  if (gone != volumes_.end()) {
    indexValid_ = false;
    listed_.reset();
  }
  volumes_.erase(gone, volumes_.end());
  std::map<std::pair<int, std::int64_t>, std::size_t> existing;
  for (std::size_t i = 0; i < volumes_.size(); ++i) {
    const Volume& v = volumes_[i];
    if (!v.foreign && (onlyDisk < 0 || v.disk == onlyDisk)) existing[{v.disk, v.offset}] = i;
  }
  for (const Wanted& w : wanted) {
    auto found = existing.find({w.disk, w.entry.StartingOffset});
    if (found != existing.end()) {
      volumes_[found->second].length = w.entry.PartitionLength;
      continue;
    }
    if (rule == NewVolumes::Arrive) {
      const bool scheduled = std::any_of(pending_.begin(), pending_.end(), [&](const Pending& p) {
        return p.disk == w.disk && p.offset == w.entry.StartingOffset;
      });
      if (!scheduled) pending_.push_back(Pending{w.disk, w.entry.StartingOffset, Now(), Now() + arrivalMs_});
      continue;
    }
    AddDiskVolume(w.disk, w.entry, w.style,
                  rule == NewVolumes::StartRule && w.startLetter ? FirstFreeLetter() : 0);
    existing[{w.disk, w.entry.StartingOffset}] = volumes_.size() - 1;
    Volume& added = volumes_.back();
    added.startLettered = added.letter != 0;
    added.windowsKind = w.style == PARTITION_STYLE_GPT
                            ? IsBasicData(w.entry)
                            : w.style == PARTITION_STYLE_MBR && w.entry.Mbr.PartitionType == 0x07;
  }
  // Disks are added one by one at machine start; a stick given before the
  // notebook's disk must not keep the letter of the volume Windows runs from.
  if (rule == NewVolumes::StartRule && onlyDisk < 0) LetterAtStart();
}

void SimVolumes::LetterAtStart() {
  for (Volume& v : volumes_) {
    if (v.startLettered) v.letter = 0;
  }
  int windowsDisk = -1;
  for (int d = 0; d < disks_.Count() && windowsDisk < 0; ++d) {
    if (disks_.Kind(d) == DiskKind::Fixed && disks_.Image(d) != nullptr) windowsDisk = d;
  }
  for (Volume& v : volumes_) {
    if (v.startLettered && v.windowsKind && v.disk == windowsDisk && !LetterInUse(L'C')) {
      v.letter = L'C';
      break;
    }
  }
  for (Volume& v : volumes_) {
    if (!v.startLettered || v.letter != 0) continue;
    for (wchar_t c = L'D'; c <= L'Z' && v.letter == 0; ++c) {
      if (!LetterInUse(c)) v.letter = c;
    }
  }
  indexValid_ = false;
  listed_.reset();
}

wchar_t SimVolumes::FirstFreeLetter() const {
  // C: belongs to the volume Windows runs from, even where no disk holds it.
  for (wchar_t c = L'D'; c <= L'Z'; ++c) {
    if (!LetterInUse(c)) return c;
  }
  return 0;
}

bool SimVolumes::LetterInUse(wchar_t letter) const {
  return std::any_of(volumes_.begin(), volumes_.end(), [&](const Volume& v) { return v.letter == letter; });
}

SimVolumes::Volume* SimVolumes::ByName(const wchar_t* name, bool trailingBackslash) {
  if (!HasVolumePrefix(name)) return nullptr;
  std::size_t length = std::wcslen(name);
  if (trailingBackslash) {
    if (length == 0 || name[length - 1] != L'\\') return nullptr;
  } else if (length != 0 && name[length - 1] == L'\\') {
    return nullptr;
  }
  // A volume search hands out the names in table order, and a caller walking
  // it opens each in turn, as it was handed out: the volume after the last one
  // found is tried first.
  if (std::size_t next = lastFound_ + 1; next < volumes_.size()) {
    const std::wstring& candidate = volumes_[next].name;
    if (candidate.size() == length + (trailingBackslash ? 0 : 1) &&
        std::wmemcmp(candidate.data(), name, length) == 0) {
      lastFound_ = next;
      return &volumes_[next];
    }
  }
  // Past the prefix, whose third character may be '?' or '.', without the
  // trailing backslash, in upper case: the index's key. Every simulated name is
  // far shorter than the room here; a longer text names no volume.
  wchar_t key[64];
  const std::size_t keyLength = length - 4 - (trailingBackslash ? 1 : 0);
  if (keyLength > std::size(key)) return nullptr;
  for (std::size_t i = 0; i < keyLength; ++i) key[i] = AsciiUpper(name[4 + i]);
  auto it = Index().byName.find(std::wstring_view(key, keyLength));
  if (it == Index().byName.end()) return nullptr;
  lastFound_ = it->second;
  return &volumes_[it->second];
}

// A pass over many disks asks for volumes by name and id thousands of times.
const SimVolumes::VolumeIndex& SimVolumes::Index() {
  if (!indexValid_) {
    index_.byName.clear();
    index_.byId.clear();
    indexValid_ = true;
    for (std::size_t i = 0; i < volumes_.size(); ++i) Indexed(i);
  }
  return index_;
}

// A volume just appended joins a valid index; an invalid one is rebuilt anyway.
void SimVolumes::Indexed(std::size_t at) {
  // A list no search holds any more grows with the volume; one a search
  // still holds stays as that search saw it.
  if (listed_ && listed_.use_count() == 1) {
    if (volumes_[at].enumerated) listed_->push_back(volumes_[at].name);
  } else {
    listed_.reset();
  }
  if (!indexValid_) return;
  std::wstring key = volumes_[at].name.size() > 4 ? volumes_[at].name.substr(4) : std::wstring();
  if (!key.empty() && key.back() == L'\\') key.pop_back();
  index_.byName.emplace(AsciiUpper(key), at);
  index_.byId.emplace(volumes_[at].id, at);
}

SimVolumes::Volume* SimVolumes::ByLetter(wchar_t letter) {
  for (Volume& v : volumes_) {
    if (letter != 0 && v.letter == letter) return &v;
  }
  return nullptr;
}

SimVolumes::Volume* SimVolumes::ById(std::uint64_t id) {
  auto it = Index().byId.find(id);
  return it == Index().byId.end() ? nullptr : &volumes_[it->second];
}

SimVolumes::Volume* SimVolumes::ByRoot(const wchar_t* root) {
  if (wchar_t letter = RootLetter(root)) return ByLetter(letter);
  return ByName(root, true);
}

std::shared_ptr<const SimVolumes::NameList> SimVolumes::Listed() {
  if (!listed_) {
    auto names = std::make_shared<NameList>();
    for (const Volume& v : volumes_) {
      if (v.enumerated) names->push_back(v.name);
    }
    listed_ = std::move(names);
  }
  return listed_;
}

Handle SimVolumes::FirstVolume(wchar_t* name, std::uint32_t capacity) {
  Arrive();
  if (Refused(faults_, SimOp::VolumeEnum, kErrorGenFailure)) return kInvalidHandle;
  auto search = std::make_unique<SearchHandle>();
  search->names = Listed();
  const NameList& names = *search->names;
  if (names.empty()) {
    SetLastError(kErrorNoMoreFiles);
    return kInvalidHandle;
  }
  if (name == nullptr || capacity < names[0].size() + 1) {
    SetLastError(kErrorFilenameExcedRange);
    return kInvalidHandle;
  }
  std::wmemcpy(name, names[0].c_str(), names[0].size() + 1);
  search->next = 1;
  SetLastError(kErrorSuccess);
  return handles_.Add(std::move(search), HandleKind::VolumeSearch);
}

bool SimVolumes::NextVolume(Handle search, wchar_t* name, std::uint32_t capacity) {
  Arrive();
  SearchHandle* s = Enter<SearchHandle>(handles_, faults_, search, SimOp::VolumeEnum, kErrorGenFailure,
                                        Count::BeforeHandle);
  if (s == nullptr) return false;
  if (s->next >= s->names->size()) return Failed(kErrorNoMoreFiles);
  const std::wstring& n = (*s->names)[s->next];
  if (name == nullptr || capacity < n.size() + 1) return Failed(kErrorFilenameExcedRange);
  std::wmemcpy(name, n.c_str(), n.size() + 1);
  ++s->next;
  return true;
}

bool SimVolumes::CloseVolumeSearch(Handle search) {
  if (!handles_.Close(search, HandleKind::VolumeSearch)) return Failed(kErrorInvalidHandle);
  return true;
}

SimVolumes::Volume* SimVolumes::ByDevicePath(const wchar_t* path) {
  Volume* v = nullptr;
  if (HasVolumePrefix(path)) {
    const wchar_t* rest = path + 4;
    wchar_t c = AsciiUpper(rest[0]);
    if (c >= L'A' && c <= L'Z' && rest[1] == L':' && rest[2] == L'\0') {
      v = ByLetter(c);
    } else {
      std::size_t length = std::wcslen(path);
      if (length > 0 && path[length - 1] == L'\\') {
        // The root directory, not the device: a directory needs backup
        // semantics to be opened.
        SetLastError(ByName(path, true) != nullptr ? kErrorAccessDenied : kErrorFileNotFound);
        return nullptr;
      }
      v = ByName(path, false);
    }
  }
  if (v == nullptr) SetLastError(kErrorFileNotFound);
  return v;
}

Handle SimVolumes::OpenVolume(const wchar_t* path, bool /*readAccess*/) { return OpenDevice(path, false); }

Handle SimVolumes::OpenVolumeForChange(const wchar_t* path) { return OpenDevice(path, true); }

// An offline volume's device still opens: only the I/O sent to it fails.
Handle SimVolumes::OpenDevice(const wchar_t* path, bool forChange) {
  Arrive();
  if (Refused(faults_, SimOp::VolumeOpen, kErrorAccessDenied)) return kInvalidHandle;
  Volume* v = ByDevicePath(path);
  if (v == nullptr) return kInvalidHandle;
  auto object = std::make_unique<VolumeHandle>();
  object->id = v->id;
  object->forChange = forChange;
  SetLastError(kErrorSuccess);
  return handles_.Add(std::move(object));
}

// The three controls ask for a handle opened with read and write access.
SimVolumes::Volume* SimVolumes::ForChange(Handle volume, SimOp op, std::uint32_t error,
                                          VolumeHandle** handle) {
  VolumeHandle* h = Enter<VolumeHandle>(handles_, faults_, volume, op, error, Count::BeforeHandle);
  if (h == nullptr) return nullptr;
  Volume* v = ById(h->id);
  if (v == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (!h->forChange) {
    SetLastError(kErrorAccessDenied);
    return nullptr;
  }
  if (v->noMediaDisk >= 0 || v->offline) {
    SetLastError(kErrorNotReady);
    return nullptr;
  }
  *handle = h;
  return v;
}

// Windows refuses the lock while any file on the volume is open (ERROR_ACCESS_DENIED).
bool SimVolumes::LockVolume(Handle volume) {
  VolumeHandle* h = nullptr;
  if (ForChange(volume, SimOp::VolumeLock, kErrorAccessDenied, &h) == nullptr) return false;
  SetLastError(kErrorSuccess);
  return true;
}

// Without a lock the dismount is forced: whoever has files open loses them.
bool SimVolumes::DismountVolume(Handle volume) {
  VolumeHandle* h = nullptr;
  if (ForChange(volume, SimOp::VolumeDismount, kErrorAccessDenied, &h) == nullptr) return false;
  h->dismounted = true;
  SetLastError(kErrorSuccess);
  return true;
}

// Only a volume whose file system this handle dismounted can be taken offline;
// Windows leaves the rest undefined, so the simulation refuses it.
bool SimVolumes::OfflineVolume(Handle volume) {
  VolumeHandle* h = nullptr;
  Volume* v = ForChange(volume, SimOp::VolumeOffline, kErrorInvalidFunction, &h);
  if (v == nullptr) return false;
  if (!h->dismounted) return Failed(kErrorAccessDenied);
  v->offline = true;
  SetLastError(kErrorSuccess);
  return true;
}

bool SimVolumes::GetExtents(Handle volume, void* buffer, std::uint32_t size) {
  VolumeHandle* h = Enter<VolumeHandle>(handles_, faults_, volume, SimOp::VolumeExtents, kErrorGenFailure,
                                        Count::BeforeHandle);
  if (h == nullptr) return false;
  Volume* v = ById(h->id);
  if (v == nullptr) return Failed(kErrorInvalidHandle);
  if (v->noMediaDisk >= 0) return Failed(kErrorNotReady);
  // An offline volume still answers: the volume manager keeps its extents
  // itself and sends nothing down to the disk for them.
  // A volume of a simulated disk lies on its partition; a foreign one where it
  // was placed. Either may have been given further extents.
  const std::size_t own = v->foreign ? v->foreignExtents.size() : 1;
  const std::size_t count = own + v->extraExtents.size();
  auto extent = [&](std::size_t i) {
    if (i >= own) return v->extraExtents[i - own];
    if (v->foreign) return v->foreignExtents[i];
    return DISK_EXTENT{static_cast<std::uint32_t>(v->disk), v->offset, v->length};
  };
  if (count == 0) return Failed(kErrorInvalidFunction);
  if (buffer == nullptr || size < sizeof(VOLUME_DISK_EXTENTS)) return Failed(kErrorInsufficientBuffer);
  auto* out = static_cast<VOLUME_DISK_EXTENTS*>(buffer);
  out->NumberOfDiskExtents = static_cast<std::uint32_t>(count);
  std::size_t room = (size - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT);
  for (std::size_t i = 0; i < count && i < room; ++i) *ExtentAt(out, i) = extent(i);
  // More extents than room: the count tells the caller how much to ask for.
  if (count > room) return Failed(kErrorMoreData);
  return true;
}

bool SimVolumes::PathNames(const wchar_t* volumeName, wchar_t* buffer, std::uint32_t capacity,
                           std::uint32_t* needed) {
  Arrive();
  if (Refused(faults_, SimOp::VolumePathNames, kErrorGenFailure)) return false;
  std::size_t length = volumeName == nullptr ? 0 : std::wcslen(volumeName);
  if (length == 0 || volumeName[length - 1] != L'\\') return Failed(kErrorInvalidName);
  Volume* v = ByName(volumeName, true);
  if (v == nullptr) return Failed(kErrorFileNotFound);
  std::wstring list;
  if (v->letter != 0) {
    list += v->letter;
    list += L":\\";
    list += L'\0';
  }
  for (const std::wstring& f : v->folders) {
    list += f;
    list += L'\0';
  }
  list += L'\0';
  const auto size = static_cast<std::uint32_t>(list.size());
  if (needed != nullptr) *needed = size;
  if (buffer == nullptr || capacity < size) return Failed(kErrorMoreData);
  std::wmemcpy(buffer, list.data(), list.size());
  // An empty list reads as an empty first string followed by the list's end.
  if (list.size() == 1 && capacity >= 2) buffer[1] = L'\0';
  SetLastError(kErrorSuccess);
  return true;
}

bool SimVolumes::SetMountPoint(const wchar_t* root, const wchar_t* volumeName) {
  Arrive();
  if (Refused(faults_, SimOp::MountPoint, kErrorGenFailure)) return false;
  std::size_t nameLength = volumeName == nullptr ? 0 : std::wcslen(volumeName);
  if (nameLength == 0 || volumeName[nameLength - 1] != L'\\') return Failed(kErrorInvalidName);
  Volume* v = ByName(volumeName, true);
  if (v == nullptr) return Failed(kErrorInvalidParameter);
  if (wchar_t letter = RootLetter(root)) {
    if (LetterInUse(letter)) return Failed(kErrorDirNotEmpty);
    // A volume has at most one drive letter.
    if (v->letter != 0) return Failed(kErrorInvalidParameter);
    v->letter = letter;
    assignments_.push_back(Assignment{v->name, std::wstring(1, letter) + L":\\"});
    SetLastError(kErrorSuccess);
    return true;
  }
  std::size_t rootLength = root == nullptr ? 0 : std::wcslen(root);
  if (rootLength < 4 || root[rootLength - 1] != L'\\' || RootLetter(std::wstring(root, 3).c_str()) == 0) {
    return Failed(kErrorInvalidName);
  }
  v->folders.emplace_back(root);
  SetLastError(kErrorSuccess);
  return true;
}

std::uint32_t SimVolumes::DriveStrings(std::uint32_t capacity, wchar_t* buffer) {
  Arrive();
  if (Refused(faults_, SimOp::DriveStrings, kErrorGenFailure)) return 0;
  std::wstring list;
  for (wchar_t c = L'A'; c <= L'Z'; ++c) {
    if (!LetterInUse(c)) continue;
    list += c;
    list += L":\\";
    list += L'\0';
  }
  const auto length = static_cast<std::uint32_t>(list.size());
  // The capacity counts the list's final terminator.
  if (buffer == nullptr || capacity < length + 1) return length + 1;
  std::wmemcpy(buffer, list.data(), list.size());
  buffer[length] = L'\0';
  SetLastError(kErrorSuccess);
  return length;
}

SimVolumes::Volume* SimVolumes::AnsweringVolume(const wchar_t* root) {
  Arrive();
  if (Refused(faults_, SimOp::VolumeInfo, kErrorGenFailure)) return nullptr;
  std::size_t length = root == nullptr ? 0 : std::wcslen(root);
  if (length == 0 || root[length - 1] != L'\\') {
    (void)Failed(kErrorInvalidName);
    return nullptr;
  }
  Volume* v = ByRoot(root);
  if (v == nullptr) {
    (void)Failed(kErrorPathNotFound);
    return nullptr;
  }
  if (v->offline) {
    (void)Failed(kErrorNotReady);
    return nullptr;
  }
  if (v->noMediaDisk >= 0) {
    if (noMediaPrompt_) noMediaPrompt_(v->noMediaDisk);
    (void)Failed(kErrorNotReady);
    return nullptr;
  }
  return v;
}

const VolumeFacts& SimVolumes::FactsOf(const Volume& v) {
  const DiskImage* image = disks_.Image(v.disk);
  CachedFacts& cached = facts_[{v.disk, v.offset}];
  const std::uint64_t writes = image == nullptr ? 0 : image->writeCount() + 1;
  if (cached.writeCount != writes || cached.length != v.length) {
    cached.facts = image == nullptr || v.offset < 0 || v.length <= 0
                       ? VolumeFacts{}
                       : ReadVolumeFacts(*image, static_cast<std::uint64_t>(v.offset),
                                         static_cast<std::uint64_t>(v.length));
    cached.writeCount = writes;
    cached.length = v.length;
  }
  return cached.facts;
}

// The label as the file system on the image holds it, read by the library the
// field reads file systems with, not by the launcher's own reader under test.
bool SimVolumes::VolumeLabel(const wchar_t* root, wchar_t* label, std::uint32_t capacity) {
  Volume* v = AnsweringVolume(root);
  if (v == nullptr) return false;
  std::wstring text;
  if (v->foreign) {
    text = v->foreignLabel;
  } else {
    const VolumeFacts& facts = FactsOf(*v);
    if (!facts.recognized) return Failed(kErrorUnrecognizedVolume);
    text.assign(facts.label.begin(), facts.label.end());
  }
  if (label != nullptr) {
    if (capacity < text.size() + 1) return Failed(kErrorInsufficientBuffer);
    std::wmemcpy(label, text.c_str(), text.size() + 1);
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool SimVolumes::FileSystemName(const wchar_t* root, wchar_t* name, std::uint32_t capacity) {
  Volume* v = AnsweringVolume(root);
  if (v == nullptr) return false;
  if (v->foreign) return Failed(kErrorUnrecognizedVolume);
  const VolumeFacts& facts = FactsOf(*v);
  if (!facts.recognized) return Failed(kErrorUnrecognizedVolume);
  if (name == nullptr || capacity < facts.fileSystem.size() + 1) return Failed(kErrorInsufficientBuffer);
  for (std::size_t i = 0; i <= facts.fileSystem.size(); ++i)
    name[i] = static_cast<wchar_t>(facts.fileSystem.c_str()[i]);
  SetLastError(kErrorSuccess);
  return true;
}

bool SimVolumes::FreeSpace(const wchar_t* root, std::uint64_t* freeBytes, std::uint64_t* totalBytes) {
  Volume* v = AnsweringVolume(root);
  if (v == nullptr) return false;
  if (v->foreign) return Failed(kErrorUnrecognizedVolume);
  const VolumeFacts& facts = FactsOf(*v);
  if (!facts.recognized) return Failed(kErrorUnrecognizedVolume);
  *freeBytes = facts.freeBytes;
  *totalBytes = facts.totalBytes;
  SetLastError(kErrorSuccess);
  return true;
}

std::uint32_t SimVolumes::DeviceName(const wchar_t* dosName, wchar_t* buffer, std::uint32_t capacity) {
  Arrive();
  if (Refused(faults_, SimOp::VolumeInfo, kErrorGenFailure)) return 0;
  // The object manager's name of a volume, reached through "\\?\" + dosName.
  const std::size_t length = dosName == nullptr ? 0 : std::wcslen(dosName);
  if (length == 0 || length > 60 || dosName[length - 1] == L'\\') {
    SetLastError(kErrorFileNotFound);
    return 0;
  }
  Volume* v = ByName((L"\\\\?\\" + std::wstring(dosName, length)).c_str(), false);
  if (v == nullptr) {
    SetLastError(kErrorFileNotFound);
    return 0;
  }
  const std::wstring device = L"\\Device\\HarddiskVolume" + std::to_wstring(v->device);
  const auto stored = static_cast<std::uint32_t>(device.size() + 2);
  if (buffer == nullptr || capacity < stored) {
    SetLastError(kErrorInsufficientBuffer);
    return 0;
  }
  std::wmemcpy(buffer, device.c_str(), device.size() + 1);
  buffer[device.size() + 1] = L'\0';
  SetLastError(kErrorSuccess);
  return stored;
}

namespace {

constexpr std::wstring_view kGlobalRootDevice = L"GLOBALROOT\\DEVICE\\HARDDISKVOLUME";

bool StartsNoCase(std::wstring_view text, std::wstring_view upperPrefix) {
  if (text.size() < upperPrefix.size()) return false;
  for (std::size_t i = 0; i < upperPrefix.size(); ++i) {
    if (AsciiUpper(text[i]) != upperPrefix[i]) return false;
  }
  return true;
}

}  // namespace

SimVolumes::FilePath SimVolumes::VolumeOfPath(const wchar_t* path, Info* info, std::wstring* rest) {
  if (path == nullptr) return FilePath::NotVolume;
  Arrive();
  const std::wstring_view p(path);
  Volume* found = nullptr;
  std::size_t restAt = 0;
  if (p.size() >= 4 && p[0] == L'\\' && p[1] == L'\\' && (p[2] == L'?' || p[2] == L'.') && p[3] == L'\\') {
    const std::wstring_view tail = p.substr(4);
    if (StartsNoCase(tail, kGlobalRootDevice)) {
      std::size_t at = kGlobalRootDevice.size();
      int number = 0;
      const std::size_t digits = at;
      while (at < tail.size() && tail[at] >= L'0' && tail[at] <= L'9' && number < 100000) {
        number = number * 10 + (tail[at] - L'0');
        ++at;
      }
      if (at == digits || (at < tail.size() && tail[at] != L'\\')) return FilePath::Unknown;
      for (Volume& v : volumes_) {
        if (v.device == number) found = &v;
      }
      restAt = 4 + at;
    } else if (StartsNoCase(tail, L"VOLUME{")) {
      const std::size_t close = tail.find(L'}');
      if (close == std::wstring_view::npos) return FilePath::Unknown;
      found = ByName(std::wstring(p.substr(0, 4 + close + 1)).c_str(), false);
      restAt = 4 + close + 1;
    } else {
      return FilePath::NotVolume;
    }
  } else if (p.size() >= 2 && p[1] == L':' && AsciiUpper(p[0]) >= L'A' && AsciiUpper(p[0]) <= L'Z' &&
             AsciiUpper(p[0]) != L'C') {
    found = ByLetter(AsciiUpper(p[0]));
    restAt = 2;
  } else {
    return FilePath::NotVolume;
  }
  if (found == nullptr || (restAt < p.size() && p[restAt] != L'\\')) return FilePath::Unknown;
  *info = InfoOf(*found);
  *rest = std::wstring(p.substr(restAt));
  return FilePath::Volume;
}

std::vector<SimVolumes::Info> SimVolumes::Volumes() {
  Arrive();
  std::vector<Info> out;
  for (const Volume& v : volumes_) out.push_back(InfoOf(v));
  return out;
}

SimVolumes::Info SimVolumes::VolumeOf(int disk, std::int64_t offset) {
  Arrive();
  for (const Volume& v : volumes_) {
    if (!v.foreign && v.disk == disk && v.offset == offset) {
      return InfoOf(v);
    }
  }
  return Info{};
}

std::wstring SimVolumes::AddForeignVolume(wchar_t letter, const std::wstring& label,
                                          const std::vector<DISK_EXTENT>& extents, bool enumerated) {
  letter = AsciiUpper(letter);
  if (letter != 0 && (letter < L'A' || letter > L'Z' || LetterInUse(letter))) return L"";
  Volume v;
  v.id = nextId_++;
  v.foreign = true;
  v.enumerated = enumerated;
  v.letter = letter;
  v.foreignLabel = label;
  v.foreignExtents = extents;
  v.device = nextDevice_++;
  std::uint8_t seed[16] = {0x46, 0x4F, 0x52};
  std::memcpy(seed + 8, &v.id, sizeof(v.id));
  std::uint8_t guid[16];
  DerivedGuid(seed, sizeof(seed), guid);
  v.name = FormatVolumeName(guid);
  std::wstring name = v.name;
  volumes_.push_back(std::move(v));
  Indexed(volumes_.size() - 1);
  return name;
}

std::wstring SimVolumes::AddCardReader(int disk) {
  wchar_t letter = 0;
  for (wchar_t c = L'D'; c <= L'Z' && letter == 0; ++c) {
    if (!LetterInUse(c)) letter = c;
  }
  std::wstring name = AddForeignVolume(letter, L"", {});
  if (Volume* v = ByName(name.c_str(), true)) v->noMediaDisk = disk;
  return name;
}

bool SimVolumes::AddFolderMount(const std::wstring& volumeName, const std::wstring& folder) {
  Volume* v = ByName(volumeName.c_str(), true);
  if (v == nullptr) return false;
  v->folders.push_back(folder);
  return true;
}

bool SimVolumes::AddExtent(const std::wstring& volumeName, const DISK_EXTENT& extent) {
  Volume* v = ByName(volumeName.c_str(), true);
  if (v == nullptr) return false;
  v->extraExtents.push_back(extent);
  return true;
}

void SimVolumes::RemoveLetter(wchar_t letter) {
  if (Volume* v = ByLetter(AsciiUpper(letter))) v->letter = 0;
}

}  // namespace tavu::sim
