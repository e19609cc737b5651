// The application object of the confirmation window: owns the widgets, their
// texts and fonts, paints them, routes the mouse and the keys to the two
// buttons, keeps the keyboard focus, follows the window's DPI and the owner's
// display settings, and describes itself to screen readers.
#pragma once

#include <cstdint>

#include "common/platform.h"
#include "common/ui_api.h"
#include "common/wide_text.h"
#include "launcher/arming/recovery_worker.h"
#include "launcher/ui/accessible_view.h"
#include "launcher/ui/widgets.h"

namespace tavu {

class Application {
 public:
  virtual bool Init() = 0;
  virtual void Paint() = 0;
  virtual bool OnLButtonDown(int x, int y) = 0;
  virtual bool OnMouseMove(int x, int y) = 0;

  bool ready = false;  // set by Init; the window paints only when it is true

 protected:
  Application() = default;
  // Lives until the process ends; never deleted through a base pointer.
  ~Application() = default;
};

// Virtual-key codes the window answers (WM_KEYDOWN's wParam).
inline constexpr std::uint32_t kKeyTab = 0x09;
inline constexpr std::uint32_t kKeyReturn = 0x0D;
inline constexpr std::uint32_t kKeyEscape = 0x1B;
inline constexpr std::uint32_t kKeySpace = 0x20;
inline constexpr std::uint32_t kKeyLeft = 0x25;
inline constexpr std::uint32_t kKeyUp = 0x26;
inline constexpr std::uint32_t kKeyRight = 0x27;
inline constexpr std::uint32_t kKeyDown = 0x28;

// Where the keyboard focus is: a button until Yes, the progress line after.
enum class FocusTarget : std::uint8_t { Continue, Cancel, Progress };

class SensorUIApp : public Application {
 public:
  SensorUIApp() = default;

  bool Init() override;
  void Paint() override;
  bool OnLButtonDown(int x, int y) override;
  bool OnMouseMove(int x, int y) override;

  // WM_KEYDOWN: the virtual key, and whether it is the key's auto-repeat.
  // True when the key is one the window answers.
  bool OnKeyDown(std::uint32_t key, bool repeat);
  // WM_SETFOCUS (true) and WM_KILLFOCUS (false).
  void OnFocusChanged(bool focused);
  // A screen reader's press (accDoDefaultAction, posted to the window): the
  // child id of the button.
  void OnAccessiblePress(std::int32_t child);
  // The window's DPI: once the window exists, and on WM_DPICHANGED. Places
  // the widgets and makes their fonts for it.
  void SetDpi(std::uint32_t dpi);
  // Once the window exists, and on WM_SETTINGCHANGE and WM_SYSCOLORCHANGE:
  // reads the owner's display settings and the system colours, and follows
  // them. The caller repaints the whole window and sets WindowAlpha.
  void ReadDisplaySettings();
  // The window's opacity for the current settings.
  std::uint8_t WindowAlpha() const;
  // What a screen reader reads, as of now.
  AccessibleView AccessibleState() const;

  FontHandle defaultFont = nullptr;
  Label* titleLabel = nullptr;
  Label* progressLabel = nullptr;
  Label* messageLabel = nullptr;
  Image* background = nullptr;
  Button* continueButton = nullptr;
  Button* cancelButton = nullptr;
  wchar_t titleText[kPathChars] = {};
  wchar_t progressBaseText[kPathChars] = {};
  wchar_t warningText[kLongTextChars] = {};
  wchar_t processingText[kLongTextChars] = {};
  wchar_t continueText[kPathChars] = {};
  wchar_t cancelText[kPathChars] = {};
  wchar_t progressText[kPathChars] = {};
  // The progress line as it stands still: "Program Processing...", the
  // animation's third picture. Shown without animations; the name a screen
  // reader gives the line, which does not change with its dots.
  wchar_t progressStillText[kPathChars] = {};
  std::int32_t processing = 0;  // 1 from the confirmation on

  FocusTarget focus = FocusTarget::Cancel;
  bool windowFocused = false;  // the window has the keyboard focus
  bool keyboardUsed = false;   // a key of the window was pressed: the focus ring shows
  bool animating = false;      // the progress timer runs
  bool asking = false;         // the confirmation box is open
  DisplaySettings settings;
  WindowLook look;

  // The thread routine that Yes starts. The program keeps RecoveryWorker;
  // tests put their own routine here so no real arming runs.
  ThreadRoutine workerRoutine = &RecoveryWorker;
  // Told the accessible state after every change, and before the change is
  // announced with NotifyWinEvent, so that a screen reader that asks at once
  // finds it. Null until the window has an accessible object.
  void (*publishAccessible)(const AccessibleView& view) = nullptr;

 private:
  void PressContinue();
  void PressCancel();
  void MoveFocus(FocusTarget target);
  void ShowFocusCue();
  void FollowAnimationSetting();
  void InvalidateLabel(const Label* label);
  void Publish();
  // Publishes, then NotifyWinEvent for the child.
  void Announce(std::uint32_t event, std::int32_t child);
};

// The timer that animates the progress line after the confirmation.
inline constexpr std::uintptr_t kProgressTimerId = 275;
inline constexpr std::uint32_t kProgressTimerPeriodMs = 1000;

extern std::int32_t g_progressTick;  // 0..3, advanced once a second
extern Handle g_workerThread;        // kept, never waited on or closed

// One step of the dot animation: one more dot, back to one after four.
void AdvanceProgressText();
// What the progress timer does on each tick.
void ProgressTimerTick();

}  // namespace tavu
