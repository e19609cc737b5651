#pragma once

#include "common/ui_api.h"

namespace tavu::win32 {

class Win32Ui : public UiApi {
 public:
  int ShowMessage(Handle owner, const wchar_t* text, const wchar_t* caption, std::uint32_t flags) override;
  bool PostDestroy(Handle window) override;
  bool StartThread(ThreadRoutine routine, void* parameter, Handle* thread) override;
  void DebugOutput(const wchar_t* text) override;
  SessionEnd WaitForSessionEnd(Handle window, std::uint32_t milliseconds) override;
  DisplaySettings ReadDisplaySettings() override;
  std::uint32_t SystemColour(int index) override;
  void NotifyAccessibleEvent(Handle window, std::uint32_t event, std::int32_t child) override;
};

}  // namespace tavu::win32
