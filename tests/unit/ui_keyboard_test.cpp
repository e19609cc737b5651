// The confirmation window answered by keyboard alone: where the focus starts
// and how the keys move it, what Enter, Space and Esc press, that nothing
// starts or stops while the worker runs, and the focus ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "launcher/ui/drawn_faces.h"
#include "tests/fixtures/ui_test.h"

namespace tavu::test {
namespace {

using UiKeyboard = UiTest;

const char* Name(FocusTarget f) {
  switch (f) {
    case FocusTarget::Continue:
      return "Continue";
    case FocusTarget::Cancel:
      return "Cancel";
    default:
      return "Progress";
  }
}

std::vector<sim::SimAccessibleEvent> FocusEvents(const std::vector<sim::SimAccessibleEvent>& all) {
  std::vector<sim::SimAccessibleEvent> focus;
  for (const auto& e : all) {
    if (e.event == kEventObjectFocus) focus.push_back(e);
  }
  return focus;
}

TEST_F(UiKeyboard, FocusStartsOnCancelAndTheKeysMoveItBetweenTheButtons) {
  SensorUIApp& app = App();
  EXPECT_EQ(app.focus, FocusTarget::Cancel);
  EXPECT_TRUE(app.cancelButton->focused);
  EXPECT_FALSE(app.continueButton->focused);
  app.OnFocusChanged(true);
  ASSERT_EQ(ui().accessibleEvents(),
            (std::vector<sim::SimAccessibleEvent>{{kTestWindow, kEventObjectFocus, kChildCancel}}));

  // Forward and back both reach the other button, as a dialog's keys wrap.
  struct Step {
    std::uint32_t key;
    const char* name;
    FocusTarget after;
  } steps[] = {
      {kKeyTab, "Tab", FocusTarget::Continue},     {kKeyTab, "Tab", FocusTarget::Cancel},
      {kKeyLeft, "Left", FocusTarget::Continue},   {kKeyLeft, "Left", FocusTarget::Cancel},
      {kKeyRight, "Right", FocusTarget::Continue}, {kKeyRight, "Right", FocusTarget::Cancel},
      {kKeyUp, "Up", FocusTarget::Continue},       {kKeyDown, "Down", FocusTarget::Cancel},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    const std::size_t before = ui().accessibleEvents().size();
    EXPECT_TRUE(app.OnKeyDown(s.key, false));
    EXPECT_EQ(app.focus, s.after) << Name(app.focus);
    EXPECT_EQ(app.continueButton->focused, s.after == FocusTarget::Continue);
    EXPECT_EQ(app.cancelButton->focused, s.after == FocusTarget::Cancel);
    const std::int32_t child = s.after == FocusTarget::Continue ? kChildContinue : kChildCancel;
    EXPECT_EQ(From(ui().accessibleEvents(), before),
              (std::vector<sim::SimAccessibleEvent>{{kTestWindow, kEventObjectFocus, child}}));
  }
  EXPECT_TRUE(ui().messageBoxes().empty());
  EXPECT_TRUE(ui().destroyPosts().empty());

  // Without the keyboard focus the window still moves its own, but tells no
  // screen reader about a focus it does not have; it does when it gets it.
  app.OnFocusChanged(false);
  const std::size_t before = ui().accessibleEvents().size();
  app.OnKeyDown(kKeyTab, false);
  EXPECT_EQ(app.focus, FocusTarget::Continue);
  EXPECT_TRUE(FocusEvents(From(ui().accessibleEvents(), before)).empty());
  app.OnFocusChanged(true);
  EXPECT_EQ(From(ui().accessibleEvents(), before),
            (std::vector<sim::SimAccessibleEvent>{{kTestWindow, kEventObjectFocus, kChildContinue}}));
}

TEST_F(UiKeyboard, EnterSpaceAndEscAnswerTheWindow) {
  const std::wstring kQuestion =
      L"Recovery Confirmation|Are you sure you want to run the recovery process?|260";
  struct Key {
    std::uint32_t key;
    bool repeat;
  };
  struct Case {
    const char* name;
    std::vector<Key> keys;
    std::vector<int> answers;
    std::vector<std::wstring> boxes;
    int destroys;
    std::int32_t processing;
    FocusTarget focus;
  } cases[] = {
      {"Enter on Cancel", {{kKeyReturn, false}}, {}, {}, 1, 0, FocusTarget::Cancel},
      {"Space on Cancel", {{kKeySpace, false}}, {}, {}, 1, 0, FocusTarget::Cancel},
      {"Esc", {{kKeyEscape, false}}, {}, {}, 1, 0, FocusTarget::Cancel},
      {"Esc with Continue focused is Cancel",
       {{kKeyTab, false}, {kKeyEscape, false}},
       {},
       {},
       1,
       0,
       FocusTarget::Continue},
      {"Tab, Enter, No",
       {{kKeyTab, false}, {kKeyReturn, false}},
       {kIdNo},
       {kQuestion},
       1,
       0,
       FocusTarget::Continue},
      {"Tab, Space, Yes",
       {{kKeyTab, false}, {kKeySpace, false}},
       {kIdYes},
       {kQuestion},
       0,
       1,
       FocusTarget::Progress},
      {"Left, Enter, Yes",
       {{kKeyLeft, false}, {kKeyReturn, false}},
       {kIdYes},
       {kQuestion},
       0,
       1,
       FocusTarget::Progress},
      // A held key repeats; its repeats never press anything.
      {"a repeating Enter", {{kKeyReturn, true}}, {}, {}, 0, 0, FocusTarget::Cancel},
      {"a repeating Esc", {{kKeyEscape, true}}, {}, {}, 0, 0, FocusTarget::Cancel},
      {"Tab, repeating Space", {{kKeyTab, false}, {kKeySpace, true}}, {}, {}, 0, 0, FocusTarget::Continue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_app = nullptr;
    workerStart_ = WorkerStart{};
    SensorUIApp& app = App();
    app.OnFocusChanged(true);
    const std::size_t boxesBefore = ui().messageBoxes().size();
    const std::size_t destroysBefore = ui().destroyPosts().size();
    for (int a : c.answers) ui().QueueAnswer(a);
    for (const Key& k : c.keys) EXPECT_TRUE(app.OnKeyDown(k.key, k.repeat));
    std::vector<std::wstring> boxes;
    for (const sim::SimMessageBox& b : From(ui().messageBoxes(), boxesBefore)) {
      EXPECT_EQ(b.owner, kTestWindow);
      boxes.push_back(b.caption + L"|" + b.text + L"|" + std::to_wstring(b.flags));
    }
    EXPECT_EQ(boxes, c.boxes);
    EXPECT_EQ(From(ui().destroyPosts(), destroysBefore), std::vector<Handle>(c.destroys, kTestWindow));
    EXPECT_EQ(app.processing, c.processing);
    EXPECT_EQ(app.focus, c.focus) << Name(app.focus);
    EXPECT_EQ(workerStart_.runs, c.processing);
    if (c.processing == 1) {
      EXPECT_EQ(app.messageLabel->text, app.processingText);
      EXPECT_TRUE(app.progressLabel->focused);
      EXPECT_FALSE(app.continueButton->focused);
      EXPECT_FALSE(app.cancelButton->focused);
    }
  }
}

TEST_F(UiKeyboard, KeysThatAreNotTheWindowsAreLeftToWindows) {
  SensorUIApp& app = App();
  for (std::uint32_t key : {0x41u /* A */, 0x70u /* F1 */, 0x12u /* Alt */, 0x2Eu /* Delete */}) {
    EXPECT_FALSE(app.OnKeyDown(key, false)) << key;
  }
  EXPECT_EQ(app.focus, FocusTarget::Cancel);
  EXPECT_FALSE(app.keyboardUsed);
  EXPECT_TRUE(ui().destroyPosts().empty());
}

TEST_F(UiKeyboard, NoKeyStartsOrStopsAnythingWhileTheWorkerRuns) {
  SensorUIApp& app = App();
  app.OnFocusChanged(true);
  ui().QueueAnswer(kIdYes);
  app.OnLButtonDown(380, 180);
  ASSERT_EQ(app.processing, 1);
  ASSERT_EQ(app.focus, FocusTarget::Progress);
  const std::size_t events = ui().accessibleEvents().size();
  for (std::uint32_t key :
       {kKeyTab, kKeyLeft, kKeyRight, kKeyUp, kKeyDown, kKeyReturn, kKeySpace, kKeyEscape}) {
    for (bool repeat : {false, true}) {
      SCOPED_TRACE(testing::Message() << "key " << key << (repeat ? " repeating" : ""));
      EXPECT_TRUE(app.OnKeyDown(key, repeat));  // the window's key, and it does nothing
      EXPECT_EQ(ui().messageBoxes().size(), 1u);
      EXPECT_EQ(ui().threads().size(), 1u);
      EXPECT_TRUE(ui().destroyPosts().empty());
      EXPECT_EQ(app.focus, FocusTarget::Progress);
    }
  }
  EXPECT_TRUE(FocusEvents(From(ui().accessibleEvents(), events)).empty());
}

// The draws of the focus ring: a frame of the given width just inside rect.
std::vector<std::wstring> Ring(const PixelRect& r, int w, const wchar_t* colour) {
  auto f = [&](int l, int t, int rr, int b) {
    return L"fill " + std::to_wstring(l) + L"," + std::to_wstring(t) + L"," + std::to_wstring(rr) + L"," +
           std::to_wstring(b) + L" colour " + colour;
  };
  return {f(r.left, r.top, r.right, r.top + w), f(r.left, r.bottom - w, r.right, r.bottom),
          f(r.left, r.top + w, r.left + w, r.bottom - w), f(r.right - w, r.top + w, r.right, r.bottom - w)};
}

std::vector<std::wstring> Concat(std::vector<std::wstring> a, const std::vector<std::wstring>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(UiKeyboard, TheFocusRingShowsOnceTheKeyboardIsUsedOrWhenTheOwnerAsks) {
  const std::wstring kTitle = L"text 105,23,575,248 fmt 0x0 font 18 colour E1E1E1 |System Recovery";
  const std::vector<std::wstring> kPanel = {L"blit 129 at 0,0 530x225", kTitle};
  const std::wstring kContinueFace = L"blit 130 at 352,165 68x35";
  const std::wstring kContinueText = L"text 352,165,420,200 fmt 0x25 font 13 colour E1E1E1 |Continue";
  const std::wstring kCancelFace = L"blit 130 at 430,165 68x35";
  const std::wstring kCancelText = L"text 430,165,498,200 fmt 0x25 font 13 colour E1E1E1 |Cancel";
  const std::vector<std::wstring> kContinueRing = Ring({349, 162, 423, 203}, 2, L"FFFFFF");
  const std::vector<std::wstring> kCancelRing = Ring({427, 162, 501, 203}, 2, L"FFFFFF");

  struct Case {
    const char* name;
    DisplaySettings settings;
    std::vector<std::uint32_t> keys;
    std::vector<std::wstring> buttons;  // the draws after the warning
  } cases[] = {
      {"mouse only: no ring, as the window always looked",
       {},
       {},
       {kContinueFace, kContinueText, kCancelFace, kCancelText}},
      {"Tab: the ring around Continue",
       {},
       {kKeyTab},
       Concat({kContinueFace, kContinueText}, Concat(kContinueRing, {kCancelFace, kCancelText}))},
      {"Tab, Tab: the ring around Cancel",
       {},
       {kKeyTab, kKeyTab},
       Concat({kContinueFace, kContinueText, kCancelFace, kCancelText}, kCancelRing)},
      {"keyboard cues always on: the ring from the start",
       {false, true, true, false},
       {},
       Concat({kContinueFace, kContinueText, kCancelFace, kCancelText}, kCancelRing)},
      {"a screen reader runs: the ring from the start",
       {false, true, false, true},
       {},
       Concat({kContinueFace, kContinueText, kCancelFace, kCancelText}, kCancelRing)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_app = nullptr;
    ui().SetDisplaySettings(c.settings);
    SensorUIApp& app = App();
    app.SetDpi(96);
    app.ReadDisplaySettings();
    for (std::uint32_t key : c.keys) app.OnKeyDown(key, false);
    canvas_.ClearRecords();
    app.Paint();
    ASSERT_GE(canvas_.draws.size(), 3u);
    EXPECT_EQ(std::vector<std::wstring>(canvas_.draws.begin(), canvas_.draws.begin() + 2), kPanel);
    EXPECT_EQ(std::vector<std::wstring>(canvas_.draws.begin() + 3, canvas_.draws.end()), c.buttons);
  }
}

TEST_F(UiKeyboard, TheFirstKeyRepaintsTheWindowWithItsFocusRing) {
  SensorUIApp& app = App();
  EXPECT_FALSE(app.look.focusVisible);
  app.OnKeyDown(kKeyRight, false);
  EXPECT_TRUE(app.look.focusVisible);
  bool whole = false;
  for (const Invalidation& i : canvas_.invalidations) whole = whole || (i.whole && i.window == kTestWindow);
  EXPECT_TRUE(whole);
}

TEST_F(UiKeyboard, AfterYesTheRingSurroundsTheProgressLineInsideTheWindow) {
  SensorUIApp& app = App();
  app.OnKeyDown(kKeyTab, false);
  ui().QueueAnswer(kIdYes);
  app.OnKeyDown(kKeyReturn, false);
  ASSERT_EQ(app.focus, FocusTarget::Progress);
  canvas_.ClearRecords();
  app.Paint();
  // The line's box (347, 165, 537, 185) reaches past the region's right edge
  // (516); the ring stays inside it.
  const std::vector<std::wstring> ring = Ring({343, 162, 512, 188}, 2, L"FFFFFF");
  ASSERT_GE(canvas_.draws.size(), 4u);
  EXPECT_EQ(canvas_.draws[3], L"text 347,165,537,185 fmt 0x0 font 16 colour E1E1E1 |Program Processing.");
  EXPECT_EQ(std::vector<std::wstring>(canvas_.draws.begin() + 4, canvas_.draws.end()), ring);
}

// WCAG's relative luminance and contrast ratio.
double Luminance(ColorRef c) {
  auto channel = [](unsigned v) {
    const double s = v / 255.0;
    return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(c & 0xFF) + 0.7152 * channel((c >> 8) & 0xFF) + 0.0722 * channel((c >> 16) & 0xFF);
}
double Contrast(ColorRef a, ColorRef b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (la > lb ? la + 0.05 : lb + 0.05) / (la > lb ? lb + 0.05 : la + 0.05);
}

TEST_F(UiKeyboard, TheFocusRingStandsOutByAtLeastThreeToOne) {
  // Against every colour of the panel it lies on and of the buttons it
  // surrounds, hovered or not.
  double least = 100;
  for (std::int32_t y = 0; y < kPanelHeight; ++y) {
    const PictureRow row = PanelRow(y);
    for (std::int32_t i = 0; i < row.count; ++i)
      least = std::min(least, Contrast(kFocusRingColour, row.runs[i].colour));
  }
  for (std::int32_t y = 0; y < kButtonFaceHeight; ++y) {
    for (PictureRow row : {ButtonNormalRow(y), ButtonHoverRow(y)}) {
      for (std::int32_t i = 0; i < row.count; ++i) {
        least = std::min(least, Contrast(kFocusRingColour, row.runs[i].colour));
      }
    }
  }
  EXPECT_GE(least, 3.0);
  // The measure itself: black on white is 21 : 1.
  EXPECT_NEAR(Contrast(Rgb(0, 0, 0), Rgb(255, 255, 255)), 21.0, 1e-9);
}

}  // namespace
}  // namespace tavu::test
