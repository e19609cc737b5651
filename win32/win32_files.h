// The real binding of the file seam: one Windows call per operation.
#pragma once

#include "common/file_api.h"

namespace tavu::win32 {

class Win32Files : public FileApi {
 public:
  Handle OpenFile(const wchar_t* path, FileAccess access, FileCreate create, FileSecurity security) override;
  Handle OpenNameItself(const wchar_t* path) override;
  bool Identify(Handle file, FileIdentity* identity) override;
  bool Read(Handle file, void* buffer, std::uint32_t size, std::uint32_t* read) override;
  bool Write(Handle file, const void* data, std::uint32_t size, std::uint32_t* written) override;
  bool Seek(Handle file, std::uint64_t offset) override;
  bool Size(Handle file, std::uint64_t* size) override;
  bool Flush(Handle file) override;
  bool Close(Handle handle) override;
  bool MakeDirectories(const wchar_t* path) override;
  bool Remove(const wchar_t* path) override;
  bool RemoveFolder(const wchar_t* path) override;
  bool MoveReplace(const wchar_t* from, const wchar_t* to) override;
  bool MoveAtRestart(const wchar_t* from, const wchar_t* to) override;
  bool FlushRestartMoves() override;
  bool MovePendingAtRestart(const wchar_t* from, const wchar_t* to) override;
  bool IsReadOnly(const wchar_t* path) override;
  bool ClearReadOnly(const wchar_t* path) override;
  Handle Pin(const wchar_t* path) override;
  bool FinalPath(Handle file, wchar_t* path, std::size_t capacity) override;
  bool SecurityOf(Handle file, SecurityFacts* facts) override;
  bool MakeAdminsOnlyFolder(const wchar_t* path) override;
  bool Security(const wchar_t* path, SecurityFacts* facts) override;
  bool Exists(const wchar_t* path) override;
  Handle FindFirst(const wchar_t* pattern) override;
  bool CloseFind(Handle find) override;
  bool SetCurrentDir(const wchar_t* path) override;
};

}  // namespace tavu::win32
