#include "launcher/ui/sensor_ui_app.h"

#include "launcher/startup/globals.h"
#include "launcher/ui/window_layout.h"

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

// Where each widget lies at 96 DPI.
struct Place {
  std::int32_t x, y, width, height;
};
// Boxes wider than the window on purpose: the window clips them, and the
// label inset puts the text where the panel leaves room for it.
constexpr Place kTitlePlace{60, 23, 530, 225};
constexpr Place kMessagePlace{-7, 60, 530, 225};
constexpr Place kProgressPlace{302, 165, 250, 20};
constexpr Place kContinuePlace{352, 165, 68, 35};
constexpr Place kCancelPlace{430, 165, 68, 35};

void PlaceAt(UIElement* widget, const Place& place, std::uint32_t dpi) {
  widget->x = Scaled(place.x, dpi);
  widget->y = Scaled(place.y, dpi);
  widget->width = Scaled(place.width, dpi);
  widget->height = Scaled(place.height, dpi);
}

// A font of the given 96-DPI height at the DPI, in place of the one before.
void RemakeFont(FontHandle* font, int height, std::uint32_t dpi) {
  FontHandle previous = *font;
  *font = Gdi().MakeFont(Scaled(height, dpi), kFontFace);
  if (previous != nullptr) Gdi().DeleteFont(previous);
}

std::int32_t ChildOf(FocusTarget target) {
  switch (target) {
    case FocusTarget::Continue:
      return kChildContinue;
    case FocusTarget::Cancel:
      return kChildCancel;
    default:
      return kChildProgress;
  }
}

PixelRect Clipped(const PixelRect& r, const PixelRect& to) {
  return {r.left > to.left ? r.left : to.left, r.top > to.top ? r.top : to.top,
          r.right < to.right ? r.right : to.right, r.bottom < to.bottom ? r.bottom : to.bottom};
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
  CopyBounded(progressStillText, kPathChars, progressBaseText);
  AppendBounded(progressStillText, kPathChars, L"..");

  titleLabel = MakeLabel(titleText, kTitlePlace.x, kTitlePlace.y, kTitlePlace.width, kTitlePlace.height,
                         kTitleFontHeight);
  messageLabel = MakeLabel(warningText, kMessagePlace.x, kMessagePlace.y, kMessagePlace.width,
                           kMessagePlace.height, kMessageFontHeight);
  progressLabel = MakeLabel(progressBaseText, kProgressPlace.x, kProgressPlace.y, kProgressPlace.width,
                            kProgressPlace.height, kMessageFontHeight);
  background = new Image();
  continueButton = MakeButton(continueText, kContinuePlace.x, kContinuePlace.y);
  cancelButton = MakeButton(cancelText, kCancelPlace.x, kCancelPlace.y);
  UIElement* const widgets[] = {titleLabel, messageLabel, progressLabel, background, continueButton, cancelButton};
  for (UIElement* widget : widgets) widget->look = &look;
  // The safe answer has the focus first, as No is the confirmation box's default.
  focus = FocusTarget::Cancel;
  cancelButton->focused = true;

  processing = 0;
  ready = true;
  return true;
}

void SensorUIApp::SetDpi(std::uint32_t dpi) {
  // GetDpiForWindow answers 0 for a window it does not know.
  if (dpi == 0) dpi = kBaseDpi;
  if (dpi == look.dpi) return;
  look.dpi = dpi;
  PlaceAt(titleLabel, kTitlePlace, dpi);
  PlaceAt(messageLabel, kMessagePlace, dpi);
  PlaceAt(progressLabel, kProgressPlace, dpi);
  PlaceAt(continueButton, kContinuePlace, dpi);
  PlaceAt(cancelButton, kCancelPlace, dpi);
  RemakeFont(&defaultFont, kDefaultFontHeight, dpi);
  RemakeFont(&titleLabel->font, kTitleFontHeight, dpi);
  RemakeFont(&messageLabel->font, kMessageFontHeight, dpi);
  RemakeFont(&progressLabel->font, kMessageFontHeight, dpi);
  Publish();
}

