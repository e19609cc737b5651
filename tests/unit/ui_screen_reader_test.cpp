// What a screen reader reads of the confirmation window (the state the
// application object publishes for MSAA), the events it is told, and its
// presses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fixtures/ui_test.h"

namespace tavu::test {
namespace {

// What the publishing hook saw, with how many events had been raised by then.
struct Published {
  AccessibleView view;
  std::size_t eventsBefore;
};
std::vector<Published>* g_published = nullptr;
sim::SimUi* g_publishedUi = nullptr;

void RecordPublished(const AccessibleView& view) {
  g_published->push_back({view, g_publishedUi->accessibleEvents().size()});
}

class UiScreenReader : public UiTest {
 protected:
  UiScreenReader() {
    g_published = &published_;
    g_publishedUi = &ui();
  }
  ~UiScreenReader() override {
    g_published = nullptr;
    g_publishedUi = nullptr;
  }

  SensorUIApp& Listened() {
    SensorUIApp& app = App();
    app.publishAccessible = &RecordPublished;
    return app;
  }

  std::vector<Published> published_;
};

std::wstring Name(const AccessibleItem& item) { return item.name != nullptr ? item.name : L"(none)"; }

TEST_F(UiScreenReader, TheDialogItsTextAndItsButtonsBeforeYes) {
  SensorUIApp& app = Listened();
  app.OnFocusChanged(true);
  const AccessibleView view = app.AccessibleState();
  EXPECT_EQ(view.childCount, 3);
  EXPECT_EQ(view.focus, kChildCancel);
  struct Row {
    std::int32_t child;
    std::wstring name;
    std::uint32_t role;
    std::uint32_t state;
    PixelRect bounds;
    bool pressable;
  } rows[] = {
      // Named by the drawn caption; the window's title stays "TAVUF9Recovery".
      {kChildSelf, L"System Recovery", kRoleDialog, kStateFocusable, {15, 15, 516, 210}, false},
      // The warning's box, within the visible region.
      {kChildWarning, app.warningText, kRoleStaticText, kStateReadOnly, {38, 60, 508, 210}, false},
      {kChildContinue, L"Continue", kRolePushButton, kStateFocusable, {352, 165, 420, 200}, true},
      {kChildCancel,
       L"Cancel",
       kRolePushButton,
       kStateFocusable | kStateFocused | kStateDefault,
       {430, 165, 498, 200},
       true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.child);
    const AccessibleItem& item = view.items[r.child];
    EXPECT_EQ(Name(item), r.name);
    EXPECT_EQ(item.role, r.role);
    EXPECT_EQ(item.state, r.state);
    EXPECT_EQ(item.bounds, r.bounds);
    EXPECT_EQ(item.pressable, r.pressable);
  }
  // The names point at texts that nothing writes after Init, so that COM's
  // threads may read them while the window goes on.
  EXPECT_EQ(view.items[kChildSelf].name, app.titleText);
  EXPECT_EQ(view.items[kChildContinue].name, app.continueText);
  EXPECT_EQ(view.items[kChildCancel].name, app.cancelText);

  // Focus moved: Continue is focused and is the button Enter presses.
  app.OnKeyDown(kKeyTab, false);
  const AccessibleView moved = app.AccessibleState();
  EXPECT_EQ(moved.focus, kChildContinue);
  EXPECT_EQ(moved.items[kChildContinue].state, kStateFocusable | kStateFocused | kStateDefault);
  EXPECT_EQ(moved.items[kChildCancel].state, kStateFocusable);

  // The window without the keyboard focus: nothing is focused, the default stays.
  app.OnFocusChanged(false);
  const AccessibleView away = app.AccessibleState();
  EXPECT_EQ(away.focus, kNoChild);
  EXPECT_EQ(away.items[kChildContinue].state, kStateFocusable | kStateDefault);
  ASSERT_FALSE(published_.empty());
  EXPECT_EQ(published_.back().view.focus, kNoChild);
}

TEST_F(UiScreenReader, AfterYesTheProgressLineAppearsAndTakesTheFocus) {
  SensorUIApp& app = Listened();
  app.OnFocusChanged(true);
  const std::size_t before = ui().accessibleEvents().size();
  ui().QueueAnswer(kIdYes);
  app.OnLButtonDown(380, 180);
  ASSERT_EQ(app.processing, 1);

  const std::vector<sim::SimAccessibleEvent> events = {
      {kTestWindow, kEventObjectNameChange, kChildWarning},
      {kTestWindow, kEventObjectStateChange, kChildContinue},
      {kTestWindow, kEventObjectStateChange, kChildCancel},
      {kTestWindow, kEventObjectShow, kChildProgress},
      {kTestWindow, kEventObjectFocus, kChildProgress},
  };
  EXPECT_EQ(From(ui().accessibleEvents(), before), events);

  const AccessibleView view = app.AccessibleState();
  EXPECT_EQ(view.childCount, 4);
  EXPECT_EQ(view.focus, kChildProgress);
  EXPECT_EQ(Name(view.items[kChildWarning]), app.processingText);
  for (std::int32_t button : {kChildContinue, kChildCancel}) {
    EXPECT_EQ(view.items[button].state, kStateUnavailable | kStateInvisible) << button;
    EXPECT_FALSE(view.items[button].pressable) << button;
  }
  // Named as the line stands still, so that its moving dots do not make a
  // screen reader say it again each second.
  EXPECT_EQ(Name(view.items[kChildProgress]), L"Program Processing...");
  EXPECT_EQ(view.items[kChildProgress].role, kRoleStaticText);
  EXPECT_EQ(view.items[kChildProgress].state,
            kStateReadOnly | kStateFocusable | kStateFocused | kStateAnimated);
  EXPECT_EQ(view.items[kChildProgress].bounds, (PixelRect{347, 165, 516, 185}));
  EXPECT_FALSE(view.items[kChildProgress].pressable);
}

TEST_F(UiScreenReader, EveryChangeIsPublishedBeforeItIsAnnounced) {
  SensorUIApp& app = Listened();
  app.OnFocusChanged(true);
  app.OnKeyDown(kKeyTab, false);
  ui().QueueAnswer(kIdYes);
  app.OnKeyDown(kKeyReturn, false);
  const std::vector<sim::SimAccessibleEvent> events = ui().accessibleEvents();
  ASSERT_FALSE(events.empty());
  for (std::size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "event " << i);
    // The last state published before event i is the state it announces.
    const Published* last = nullptr;
    for (const Published& p : published_) {
      if (p.eventsBefore <= i) last = &p;
    }
    ASSERT_NE(last, nullptr);
    if (events[i].event == kEventObjectFocus) {
      EXPECT_EQ(last->view.focus, events[i].child);
    }
    if (events[i].event == kEventObjectStateChange) {
      EXPECT_EQ(last->view.items[events[i].child].state & kStateUnavailable, kStateUnavailable);
    }
    if (events[i].event == kEventObjectShow) {
      EXPECT_EQ(last->view.childCount, 4);
    }
  }
  // And the latest is the state as it stands.
  const AccessibleView now = app.AccessibleState();
  EXPECT_EQ(published_.back().view.focus, now.focus);
  EXPECT_EQ(published_.back().view.childCount, now.childCount);
}

TEST_F(UiScreenReader, WhileTheBoxIsOpenTheButtonsCannotBePressed) {
  SensorUIApp& app = Listened();
  ui().QueueAnswer(kIdNo);
  app.OnAccessiblePress(kChildContinue);
  // What was published while the box was open.
  bool sawAsking = false;
  for (const Published& p : published_) {
    if ((p.view.items[kChildContinue].state & kStateUnavailable) == 0) continue;
    sawAsking = true;
    EXPECT_FALSE(p.view.items[kChildContinue].pressable);
    EXPECT_FALSE(p.view.items[kChildCancel].pressable);
    EXPECT_EQ(p.view.items[kChildCancel].state & kStateInvisible, 0u);  // still drawn
  }
  EXPECT_TRUE(sawAsking);
  EXPECT_FALSE(app.asking);
  EXPECT_EQ(ui().destroyPosts().size(), 1u);  // No ends the program

  // A press posted before the box opened, arriving while it is open.
  g_app = nullptr;
  SensorUIApp& again = Listened();
  again.asking = true;
  again.OnAccessiblePress(kChildContinue);
  again.OnAccessiblePress(kChildCancel);
  EXPECT_EQ(ui().messageBoxes().size(), 1u);
  EXPECT_EQ(ui().destroyPosts().size(), 1u);
}

TEST_F(UiScreenReader, PressesComeAsPostedMessagesAndAnswerAsClicks) {
  const std::wstring kQuestion = L"Recovery Confirmation";
  struct Case {
    const char* name;
    std::vector<std::int32_t> presses;
    std::vector<int> answers;
    std::size_t boxes;
    int destroys;
    std::int32_t processing;
  } cases[] = {
      {"Cancel", {kChildCancel}, {}, 0, 1, 0},
      {"Continue, No", {kChildContinue}, {kIdNo}, 1, 1, 0},
      {"Continue, Yes", {kChildContinue}, {kIdYes}, 1, 0, 1},
      {"Continue, Yes, then both again", {kChildContinue, kChildContinue, kChildCancel}, {kIdYes}, 1, 0, 1},
      {"what cannot be pressed", {kChildSelf, kChildWarning, kChildProgress, 9, -1}, {}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_app = nullptr;
    SensorUIApp& app = Listened();
    const std::size_t boxes = ui().messageBoxes().size();
    const std::size_t destroys = ui().destroyPosts().size();
    for (int a : c.answers) ui().QueueAnswer(a);
    for (std::int32_t p : c.presses) app.OnAccessiblePress(p);
    const std::vector<sim::SimMessageBox> shown = From(ui().messageBoxes(), boxes);
    ASSERT_EQ(shown.size(), c.boxes);
    if (c.boxes == 1) {
      EXPECT_EQ(shown[0].caption, kQuestion);
    }
    EXPECT_EQ(From(ui().destroyPosts(), destroys).size(), static_cast<std::size_t>(c.destroys));
    EXPECT_EQ(app.processing, c.processing);
    // Presses move no focus: the keyboard's focus is the keyboard's.
    EXPECT_EQ(app.focus, c.processing == 1 ? FocusTarget::Progress : FocusTarget::Cancel);
  }
}

TEST_F(UiScreenReader, HitTestingAndNavigation) {
  SensorUIApp& app = App();
  const AccessibleView view = app.AccessibleState();
  struct Hit {
    std::int32_t x, y, child;
  } hits[] = {
      {380, 180, kChildContinue}, {352, 165, kChildContinue}, {419, 199, kChildContinue},
      {420, 180, kChildWarning},  {460, 180, kChildCancel},   {100, 80, kChildWarning},
      {20, 20, kChildSelf},       {512, 100, kChildSelf},     {14, 100, kNoChild},
      {516, 100, kNoChild},       {300, 230, kNoChild},
  };
  for (const Hit& h : hits) {
    EXPECT_EQ(AccessibleHitTest(view, h.x, h.y), h.child) << h.x << "," << h.y;
  }
  EXPECT_EQ(AccessibleNavigate(view, kChildSelf, kNavigateFirstChild), kChildWarning);
  EXPECT_EQ(AccessibleNavigate(view, kChildSelf, kNavigateLastChild), kChildCancel);
  EXPECT_EQ(AccessibleNavigate(view, kChildWarning, kNavigateNext), kChildContinue);
  EXPECT_EQ(AccessibleNavigate(view, kChildCancel, kNavigateNext), kNoChild);
  EXPECT_EQ(AccessibleNavigate(view, kChildContinue, kNavigatePrevious), kChildWarning);
  EXPECT_EQ(AccessibleNavigate(view, kChildSelf, kNavigateNext), kNoChild);
  EXPECT_EQ(AccessibleNavigate(view, kChildProgress, kNavigateNext), kNoChild);  // not a child yet

  ui().QueueAnswer(kIdYes);
  app.OnLButtonDown(380, 180);
  const AccessibleView processing = app.AccessibleState();
  // The buttons are gone: their place is the progress line's, or the warning's.
  EXPECT_EQ(AccessibleHitTest(processing, 380, 180), kChildProgress);
  EXPECT_EQ(AccessibleHitTest(processing, 460, 195), kChildWarning);
  EXPECT_EQ(AccessibleNavigate(processing, kChildWarning, kNavigateNext), kChildProgress);
  EXPECT_EQ(AccessibleNavigate(processing, kChildProgress, kNavigatePrevious), kChildWarning);
  EXPECT_EQ(AccessibleNavigate(processing, kChildSelf, kNavigateLastChild), kChildProgress);
}

}  // namespace
}  // namespace tavu::test
