// The confirmation window's behaviour: painting per state, the button presses,
// the progress animation and the window's place on the screen.
#include <gtest/gtest.h>

#include <string>

#include "launcher/arming/recovery_worker.h"
#include "launcher/ui/window_layout.h"
#include "tests/fixtures/ui_test.h"

namespace tavu::test {
namespace {

const wchar_t kWarningLine[] =
    L"text 38,60,508,285 fmt 0x0 font 16 colour E1E1E1 |"
    L"This utility will initiate system recovery via TAVU preloaded recovery \n"
    L"partition. Be sure to back up your personal data as it may be lost \n"
    L"during to the recovery process.\n\n"
    L"Press \x201C"
    L"Continue\x201D to run the recovery process.\n"
    L"Press \x201C"
    L"Cancel\x201D to cancel the recovery process.";
const wchar_t kProcessingLine[] =
    L"text 38,60,508,285 fmt 0x0 font 16 colour E1E1E1 |"
    L"This tool will force the system into TAVU Notebook F9 Recovery \nenvironment.";
const wchar_t kTitleLine[] = L"text 105,23,575,248 fmt 0x0 font 18 colour E1E1E1 |System Recovery";

const wchar_t kConfirm[] = L"Are you sure you want to run the recovery process?";

using UiConfirmation = UiTest;

TEST_F(UiConfirmation, PaintDrawsInOrderAndSwapsButtonsForProgressWhileProcessing) {
  struct Case {
    const char* name;
    std::int32_t processing;
    bool hoverContinue;
    std::vector<std::wstring> draws;
  } cases[] = {
      {"confirming",
       0,
       false,
       {L"blit 129 at 0,0 530x225", kTitleLine, kWarningLine, L"blit 130 at 352,165 68x35",
        L"text 352,165,420,200 fmt 0x25 font 13 colour E1E1E1 |Continue", L"blit 130 at 430,165 68x35",
        L"text 430,165,498,200 fmt 0x25 font 13 colour E1E1E1 |Cancel"}},
      {"confirming, pointer over Continue",
       0,
       true,
       {L"blit 129 at 0,0 530x225", kTitleLine, kWarningLine, L"blit 131 at 352,165 68x35",
        L"text 352,165,420,200 fmt 0x25 font 13 colour E1E1E1 |Continue", L"blit 130 at 430,165 68x35",
        L"text 430,165,498,200 fmt 0x25 font 13 colour E1E1E1 |Cancel"}},
      {"processing, pointer over Continue",
       1,
       true,
       {L"blit 129 at 0,0 530x225", kTitleLine, kProcessingLine,
        L"text 347,165,537,185 fmt 0x0 font 16 colour E1E1E1 |Program Processing."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_app = nullptr;
    SensorUIApp& app = App();
    if (c.processing == 1) {
      ui().QueueAnswer(kIdYes);
      app.OnLButtonDown(380, 180);
    }
    app.OnMouseMove(c.hoverContinue ? 380 : 10, 182);
    canvas_.ClearRecords();
    app.Paint();
    EXPECT_EQ(canvas_.draws, c.draws);
    // One paint on the main window, transparent text, default font first.
    ASSERT_GE(canvas_.calls.size(), 3u);
    EXPECT_EQ(canvas_.calls[0], L"begin");
    EXPECT_EQ(canvas_.calls[1], L"transparent");
    EXPECT_EQ(canvas_.calls[2], L"font 13");
    EXPECT_EQ(canvas_.calls.back(), L"end");
    EXPECT_EQ(canvas_.paintWindows, std::vector<Handle>{kTestWindow});
    EXPECT_EQ(canvas_.openPaints, 0);
    EXPECT_TRUE(canvas_.invalidations.empty());  // painting never asks for more paint
  }
}

TEST_F(UiConfirmation, ButtonPresses) {
  const PixelRect kMessage{-7, 60, 523, 285};
  const std::wstring kQuestion = std::wstring(L"Recovery Confirmation|") + kConfirm + L"|260";
  enum class Fault { None, Box, Thread };
  struct Case {
    const char* name;
    int x, y;
    std::vector<int> answers;
    Fault fault;
    std::vector<std::wstring> boxes;  // caption|text|flags
    int destroys;
    bool workerStarted;  // processing set up and CreateThread asked for
    std::int32_t processing;
  } cases[] = {
      {"Continue, Yes", 380, 180, {kIdYes}, Fault::None, {kQuestion}, 0, true, 1},
      {"Continue, No", 380, 180, {kIdNo}, Fault::None, {kQuestion}, 1, false, 0},
      {"Continue, box could not be shown", 353, 199, {}, Fault::Box, {kQuestion}, 1, false, 0},
      {"Continue, box closed otherwise", 386, 182, {2}, Fault::None, {kQuestion}, 1, false, 0},
      {"Continue, Yes, thread cannot be created",
       419,
       166,
       {kIdYes},
       Fault::Thread,
       {kQuestion,
        L"Recovery Aborted|The recovery process could not be started. Nothing on this "
        L"computer has been changed.|0"},
       1,
       true,
       1},
      {"Cancel", 460, 180, {}, Fault::None, {}, 1, false, 0},
      {"Cancel's corner", 497, 199, {}, Fault::None, {}, 1, false, 0},
      {"Continue's edge", 352, 180, {}, Fault::None, {}, 0, false, 0},
      {"between the buttons", 425, 180, {}, Fault::None, {}, 0, false, 0},
      {"empty panel", 200, 100, {}, Fault::None, {}, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_app = nullptr;
    g_workerThread = nullptr;
    workerStart_ = WorkerStart{};
    SensorUIApp& app = App();
    const std::size_t boxesBefore = ui().messageBoxes().size();
    const std::size_t destroysBefore = ui().destroyPosts().size();
    const std::size_t threadsBefore = ui().threads().size();
    for (int a : c.answers) ui().QueueAnswer(a);
    machine().faults().FailAll(sim::SimOp::MessageBox, c.fault == Fault::Box);
    machine().faults().FailAll(sim::SimOp::ThreadStart, c.fault == Fault::Thread);

    EXPECT_FALSE(app.OnLButtonDown(c.x, c.y));  // every press becomes a drag

    machine().faults().Reset();
    std::vector<std::wstring> boxes;
    for (const sim::SimMessageBox& b : From(ui().messageBoxes(), boxesBefore)) {
      EXPECT_EQ(b.owner, kTestWindow);
      boxes.push_back(b.caption + L"|" + b.text + L"|" + std::to_wstring(b.flags));
    }
    EXPECT_EQ(boxes, c.boxes);
    EXPECT_EQ(From(ui().destroyPosts(), destroysBefore), std::vector<Handle>(c.destroys, kTestWindow));
    EXPECT_EQ(app.processing, c.processing);
    const std::vector<sim::SimThreadRun> threads = From(ui().threads(), threadsBefore);
    if (c.workerStarted) {
      EXPECT_EQ(app.messageLabel->text, app.processingText);
      ASSERT_EQ(canvas_.timers.size(), 1u);
      EXPECT_EQ(canvas_.timers[0].window, kTestWindow);
      EXPECT_EQ(canvas_.timers[0].id, 275u);
      EXPECT_EQ(canvas_.timers[0].periodMs, 1000u);
      bool messageInvalidated = false;
      for (const Invalidation& i : canvas_.invalidations) {
        if (!i.whole && i.rect == kMessage && !i.erase && i.window == kTestWindow) messageInvalidated = true;
      }
      EXPECT_TRUE(messageInvalidated);
    } else {
      EXPECT_TRUE(canvas_.timers.empty());
      EXPECT_EQ(app.messageLabel->text, app.warningText);
    }
    if (c.workerStarted && c.fault != Fault::Thread) {
      ASSERT_EQ(threads.size(), 1u);
      EXPECT_EQ(threads[0].routine, &UiTest::TestWorker);
      EXPECT_EQ(threads[0].parameter, nullptr);
      EXPECT_NE(g_workerThread, nullptr);
      // The worker starts with the window already in its processing state.
      EXPECT_EQ(workerStart_.runs, 1);
      EXPECT_EQ(workerStart_.processing, 1);
      EXPECT_EQ(workerStart_.timers, 1u);
      EXPECT_EQ(workerStart_.messageText, app.processingText);
    } else {
      EXPECT_TRUE(threads.empty());
      EXPECT_EQ(workerStart_.runs, 0);
      EXPECT_EQ(g_workerThread, nullptr);
    }
  }
}

TEST_F(UiConfirmation, TheProgramStartsTheRecoveryWorker) {
  SensorUIApp app;
  EXPECT_EQ(app.workerRoutine, &RecoveryWorker);
}

TEST_F(UiConfirmation, HiddenButtonsDoNotAnswerWhileProcessing) {
  SensorUIApp& app = App();
  ui().QueueAnswer(kIdYes);
  ui().QueueAnswer(kIdYes);
  app.OnLButtonDown(380, 180);
  ASSERT_EQ(app.processing, 1);
  ASSERT_EQ(ui().threads().size(), 1u);

  struct Press {
    int x, y;
    bool continueHovered, cancelHovered;
  } presses[] = {{380, 180, true, false}, {460, 180, false, true}, {200, 100, false, false}};
  for (const Press& p : presses) {
    SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
    EXPECT_FALSE(app.OnLButtonDown(p.x, p.y));
    EXPECT_EQ(ui().messageBoxes().size(), 1u);  // no second question
    EXPECT_EQ(ui().threads().size(), 1u);       // no second worker
    EXPECT_TRUE(ui().destroyPosts().empty());   // arming is not cut short
    EXPECT_EQ(canvas_.timers.size(), 1u);
    // The hidden buttons still follow the pointer.
    EXPECT_EQ(app.continueButton->hovered, p.continueHovered);
    EXPECT_EQ(app.cancelButton->hovered, p.cancelHovered);
  }
  // And so do mouse moves.
  EXPECT_FALSE(app.OnMouseMove(381, 181));
  EXPECT_TRUE(app.continueButton->hovered);
  EXPECT_FALSE(app.OnMouseMove(5, 5));
  EXPECT_FALSE(app.continueButton->hovered);
}

TEST_F(UiConfirmation, ProgressLineCyclesThroughOneToFourDots) {
  SensorUIApp& app = App();
  ui().QueueAnswer(kIdYes);
  app.OnLButtonDown(380, 180);
  EXPECT_EQ(app.progressLabel->text, app.progressBaseText);
  EXPECT_EQ(std::wstring(app.progressLabel->text), L"Program Processing.");

  const wchar_t* expected[] = {
      L"Program Processing..", L"Program Processing...", L"Program Processing....", L"Program Processing.",
      L"Program Processing..", L"Program Processing...", L"Program Processing....", L"Program Processing.",
  };
  const std::int32_t ticks[] = {1, 2, 3, 0, 1, 2, 3, 0};
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(testing::Message() << "tick " << i + 1);
    canvas_.ClearRecords();
    ProgressTimerTick();
    EXPECT_EQ(g_progressTick, ticks[i]);
    EXPECT_EQ(std::wstring(app.progressText), expected[i]);
    EXPECT_EQ(app.progressLabel->text, app.progressText);
    ASSERT_EQ(canvas_.invalidations.size(), 1u);
    EXPECT_EQ(canvas_.invalidations[0].window, kTestWindow);
    EXPECT_EQ(canvas_.invalidations[0].rect, (PixelRect{302, 165, 552, 185}));
    EXPECT_FALSE(canvas_.invalidations[0].erase);
    // Painted at once, inside the tick, with the new text.
    ASSERT_EQ(canvas_.paintWindows.size(), 1u);
    ASSERT_FALSE(canvas_.draws.empty());
    EXPECT_EQ(canvas_.draws.back(),
              std::wstring(L"text 347,165,537,185 fmt 0x0 font 16 colour E1E1E1 |") + expected[i]);
  }
  // However long it runs, the line never grows past four dots.
  for (int i = 0; i < 1000; ++i) {
    ProgressTimerTick();
    ASSERT_LE(std::wstring(app.progressText).size(), std::wstring(L"Program Processing....").size());
  }
}

TEST_F(UiConfirmation, WindowIsCentredWithIntegerHalving) {
  struct Case {
    std::int32_t sw, sh, x, y;
  } cases[] = {
      {1366, 768, 418, 259}, {1365, 767, 417, 258}, {1920, 1080, 695, 415}, {1024, 768, 247, 259},
      {531, 251, 0, 0},      {529, 249, -1, -1},    {101, 99, -215, -76},
  };
  for (const Case& c : cases) {
    const WindowOrigin o = CentredWindowOrigin(c.sw, c.sh);
    EXPECT_EQ(o.x, c.x) << c.sw << "x" << c.sh;
    EXPECT_EQ(o.y, c.y) << c.sw << "x" << c.sh;
  }
}

}  // namespace
}  // namespace tavu::test