void SensorUIApp::ReadDisplaySettings() {
  settings = Sys().ui->ReadDisplaySettings();
  look.highContrast = settings.highContrast;
  if (look.highContrast) {
    look.window = Sys().ui->SystemColour(kColourWindow);
    look.windowText = Sys().ui->SystemColour(kColourWindowText);
    look.buttonFace = Sys().ui->SystemColour(kColourButtonFace);
    look.buttonText = Sys().ui->SystemColour(kColourButtonText);
    look.highlight = Sys().ui->SystemColour(kColourHighlight);
  }
  look.focusVisible = keyboardUsed || settings.keyboardCues || settings.screenReader;
  FollowAnimationSetting();
  Publish();
}

std::uint8_t SensorUIApp::WindowAlpha() const { return settings.highContrast ? kOpaqueAlpha : kWindowAlpha; }

AccessibleView SensorUIApp::AccessibleState() const {
  const RoundRegion region = ScaledRegion(look.dpi);
  const PixelRect visible{region.left, region.top, region.right, region.bottom};
  const bool answering = processing == 0;
  AccessibleView view;
  view.childCount = answering ? 3 : 4;
  view.items[kChildSelf] = {titleText, kRoleDialog, kStateFocusable, visible, false};
  view.items[kChildWarning] = {messageLabel->text, kRoleStaticText, kStateReadOnly,
                               Clipped(messageLabel->TextRect(), visible), false};
  const struct {
    std::int32_t child;
    const Button* button;
    const wchar_t* name;
    FocusTarget target;
  } buttons[] = {{kChildContinue, continueButton, continueText, FocusTarget::Continue},
                 {kChildCancel, cancelButton, cancelText, FocusTarget::Cancel}};
  for (const auto& b : buttons) {
    std::uint32_t state = kStateUnavailable | kStateInvisible;
    if (answering && asking) {
      state = kStateUnavailable;
    } else if (answering) {
      // The focused button is the one Enter presses, as in Windows' dialogs.
      state = kStateFocusable;
      if (focus == b.target) state |= kStateDefault | (windowFocused ? kStateFocused : 0);
    }
    view.items[b.child] = {b.name, kRolePushButton, state, b.button->Bounds(), answering && !asking};
  }
  std::uint32_t progressState = kStateReadOnly | kStateFocusable | (animating ? kStateAnimated : 0);
  if (focus == FocusTarget::Progress && windowFocused) progressState |= kStateFocused;
  view.items[kChildProgress] = {progressStillText, kRoleStaticText, progressState,
                                Clipped(progressLabel->TextRect(), visible), false};
  view.focus = windowFocused ? ChildOf(focus) : kNoChild;
  return view;
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
  if (continueButton->HitTest(x, y) && answering) PressContinue();
  if (cancelButton->HitTest(x, y) && answering) PressCancel();
  return false;
}

bool SensorUIApp::OnKeyDown(std::uint32_t key, bool repeat) {
  switch (key) {
    case kKeyTab:
    case kKeyLeft:
    case kKeyRight:
    case kKeyUp:
    case kKeyDown: {
      ShowFocusCue();
      // Two buttons, and a dialog's keys wrap around: forward (Tab, Right,
      // Down) and back (Shift+Tab, Left, Up) both reach the other one. While
      // the worker runs the focus stays on the progress line.
      if (processing == 0) MoveFocus(focus == FocusTarget::Continue ? FocusTarget::Cancel : FocusTarget::Continue);
      return true;
    }
    case kKeyReturn:
    case kKeySpace:
      // A held key repeats: its repeats must not answer the confirmation box
      // that its first press opened.
      if (processing == 0 && !repeat) {
        if (focus == FocusTarget::Continue) {
          PressContinue();
        } else {
          PressCancel();
        }
      }
      return true;
    case kKeyEscape:
      if (processing == 0 && !repeat) PressCancel();
      return true;
    default:
      return false;
  }
}

void SensorUIApp::OnFocusChanged(bool focused) {
  windowFocused = focused;
  if (focused) {
    Announce(kEventObjectFocus, ChildOf(focus));
  } else {
    Publish();
  }
}

