// A file or folder held open from its trust test until what uses it is done:
// the elevated programs start tools and write scripts by name, and a name
// tested a moment before may lead somewhere else by the time it is used.
#pragma once

#include <cstddef>

#include "common/unique_handle.h"

namespace tavu {

class PinnedFile {
 public:
  PinnedFile() = default;
  PinnedFile(const PinnedFile&) = delete;
  PinnedFile& operator=(const PinnedFile&) = delete;

  // Holds path (FileApi::Pin). False, holding nothing, when it cannot be
  // opened, or when the file held is not at path itself: a junction on the
  // way, a short name, or a swap between the test and the open.
  bool Pin(const wchar_t* path);
  // Pin, except that a file that is not there is no failure: nothing to hold,
  // and the caller's walk up the path shows whether anyone but administrators
  // could put one there. For the running program's own file, which Windows
  // keeps, and for a test machine that has none.
  bool PinIfThere(const wchar_t* path);
  // Whether only Windows and its administrators can change the held file
  // itself, read through the handle: trusted owner, no entry that lets others
  // change it, not a link.
  bool OnlyAdminsChangeIt() const;
  bool held() const { return handle_.valid(); }
  void Release() { handle_.reset(); }

 private:
  UniqueHandle handle_;
};

}  // namespace tavu
