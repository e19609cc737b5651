// The drawn widgets: building the widget table, hit-testing and what each
// widget draws.
#include <gtest/gtest.h>

#include <string>

#include "tests/fixtures/ui_test.h"

namespace tavu::test {
namespace {

const wchar_t kWarning[] =
    L"This utility will initiate system recovery via TAVU preloaded recovery \n"
    L"partition. Be sure to back up your personal data as it may be lost \n"
    L"during to the recovery process.\n\n"
    L"Press \x201C"
    L"Continue\x201D to run the recovery process.\n"
    L"Press \x201C"
    L"Cancel\x201D to cancel the recovery process.";
const wchar_t kProcessing[] =
    L"This tool will force the system into TAVU Notebook F9 Recovery \nenvironment.";

using UiWidgets = UiTest;

TEST_F(UiWidgets, InitBuildsTheTextsAndWidgetTable) {
  SensorUIApp& app = App();
  EXPECT_TRUE(app.ready);
  EXPECT_EQ(app.processing, 0);

  EXPECT_EQ(std::wstring(app.titleText), L"System Recovery");
  EXPECT_EQ(std::wstring(app.warningText), kWarning);
  EXPECT_EQ(std::wstring(app.processingText), kProcessing);
  EXPECT_EQ(std::wstring(app.continueText), L"Continue");
  EXPECT_EQ(std::wstring(app.cancelText), L"Cancel");
  EXPECT_EQ(std::wstring(app.progressBaseText), L"Program Processing.");
  EXPECT_EQ(std::wstring(app.progressText), L"Program Processing.");

  // Every text goes to the debugger in the order it was copied.
  const std::vector<std::wstring> debug = {L"System Recovery",    kWarning,  kProcessing,
                                           L"Continue",           L"Cancel", L"Program Processing.",
                                           L"Program Processing."};
  EXPECT_EQ(ui().debugOutput(), debug);

  struct Row {
    const char* name;
    const UIElement* widget;
    int x, y, w, h;
    ColorRef colour;
    int fontHeight;  // 0: no font of its own
    const wchar_t* text;
    const wchar_t* buffer;
  } rows[] = {
      {"title", app.titleLabel, 60, 23, 530, 225, 0xE1E1E1, 18, app.titleLabel->text, app.titleText},
      {"message", app.messageLabel, -7, 60, 530, 225, 0xE1E1E1, 16, app.messageLabel->text, app.warningText},
      {"progress", app.progressLabel, 302, 165, 250, 20, 0xE1E1E1, 16, app.progressLabel->text,
       app.progressBaseText},
      {"background", app.background, 0, 0, 0, 0, 0, 0, nullptr, nullptr},
      {"continue", app.continueButton, 352, 165, 68, 35, 0xE1E1E1, 0, app.continueButton->text,
       app.continueText},
      {"cancel", app.cancelButton, 430, 165, 68, 35, 0xE1E1E1, 0, app.cancelButton->text, app.cancelText},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_NE(r.widget, nullptr);
    EXPECT_EQ(r.widget->x, r.x);
    EXPECT_EQ(r.widget->y, r.y);
    EXPECT_EQ(r.widget->width, r.w);
    EXPECT_EQ(r.widget->height, r.h);
    EXPECT_EQ(r.widget->textColor, r.colour);
    EXPECT_EQ(r.widget->font != nullptr, r.fontHeight != 0);
    EXPECT_EQ(canvas_.FontHeight(r.widget->font), r.fontHeight);
    EXPECT_EQ(r.text, r.buffer);  // borrowed from the app's own buffer, not a copy
    EXPECT_FALSE(r.widget->hovered);
  }

  EXPECT_EQ(canvas_.FontHeight(app.defaultFont), 13);
  for (const std::wstring& face : canvas_.fontFaces) EXPECT_EQ(face, L"Verdana");
  EXPECT_EQ(canvas_.BitmapId(app.background->bitmap), 129);
  for (const Button* b : {app.continueButton, app.cancelButton}) {
    EXPECT_EQ(canvas_.BitmapId(b->normalBitmap), 130);
    EXPECT_EQ(canvas_.BitmapId(b->hoverBitmap), 131);
  }
  EXPECT_TRUE(ui().messageBoxes().empty());
}

TEST_F(UiWidgets, MissingBitmapsLeaveAWorkingWindow) {
  struct Case {
    const char* name;
    std::set<int> missing;
    int warnings;
    std::vector<std::wstring> draws;
  } cases[] = {
      {"panel missing: warned once, drawn without the panel",
       {129},
       1,
       {L"text 105,23,575,248 fmt 0x0 font 18 colour E1E1E1 |System Recovery",
        std::wstring(L"text 38,60,508,285 fmt 0x0 font 16 colour E1E1E1 |") + kWarning,
        L"blit 130 at 352,165 68x35", L"text 352,165,420,200 fmt 0x25 font 13 colour E1E1E1 |Continue",
        L"blit 130 at 430,165 68x35", L"text 430,165,498,200 fmt 0x25 font 13 colour E1E1E1 |Cancel"}},
      {"button faces missing: unnoticed, captions still drawn",
       {130, 131},
       0,
       {L"blit 129 at 0,0 530x225", L"text 105,23,575,248 fmt 0x0 font 18 colour E1E1E1 |System Recovery",
        std::wstring(L"text 38,60,508,285 fmt 0x0 font 16 colour E1E1E1 |") + kWarning,
        L"text 352,165,420,200 fmt 0x25 font 13 colour E1E1E1 |Continue",
        L"text 430,165,498,200 fmt 0x25 font 13 colour E1E1E1 |Cancel"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_app = nullptr;
    const std::size_t before = ui().messageBoxes().size();
    canvas_.missingBitmaps = c.missing;
    SensorUIApp& app = App();
    EXPECT_TRUE(app.ready);
    const std::vector<sim::SimMessageBox> boxes = From(ui().messageBoxes(), before);
    ASSERT_EQ(boxes.size(), static_cast<std::size_t>(c.warnings));
    if (c.warnings == 1) {
      EXPECT_EQ(boxes[0].owner, nullptr);  // no window exists yet
      EXPECT_EQ(boxes[0].text, L"Could not load image!");
      EXPECT_EQ(boxes[0].caption, L"Error");
      EXPECT_EQ(boxes[0].flags, 0x30u);
    }
    app.Paint();
    EXPECT_EQ(canvas_.draws, c.draws);
    EXPECT_TRUE(ui().destroyPosts().empty());
  }
}

TEST_F(UiWidgets, HitTestIsStrictOnEveryEdge) {
  SensorUIApp& app = App();
  // Continue spans x 352..420, y 165..200; Cancel x 430..498, same y.
  struct Case {
    bool continueButton;
    int x, y;
    bool inside;
  } cases[] = {
      {true, 352, 182, false},  {true, 353, 182, true},  {true, 420, 182, false},  {true, 419, 182, true},
      {true, 386, 165, false},  {true, 386, 166, true},  {true, 386, 200, false},  {true, 386, 199, true},
      {true, 352, 165, false},  {true, 353, 166, true},  {true, 419, 199, true},   {true, 420, 200, false},
      {true, 351, 182, false},  {true, 386, 201, false}, {false, 430, 182, false}, {false, 431, 182, true},
      {false, 498, 182, false}, {false, 497, 182, true}, {false, 464, 165, false}, {false, 464, 166, true},
      {false, 464, 200, false}, {false, 464, 199, true}, {false, 498, 200, false}, {false, 431, 166, true},
      {false, 497, 199, true},
  };
  for (const Case& c : cases) {
    Button* b = c.continueButton ? app.continueButton : app.cancelButton;
    SCOPED_TRACE(testing::Message() << (c.continueButton ? "continue " : "cancel ") << c.x << "," << c.y);
    b->hovered = !c.inside;  // so every case is a change and is reported
    canvas_.invalidations.clear();
    EXPECT_EQ(b->HitTest(c.x, c.y), c.inside);
    EXPECT_EQ(b->hovered, c.inside);
    EXPECT_TRUE(b->hoverChanged);
    EXPECT_EQ(canvas_.invalidations.size(), 1u);
  }
}

TEST_F(UiWidgets, InvalidatesOncePerCrossingAndNeverWhileMovingInside) {
  SensorUIApp& app = App();
  const PixelRect kContinue{352, 165, 420, 200};
  const PixelRect kCancel{430, 165, 498, 200};
  struct Step {
    int x, y;
    std::vector<PixelRect> invalidated;
    bool continueHovered, cancelHovered;
  } steps[] = {
      {10, 10, {}, false, false},
      {353, 166, {kContinue}, true, false},  // enters Continue
      {360, 180, {}, true, false},
      {419, 199, {}, true, false},
      {386, 182, {}, true, false},
      {420, 182, {kContinue}, false, false},  // onto its right edge: left it
      {421, 182, {}, false, false},
      {429, 182, {}, false, false},
      {431, 182, {kCancel}, false, true},
      {497, 199, {}, false, true},
      {380, 180, {kContinue, kCancel}, true, false},  // jumps across in one move
      {380, 181, {}, true, false},
      {5, 5, {kContinue}, false, false},
      {60000, 60000, {}, false, false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "move to " << s.x << "," << s.y);
    canvas_.invalidations.clear();
    EXPECT_FALSE(app.OnMouseMove(s.x, s.y));
    ASSERT_EQ(canvas_.invalidations.size(), s.invalidated.size());
    for (std::size_t i = 0; i < s.invalidated.size(); ++i) {
      EXPECT_EQ(canvas_.invalidations[i].window, kTestWindow);
      EXPECT_FALSE(canvas_.invalidations[i].whole);
      EXPECT_EQ(canvas_.invalidations[i].rect, s.invalidated[i]);
      EXPECT_FALSE(canvas_.invalidations[i].erase);
    }
    EXPECT_EQ(app.continueButton->hovered, s.continueHovered);
    EXPECT_EQ(app.cancelButton->hovered, s.cancelHovered);
  }
  EXPECT_TRUE(canvas_.calls.empty());  // hover tracking never paints by itself
}

TEST_F(UiWidgets, BackgroundImageNeverHits) {
  SensorUIApp& app = App();
  const int points[][2] = {{0, 0}, {1, 1}, {265, 112}, {529, 224}, {-1, -1}, {530, 225}};
  for (int round = 0; round < 2; ++round) {
    for (const auto& p : points) {
      EXPECT_FALSE(app.background->HitTest(p[0], p[1])) << p[0] << "," << p[1];
      EXPECT_FALSE(app.background->hoverChanged);
    }
  }
  EXPECT_TRUE(canvas_.invalidations.empty());
}

TEST_F(UiWidgets, LabelsDrawInTheirInsetRectangle) {
  // A label without a font of its own draws in whatever the DC holds; one with
  // a font puts the previous font back. Neither wraps: format 0 breaks only at
  // line feeds and clips at the right edge.
  struct Case {
    const char* name;
    int fontHeight;  // 0: none of its own
    std::vector<std::wstring> calls;
  } cases[] = {
      {"no font",
       0,
       {L"begin", L"text 45,10,85,30 fmt 0x0 font 0 colour 000000 |a long line without breaks", L"end"}},
      {"own font",
       16,
       {L"begin", L"font 16", L"colour 0000FF",
        L"text 45,10,85,30 fmt 0x0 font 16 colour 0000FF |a long line without breaks", L"font 0", L"end"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    canvas_.ClearRecords();
    Label label(L"a long line without breaks");
    label.x = 0;
    label.y = 10;
    label.width = 100;
    label.height = 20;
    label.textColor = 0x0000FF;
    label.font = c.fontHeight == 0 ? nullptr : canvas_.MakeFont(c.fontHeight, L"Verdana");
    DeviceContext dc = canvas_.BeginPaint(kTestWindow);
    label.Draw(dc);
    canvas_.EndPaint(kTestWindow);
    EXPECT_EQ(canvas_.calls, c.calls);
  }
}

TEST_F(UiWidgets, ImagesAndButtonFacesAreCopiedAtTheBitmapsOwnSize) {
  SensorUIApp& app = App();
  // Widget sizes that disagree with the bitmaps: the bitmaps win.
  app.background->x = 3;
  app.background->y = 4;
  app.continueButton->width = 10;
  app.continueButton->height = 10;
  DeviceContext dc = canvas_.BeginPaint(kTestWindow);
  app.background->Draw(dc);
  app.continueButton->Draw(dc);
  canvas_.EndPaint(kTestWindow);
  const std::vector<std::wstring> draws = {L"blit 129 at 3,4 530x225", L"blit 130 at 352,165 68x35",
                                           L"text 352,165,362,175 fmt 0x25 font 0 colour E1E1E1 |Continue"};
  EXPECT_EQ(canvas_.draws, draws);
}

}  // namespace
}  // namespace tavu::test