void SensorUIApp::OnAccessiblePress(std::int32_t child) {
  if (processing != 0 || asking) return;
  if (child == kChildContinue) PressContinue();
  if (child == kChildCancel) PressCancel();
}

void SensorUIApp::PressContinue() {
  // While the box is open the window is disabled; only a screen reader's
  // press, posted before, could still arrive, and must not ask again.
  asking = true;
  Publish();
  const int answer =
      Sys().ui->ShowMessage(g_mainWindow, kConfirmText, kConfirmCaption, kMbYesNo | kMbDefButton2);
  asking = false;
  if (answer != kIdYes) {
    // No, or a box that could not be shown: nothing was changed, so end.
    Sys().ui->PostDestroy(g_mainWindow);
    Publish();
    return;
  }
  processing = 1;
  messageLabel->text = processingText;
  InvalidateLabel(messageLabel);
  if (settings.animations) {
    Gdi().StartProgressTimer(g_mainWindow, kProgressTimerId, kProgressTimerPeriodMs);
    animating = true;
  } else {
    progressLabel->text = progressStillText;
  }
  if (!Sys().ui->StartThread(workerRoutine, nullptr, &g_workerThread)) {
    Sys().ui->ShowMessage(g_mainWindow, kNotStartedText, kAbortCaption, kMbOk);
    Sys().ui->PostDestroy(g_mainWindow);
  }
  Announce(kEventObjectNameChange, kChildWarning);
  Announce(kEventObjectStateChange, kChildContinue);
  Announce(kEventObjectStateChange, kChildCancel);
  Announce(kEventObjectShow, kChildProgress);
  MoveFocus(FocusTarget::Progress);
}

void SensorUIApp::PressCancel() { Sys().ui->PostDestroy(g_mainWindow); }

void SensorUIApp::MoveFocus(FocusTarget target) {
  if (target == focus) return;
  focus = target;
  continueButton->focused = target == FocusTarget::Continue;
  cancelButton->focused = target == FocusTarget::Cancel;
  progressLabel->focused = target == FocusTarget::Progress;
  if (look.focusVisible) Gdi().Invalidate(g_mainWindow, nullptr, false);
  if (windowFocused) {
    Announce(kEventObjectFocus, ChildOf(target));
  } else {
    Publish();
  }
}

// Windows' dialogs hide the focus cue until the keyboard is used (or the owner
// asks for it always); so does this window, which keeps it at 96 DPI exactly
// as it was drawn for a mouse.
void SensorUIApp::ShowFocusCue() {
  keyboardUsed = true;
  if (look.focusVisible) return;
  look.focusVisible = true;
  Gdi().Invalidate(g_mainWindow, nullptr, false);
}

// Animations switched on or off while the worker runs: the dots start from
// one again, or stop at the still picture.
void SensorUIApp::FollowAnimationSetting() {
  if (processing == 0 || settings.animations == animating) return;
  if (animating) {
    Gdi().StopProgressTimer(g_mainWindow, kProgressTimerId);
    animating = false;
    progressLabel->text = progressStillText;
  } else {
    g_progressTick = 0;
    CopyBounded(progressText, kPathChars, progressBaseText);
    progressLabel->text = progressText;
    Gdi().StartProgressTimer(g_mainWindow, kProgressTimerId, kProgressTimerPeriodMs);
    animating = true;
  }
  InvalidateLabel(progressLabel);
}

void SensorUIApp::InvalidateLabel(const Label* label) {
  const PixelRect r = label->Bounds();
  Gdi().Invalidate(g_mainWindow, &r, false);
}

void SensorUIApp::Publish() {
  if (publishAccessible != nullptr) publishAccessible(AccessibleState());
}

void SensorUIApp::Announce(std::uint32_t event, std::int32_t child) {
  Publish();
  Sys().ui->NotifyAccessibleEvent(g_mainWindow, event, child);
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
  // A tick that was on its way when the animation stopped.
  if (!g_app->animating) return;
  g_progressTick = g_progressTick + 1;
  if (g_progressTick == 4) g_progressTick = 0;
  AdvanceProgressText();
}

}  // namespace tavu
