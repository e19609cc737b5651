#pragma once

#include "common/task_api.h"

namespace tavu::win32 {

class Win32Tasks : public TaskApi {
 public:
  HResult OpenFolder(const wchar_t* folder, Handle* session) override;
  HResult DeleteTask(Handle session, const wchar_t* name) override;
  HResult FindTask(Handle session, const wchar_t* name) override;
  HResult RegisterTask(Handle session, const wchar_t* name, const TaskRegistration& r) override;
  void CloseFolder(Handle session) override;
  HResult FlushStore() override;
};

}  // namespace tavu::win32
