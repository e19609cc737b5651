#include "launcher/ui/sensor_ui_app.h"

#include "launcher/startup/globals.h"

namespace tavu {

std::int32_t g_progressTick = 0;
Handle g_workerThread = nullptr;

namespace {

constexpr const wchar_t* kFontFace = L"Verdana";
constexpr int kDefaultFontHeight = 13;
constexpr int kTitleFontHeight = 18;
constexpr int kMessageFontHeight = 16;
constexpr ColorRef kLightGrey = Rgb(225, 225, 225);

constexpr const wchar_t* kTitle = L"System Recovery";
constexpr const wchar_t* kWarning =
    L"This utility will initiate system recovery via TAVU preloaded recovery \n"
    L"partition. Be sure to back up your personal data as it may be lost \n"
    L"during to the recovery process.\n"
    L"\n"
    L"Press \u201CContinue\u201D to run the recovery process.\n"
    L"Press \u201CCancel\u201D to cancel the recovery process.";
constexpr const wchar_t* kProcessing =
    L"This tool will force the system into TAVU Notebook F9 Recovery \nenvironment.";
constexpr const wchar_t* kContinue = L"Continue";
constexpr const wchar_t* kCancel = L"Cancel";
constexpr const wchar_t* kProgressBase = L"Program Processing.";

constexpr const wchar_t* kConfirmText = L"Are you sure you want to run the recovery process?";
constexpr const wchar_t* kConfirmCaption = L"Recovery Confirmation";
constexpr const wchar_t* kAbortCaption = L"Recovery Aborted";
constexpr const wchar_t* kNotStartedText =
    L"The recovery process could not be started. Nothing on this computer has been changed.";

void CopyText(wchar_t* buffer, std::size_t capacity, const wchar_t* text) {
  CopyBounded(buffer, capacity, text);
  Sys().ui->DebugOutput(buffer);
}

Label* MakeLabel(const wchar_t* text, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                 int fontHeight) {
  Label* label = new Label(text);
  label->x = x;
  label->y = y;
  label->width = w;
  label->height = h;
  label->textColor = kLightGrey;
  label->font = Gdi().MakeFont(fontHeight, kFontFace);
  return label;
}

Button* MakeButton(const wchar_t* text, std::int32_t x, std::int32_t y) {
  Button* button = new Button(text);
  button->x = x;
  button->y = y;
  button->textColor = kLightGrey;
  return button;
}

}  // namespace

bool SensorUIApp::Init() {
  defaultFont = Gdi().MakeFont(kDefaultFontHeight, kFontFace);

  CopyText(titleText, kPathChars, kTitle);
  CopyText(warningText, kLongTextChars, kWarning);
  CopyText(processingText, kLongTextChars, kProcessing);
  CopyText(continueText, kPathChars, kContinue);
  CopyText(cancelText, kPathChars, kCancel);
  CopyText(progressBaseText, kPathChars, kProgressBase);
  CopyText(progressText, kPathChars, progressBaseText);

  // Boxes wider than the window on purpose: the window clips them, and the
  // label inset puts the text where the panel leaves room for it.
  titleLabel = MakeLabel(titleText, 60, 23, 530, 225, kTitleFontHeight);
  messageLabel = MakeLabel(warningText, -7, 60, 530, 225, kMessageFontHeight);
  progressLabel = MakeLabel(progressBaseText, 302, 165, 250, 20, kMessageFontHeight);
  background = new Image();
  continueButton = MakeButton(continueText, 352, 165);
  cancelButton = MakeButton(cancelText, 430, 165);

  processing = 0;
  ready = true;
  return true;
}

void SensorUIApp::Paint() {
  DeviceContext dc = Gdi().BeginPaint(g_mainWindow);
  Gdi().SetTransparentBackground(dc);
  Gdi().SelectFont(dc, defaultFont);
  background->Draw(dc);
  titleLabel->Draw(dc);
  messageLabel->Draw(dc);
  if (processing == 0) {
    continueButton->Draw(dc);
    cancelButton->Draw(dc);
  } else {
    progressLabel->Draw(dc);
  }
  Gdi().EndPaint(g_mainWindow);
}

bool SensorUIApp::OnMouseMove(int x, int y) {
  // Both run in every state, so the hover flags stay true to the pointer even
  // while the buttons are hidden.
  continueButton->HitTest(x, y);
  cancelButton->HitTest(x, y);
  return false;
}

bool SensorUIApp::OnLButtonDown(int x, int y) {
  // Once the worker runs, the hidden button areas must not start a second
  // worker (it relies on fixed temporary files) nor end the program halfway
  // through arming; the press still becomes a window drag.
  const bool answering = processing == 0;

  if (continueButton->HitTest(x, y) && answering) {
    const int answer =
        Sys().ui->ShowMessage(g_mainWindow, kConfirmText, kConfirmCaption, kMbYesNo | kMbDefButton2);
    if (answer == kIdYes) {
      processing = 1;
      messageLabel->text = processingText;
      const PixelRect r = messageLabel->Bounds();
      Gdi().Invalidate(g_mainWindow, &r, false);
      Gdi().StartProgressTimer(g_mainWindow, kProgressTimerId, kProgressTimerPeriodMs);
      if (!Sys().ui->StartThread(workerRoutine, nullptr, &g_workerThread)) {
        Sys().ui->ShowMessage(g_mainWindow, kNotStartedText, kAbortCaption, kMbOk);
        Sys().ui->PostDestroy(g_mainWindow);
      }
    } else {
      // No, or a box that could not be shown: nothing was changed, so end.
      Sys().ui->PostDestroy(g_mainWindow);
    }
  }

  if (cancelButton->HitTest(x, y) && answering) Sys().ui->PostDestroy(g_mainWindow);
  return false;
}

void AdvanceProgressText() {
  SensorUIApp* app = g_app;
  AppendBounded(app->progressText, kPathChars, L".");
  if (g_progressTick == 0) CopyBounded(app->progressText, kPathChars, app->progressBaseText);
  app->progressLabel->text = app->progressText;
  const PixelRect r = app->progressLabel->Bounds();
  Gdi().Invalidate(g_mainWindow, &r, false);
  // Painted here and now, inside the timer callback, rather than by a later
  // WM_PAINT.
  app->Paint();
}

void ProgressTimerTick() {
  g_progressTick = g_progressTick + 1;
  if (g_progressTick == 4) g_progressTick = 0;
  AdvanceProgressText();
}

}  // namespace tavu
