// The launcher's window, drawn by its own code and GDI binding, with the
// owner's display settings given on the command line instead of read from
// Windows: Wine cannot switch high contrast on (SPI_SETHIGHCONTRAST fails and
// SPI_GETHIGHCONTRAST always answers off), so this is how the window is seen,
// and tested, in high contrast under Wine.
//   window_preview [high-contrast] [no-animations] [keyboard-cues]
// The system colours in high contrast are Windows 10's "High Contrast Black".
// The window mode runs as in the launcher, without the manufacturer gate;
// its worker is the real one (a machine without a recovery partition
// answers Yes with "Recovery Aborted").
#include <windows.h>
// After windows.h: CoInitializeEx.
#include <objbase.h>

#include <cwchar>

#include "common/platform.h"
#include "common/ui_api.h"
#include "launcher/res/resource_ids.h"
#include "launcher/startup/globals.h"
#include "launcher/startup/launcher_main.h"
#include "launcher/ui/main_window.h"
#include "win32/win32_platform.h"

namespace {

// Windows' own UI seam, but for the display settings and system colours.
class PreviewUi final : public tavu::UiApi {
 public:
  PreviewUi(tavu::UiApi& real, const tavu::DisplaySettings& settings) : real_(real), settings_(settings) {}
  int ShowMessage(tavu::Handle owner, const wchar_t* text, const wchar_t* caption,
                  std::uint32_t flags) override {
    return real_.ShowMessage(owner, text, caption, flags);
  }
  bool PostDestroy(tavu::Handle window) override { return real_.PostDestroy(window); }
  bool StartThread(tavu::ThreadRoutine routine, void* parameter, tavu::Handle* thread) override {
    return real_.StartThread(routine, parameter, thread);
  }
  void DebugOutput(const wchar_t* text) override { real_.DebugOutput(text); }
  tavu::SessionEnd WaitForSessionEnd(tavu::Handle window, std::uint32_t milliseconds) override {
    return real_.WaitForSessionEnd(window, milliseconds);
  }
  tavu::DisplaySettings ReadDisplaySettings() override { return settings_; }
  std::uint32_t SystemColour(int index) override {
    if (!settings_.highContrast) return real_.SystemColour(index);
    switch (index) {
      case tavu::kColourWindowText:
      case tavu::kColourButtonText:
        return RGB(255, 255, 255);
      case tavu::kColourHighlight:
        return RGB(26, 235, 255);
      default:
        return RGB(0, 0, 0);
    }
  }
  void NotifyAccessibleEvent(tavu::Handle window, std::uint32_t event, std::int32_t child) override {
    real_.NotifyAccessibleEvent(window, event, child);
  }

 private:
  tavu::UiApi& real_;
  tavu::DisplaySettings settings_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int showCommand) {
  tavu::win32::InstallWin32Platform();
  tavu::DisplaySettings settings = tavu::Sys().ui->ReadDisplaySettings();
  if (std::wcsstr(commandLine, L"high-contrast") != nullptr) settings.highContrast = true;
  if (std::wcsstr(commandLine, L"no-animations") != nullptr) settings.animations = false;
  if (std::wcsstr(commandLine, L"keyboard-cues") != nullptr) settings.keyboardCues = true;
  static PreviewUi ui(*tavu::Sys().ui, settings);
  tavu::Platform platform = tavu::Sys();
  platform.ui = &ui;
  tavu::SetPlatform(platform);

  LoadStringW(instance, IDS_APP_TITLE, tavu::g_windowTitle, static_cast<int>(tavu::kResourceTextChars));
  LoadStringW(instance, IDC_TAVUF9RECOVERY, tavu::g_windowClassName,
              static_cast<int>(tavu::kResourceTextChars));
  tavu::RegisterMainWindowClass(instance);
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  tavu::g_comReady = 1;
  return tavu::RunWindowMode(instance, showCommand);
}
