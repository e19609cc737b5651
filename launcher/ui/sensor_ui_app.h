// The application object of the confirmation window: owns the widgets, their
// texts and fonts, paints them and routes the mouse to the two buttons.
#pragma once

#include <cstdint>

#include "common/platform.h"
#include "common/ui_api.h"
#include "common/wide_text.h"
#include "launcher/arming/recovery_worker.h"
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

class SensorUIApp : public Application {
 public:
  SensorUIApp() = default;

  bool Init() override;
  void Paint() override;
  bool OnLButtonDown(int x, int y) override;
  bool OnMouseMove(int x, int y) override;

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
  std::int32_t processing = 0;  // 1 from the confirmation on

  // The thread routine that Yes starts. The program keeps RecoveryWorker;
  // tests put their own routine here so no real arming runs.
  ThreadRoutine workerRoutine = &RecoveryWorker;
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
