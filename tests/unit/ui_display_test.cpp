// The confirmation window at other DPIs, in high contrast and without
// animations: sizes, layout and fonts per DPI, the panel and button faces
// drawn at the size needed (checked pixel for pixel against the bitmaps that
// launcher/res/make_images.py draws), the system colours, and a progress line
// that stands still.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/ui/drawn_faces.h"
#include "launcher/ui/window_layout.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/ui_test.h"

namespace tavu::test {
namespace {

TEST(UiScaling, MeasuresScaleAsMulDivRounds) {
  struct Case {
    std::int32_t value;
    std::uint32_t dpi;
    std::int32_t scaled;
  } cases[] = {
      {530, 96, 530},  {-7, 96, -7},  {530, 144, 795}, {250, 144, 375}, {15, 144, 23}, {-7, 144, -11},
      {1, 144, 2},     {13, 144, 20}, {68, 192, 136},  {13, 120, 16},   {35, 144, 53}, {0, 288, 0},
      {225, 144, 338}, {-1, 120, -1}, {45, 168, 79},   {2, 120, 3},     {3, 240, 8},
  };
  for (const Case& c : cases) EXPECT_EQ(Scaled(c.value, c.dpi), c.scaled) << c.value << " at " << c.dpi;
}

TEST(UiScaling, TheWindowsSizeShapeAndPlaceAtEachDpi) {
  struct Case {
    std::uint32_t dpi;
    std::int32_t width, height;
    RoundRegion region;
    std::int32_t x, y;  // on a 1366 x 768 screen
  } cases[] = {
      {96, 530, 250, {15, 15, 516, 210, 24, 24}, 418, 259},
      {120, 663, 313, {19, 19, 645, 263, 30, 30}, 352, 228},
      {144, 795, 375, {23, 23, 774, 315, 36, 36}, 286, 197},
      {192, 1060, 500, {30, 30, 1032, 420, 48, 48}, 153, 134},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const WindowSize size = ScaledWindowSize(c.dpi);
    EXPECT_EQ(size.width, c.width);
    EXPECT_EQ(size.height, c.height);
    const RoundRegion r = ScaledRegion(c.dpi);
    EXPECT_EQ(r.left, c.region.left);
    EXPECT_EQ(r.top, c.region.top);
    EXPECT_EQ(r.right, c.region.right);
    EXPECT_EQ(r.bottom, c.region.bottom);
    EXPECT_EQ(r.ellipseWidth, c.region.ellipseWidth);
    EXPECT_EQ(r.ellipseHeight, c.region.ellipseHeight);
    const WindowOrigin o = CentredWindowOrigin(1366, 768, c.dpi);
    EXPECT_EQ(o.x, c.x);
    EXPECT_EQ(o.y, c.y);
  }
}

using UiDisplay = UiTest;

struct Geometry {
  const char* name;
  const UIElement* widget;
  std::int32_t x, y, w, h;
};

void ExpectGeometry(const std::vector<Geometry>& rows) {
  for (const Geometry& g : rows) {
    SCOPED_TRACE(g.name);
    EXPECT_EQ(g.widget->x, g.x);
    EXPECT_EQ(g.widget->y, g.y);
    EXPECT_EQ(g.widget->width, g.w);
    EXPECT_EQ(g.widget->height, g.h);
  }
}

std::vector<std::wstring> Texts(const std::vector<std::wstring>& draws) {
  std::vector<std::wstring> texts;
  for (const std::wstring& d : draws) {
    if (d.rfind(L"text ", 0) == 0) texts.push_back(d.substr(0, d.find(L'|')));
  }
  return texts;
}

TEST_F(UiDisplay, LayoutAndFontsFollowTheWindowsDpi) {
  SensorUIApp& app = App();
  app.SetDpi(144);
  ExpectGeometry({{"title", app.titleLabel, 90, 35, 795, 338},
                  {"message", app.messageLabel, -11, 90, 795, 338},
                  {"progress", app.progressLabel, 453, 248, 375, 30},
                  {"continue", app.continueButton, 528, 248, 102, 53},
                  {"cancel", app.cancelButton, 645, 248, 102, 53}});
  EXPECT_EQ(canvas_.FontHeight(app.defaultFont), 20);
  EXPECT_EQ(canvas_.FontHeight(app.titleLabel->font), 27);
  EXPECT_EQ(canvas_.FontHeight(app.messageLabel->font), 24);
  EXPECT_EQ(canvas_.FontHeight(app.progressLabel->font), 24);
  EXPECT_EQ(canvas_.deletedFontHeights, (std::vector<int>{13, 18, 16, 16}));  // none kept twice

  canvas_.ClearRecords();
  app.Paint();
  for (const std::wstring& d : canvas_.draws)
    EXPECT_EQ(d.rfind(L"blit", 0), std::wstring::npos) << "stretched: " << d;
  EXPECT_EQ(Texts(canvas_.draws), (std::vector<std::wstring>{
                                      L"text 158,35,862,373 fmt 0x0 font 27 colour E1E1E1 ",
                                      L"text 57,90,761,428 fmt 0x0 font 24 colour E1E1E1 ",
                                      L"text 528,248,630,301 fmt 0x25 font 20 colour E1E1E1 ",
                                      L"text 645,248,747,301 fmt 0x25 font 20 colour E1E1E1 ",
                                  }));
  // The hit tests follow: Continue now spans 528..630 x 248..301.
  EXPECT_TRUE(app.continueButton->HitTest(629, 300));
  EXPECT_FALSE(app.continueButton->HitTest(630, 300));

  // Back at 96 DPI: everything as it was built.
  app.SetDpi(96);
  ExpectGeometry({{"title", app.titleLabel, 60, 23, 530, 225},
                  {"message", app.messageLabel, -7, 60, 530, 225},
                  {"progress", app.progressLabel, 302, 165, 250, 20},
                  {"continue", app.continueButton, 352, 165, 68, 35},
                  {"cancel", app.cancelButton, 430, 165, 68, 35}});
  EXPECT_EQ(canvas_.FontHeight(app.defaultFont), 13);
  EXPECT_EQ(canvas_.FontHeight(app.titleLabel->font), 18);
  EXPECT_EQ(canvas_.FontHeight(app.messageLabel->font), 16);
}

TEST_F(UiDisplay, At96DpiWithWindowsDefaultsTheWindowIsDrawnAsItAlwaysWas) {
  SensorUIApp& fresh = App();
  fresh.Paint();
  const std::vector<std::wstring> before = canvas_.calls;
  // What the window does once it exists: its DPI and the owner's settings.
  canvas_.ClearRecords();
  fresh.SetDpi(96);
  fresh.SetDpi(0);  // GetDpiForWindow's answer for a window it does not know
  fresh.ReadDisplaySettings();
  EXPECT_TRUE(canvas_.calls.empty());
  EXPECT_TRUE(canvas_.invalidations.empty());
  EXPECT_TRUE(canvas_.deletedFontHeights.empty());
  EXPECT_EQ(fresh.WindowAlpha(), 229);
  EXPECT_EQ(fresh.settings, (DisplaySettings{false, true, false, false}));
  fresh.Paint();
  EXPECT_EQ(canvas_.calls, before);
}

// A 32-bpp bottom-up BMP as make_images.py writes it.
struct Bitmap {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::string bytes;
  std::uint32_t offset = 0;
  ColorRef At(std::int32_t x, std::int32_t y) const {
    const std::size_t p = offset + static_cast<std::size_t>((height - 1 - y) * width + x) * 4;
    return Rgb(static_cast<std::uint8_t>(bytes[p + 2]), static_cast<std::uint8_t>(bytes[p + 1]),
               static_cast<std::uint8_t>(bytes[p]));
  }
};

std::uint32_t Le32(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8) |
         (static_cast<std::uint8_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 3])) << 24);
}

Bitmap ReadBitmap(const std::string& path) {
  Bitmap bmp;
  bmp.bytes = ReadHostFile(path);
  if (bmp.bytes.size() < 54 || bmp.bytes.compare(0, 2, "BM") != 0) return bmp;
  bmp.offset = Le32(bmp.bytes, 10);
  bmp.width = static_cast<std::int32_t>(Le32(bmp.bytes, 18));
  bmp.height = static_cast<std::int32_t>(Le32(bmp.bytes, 22));
  return bmp;
}

// make_images.py's in_round_rect: the pixel test of CreateRoundRectRgn.
bool InRoundRect(std::int32_t x, std::int32_t y, const RoundRegion& r) {
  if (!(r.left <= x && x < r.right && r.top <= y && y < r.bottom)) return false;
  const double rx = r.ellipseWidth / 2.0;
  const double ry = r.ellipseHeight / 2.0;
  const double cx = std::min(std::max(x + 0.5, r.left + rx), r.right - rx);
  const double cy = std::min(std::max(y + 0.5, r.top + ry), r.bottom - ry);
  const double dx = (x + 0.5 - cx) / rx;
  const double dy = (y + 0.5 - cy) / ry;
  return dx * dx + dy * dy <= 1.0;
}

// The 96-DPI pixel that covers device pixel d: the last c with Scaled(c) <= d.
std::int32_t Source(std::int32_t d, std::int32_t size, std::uint32_t dpi) {
  std::int32_t c = 0;
  while (c + 1 < size && Scaled(c + 1, dpi) <= d) ++c;
  return c;
}

constexpr ColorRef kUnpainted = 0xFF000000;

// The fills recorded, painted into a width x height picture.
std::vector<ColorRef> Rasterised(const std::vector<FillRecord>& fills, std::int32_t width,
                                 std::int32_t height) {
  std::vector<ColorRef> pixels(static_cast<std::size_t>(width * height), kUnpainted);
  for (const FillRecord& f : fills) {
    for (std::int32_t y = std::max(0, f.rect.top); y < std::min(height, f.rect.bottom); ++y) {
      for (std::int32_t x = std::max(0, f.rect.left); x < std::min(width, f.rect.right); ++x) {
        pixels[static_cast<std::size_t>(y * width + x)] = f.colour;
      }
    }
  }
  return pixels;
}

TEST_F(UiDisplay, DrawnFacesAreTheBitmapsPixelsAtEveryDpi) {
  TempDir dir;
  const CommandResult made =
      RunCommand("python3 " + ShellQuote(std::string(TAVU_SOURCE_DIR) + "/launcher/res/make_images.py") +
                 " " + ShellQuote(dir.path()));
  ASSERT_EQ(made.status, 0) << made.err;
  struct Picture {
    const char* name;
    const char* file;
    PictureRowFn row;
    bool inRegionOnly;  // outside the region the panel bitmap is white and never seen
  } pictures[] = {
      {"panel", "panel.bmp", &PanelRow, true},
      {"button", "button_normal.bmp", &ButtonNormalRow, false},
      {"hovered button", "button_hover.bmp", &ButtonHoverRow, false},
  };
  for (const Picture& p : pictures) {
    const Bitmap bmp = ReadBitmap(dir.path() + "/" + p.file);
    ASSERT_GT(bmp.width, 0) << p.file;
    for (std::uint32_t dpi : {96u, 120u, 144u, 168u, 192u, 240u, 288u}) {
      SCOPED_TRACE(testing::Message() << p.name << " at " << dpi);
      canvas_.ClearRecords();
      DeviceContext dc = canvas_.BeginPaint(kTestWindow);
      DrawPicture(dc, 0, 0, bmp.width, bmp.height, p.row, dpi);
      canvas_.EndPaint(kTestWindow);
      const std::int32_t w = Scaled(bmp.width, dpi);
      const std::int32_t h = Scaled(bmp.height, dpi);
      const std::vector<ColorRef> drawn = Rasterised(canvas_.fills, w, h);
      const RoundRegion region = ScaledRegion(dpi);
      int wrong = 0;
      int unpainted = 0;
      for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
          const ColorRef got = drawn[static_cast<std::size_t>(y * w + x)];
          const std::int32_t sx = Source(x, bmp.width, dpi);
          const std::int32_t sy = Source(y, bmp.height, dpi);
          // Every pixel the window shows is painted.
          if (got == kUnpainted && (!p.inRegionOnly || InRoundRect(x, y, region))) ++unpainted;
          if (p.inRegionOnly && !InRoundRect(sx, sy, kWindowRegion)) continue;
          if (got != bmp.At(sx, sy) && wrong++ < 3) {
            ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << got << ", the bitmap's ("
                          << std::dec << sx << "," << sy << ") " << std::hex << bmp.At(sx, sy);
          }
        }
      }
      EXPECT_EQ(wrong, 0);
      EXPECT_EQ(unpainted, 0);
      // Equal rows are drawn together: a few dozen fills, not a fill per row.
      EXPECT_LE(canvas_.fills.size(), 40u);
    }
  }
}

TEST_F(UiDisplay, HighContrastDrawsWithTheSystemColoursWithoutBitmapsAndOpaque) {
  ui().SetDisplaySettings({true, true, false, false});
  ui().SetSystemColour(kColourWindow, 0x111111);
  ui().SetSystemColour(kColourWindowText, 0x222222);
  ui().SetSystemColour(kColourButtonFace, 0x333333);
  ui().SetSystemColour(kColourButtonText, 0x444444);
  ui().SetSystemColour(kColourHighlight, 0x555555);
  SensorUIApp& app = App();
  app.ReadDisplaySettings();
  EXPECT_EQ(app.WindowAlpha(), 255);
  const std::vector<std::wstring> kFrame = {
      L"fill 352,165,420,166 colour 444444", L"fill 352,199,420,200 colour 444444",
      L"fill 352,166,353,199 colour 444444", L"fill 419,166,420,199 colour 444444"};
  canvas_.ClearRecords();
  app.Paint();
  ASSERT_EQ(canvas_.draws.size(), 15u);
  EXPECT_EQ(canvas_.draws[0], L"fill 0,0,530,250 colour 111111");
  EXPECT_EQ(canvas_.draws[1], L"text 105,23,575,248 fmt 0x0 font 18 colour 222222 |System Recovery");
  EXPECT_EQ(canvas_.draws[2].rfind(L"text 38,60,508,285 fmt 0x0 font 16 colour 222222 |This utility", 0), 0u);
  EXPECT_EQ(canvas_.draws[3], L"fill 352,165,420,200 colour 333333");
  EXPECT_EQ(std::vector<std::wstring>(canvas_.draws.begin() + 4, canvas_.draws.begin() + 8), kFrame);
  EXPECT_EQ(canvas_.draws[8], L"text 352,165,420,200 fmt 0x25 font 13 colour 444444 |Continue");
  EXPECT_EQ(canvas_.draws[9], L"fill 430,165,498,200 colour 333333");
  EXPECT_EQ(canvas_.draws[14], L"text 430,165,498,200 fmt 0x25 font 13 colour 444444 |Cancel");

  // The focus in the highlight colour.
  app.OnKeyDown(kKeyTab, false);
  canvas_.ClearRecords();
  app.Paint();
  const std::vector<std::wstring> ring = {
      L"fill 349,162,423,164 colour 555555", L"fill 349,201,423,203 colour 555555",
      L"fill 349,164,351,201 colour 555555", L"fill 421,164,423,201 colour 555555"};
  ASSERT_GE(canvas_.draws.size(), 13u);
  EXPECT_EQ(std::vector<std::wstring>(canvas_.draws.begin() + 9, canvas_.draws.begin() + 13), ring);

  // At 144 DPI the window's colour still fills the whole client area.
  app.SetDpi(144);
  canvas_.ClearRecords();
  app.Paint();
  ASSERT_FALSE(canvas_.draws.empty());
  EXPECT_EQ(canvas_.draws[0], L"fill 0,0,795,375 colour 111111");

  // Switched off (WM_SETTINGCHANGE): the bitmaps and the 90 % opacity again.
  app.SetDpi(96);
  ui().SetDisplaySettings({});
  app.ReadDisplaySettings();
  EXPECT_EQ(app.WindowAlpha(), 229);
  canvas_.ClearRecords();
  app.Paint();
  ASSERT_FALSE(canvas_.draws.empty());
  EXPECT_EQ(canvas_.draws[0], L"blit 129 at 0,0 530x225");
  EXPECT_EQ(canvas_.draws[1], L"text 105,23,575,248 fmt 0x0 font 18 colour E1E1E1 |System Recovery");
}

TEST_F(UiDisplay, HighContrastBlackAsWindowsGivesIt) {
  ui().SetDisplaySettings({true, true, false, false});
  SensorUIApp& app = App();
  app.ReadDisplaySettings();
  EXPECT_EQ(app.look.window, 0x000000u);
  EXPECT_EQ(app.look.windowText, 0xFFFFFFu);
  EXPECT_EQ(app.look.buttonFace, 0x000000u);
  EXPECT_EQ(app.look.buttonText, 0xFFFFFFu);
  EXPECT_EQ(app.look.highlight, Rgb(26, 235, 255));
}

TEST_F(UiDisplay, WithoutAnimationsTheProgressLineStandsStill) {
  ui().SetDisplaySettings({false, false, false, false});
  SensorUIApp& app = App();
  app.ReadDisplaySettings();
  ui().QueueAnswer(kIdYes);
  app.OnLButtonDown(380, 180);
  ASSERT_EQ(app.processing, 1);
  EXPECT_TRUE(canvas_.timers.empty());
  EXPECT_FALSE(app.animating);
  EXPECT_EQ(std::wstring(app.progressLabel->text), L"Program Processing...");
  canvas_.ClearRecords();
  app.Paint();
  ASSERT_FALSE(canvas_.draws.empty());
  EXPECT_EQ(canvas_.draws.back(),
            L"text 347,165,537,185 fmt 0x0 font 16 colour E1E1E1 |Program Processing...");
  EXPECT_EQ(app.AccessibleState().items[kChildProgress].state & kStateAnimated, 0u);

  // A tick that was on its way changes and paints nothing.
  canvas_.ClearRecords();
  ProgressTimerTick();
  EXPECT_TRUE(canvas_.calls.empty());
  EXPECT_TRUE(canvas_.invalidations.empty());
  EXPECT_EQ(std::wstring(app.progressLabel->text), L"Program Processing...");

  // Switched on while the worker runs: the dots start from one.
  ui().SetDisplaySettings({});
  app.ReadDisplaySettings();
  ASSERT_EQ(canvas_.timers.size(), 1u);
  EXPECT_EQ(canvas_.timers[0].id, 275u);
  EXPECT_EQ(canvas_.timers[0].periodMs, 1000u);
  EXPECT_EQ(std::wstring(app.progressLabel->text), L"Program Processing.");
  ProgressTimerTick();
  EXPECT_EQ(std::wstring(app.progressLabel->text), L"Program Processing..");
  EXPECT_NE(app.AccessibleState().items[kChildProgress].state & kStateAnimated, 0u);

  // And off again: the timer stops, the line stands still, once redrawn.
  canvas_.ClearRecords();
  ui().SetDisplaySettings({false, false, false, false});
  app.ReadDisplaySettings();
  EXPECT_EQ(canvas_.stoppedTimers, std::vector<std::uintptr_t>{275u});
  EXPECT_EQ(std::wstring(app.progressLabel->text), L"Program Processing...");
  ASSERT_EQ(canvas_.invalidations.size(), 1u);
  EXPECT_EQ(canvas_.invalidations[0].rect, (PixelRect{302, 165, 552, 185}));
  // Reading the same settings again changes nothing.
  canvas_.ClearRecords();
  app.ReadDisplaySettings();
  EXPECT_TRUE(canvas_.invalidations.empty());
  EXPECT_TRUE(canvas_.stoppedTimers.empty());
}

TEST_F(UiDisplay, AnimationsSettingBeforeYesOnlyDecidesAtYes) {
  SensorUIApp& app = App();
  ui().SetDisplaySettings({false, false, false, false});
  app.ReadDisplaySettings();
  ui().SetDisplaySettings({});
  app.ReadDisplaySettings();
  EXPECT_TRUE(canvas_.timers.empty());
  EXPECT_TRUE(canvas_.stoppedTimers.empty());
  EXPECT_EQ(app.progressLabel->text, app.progressBaseText);
}

}  // namespace
}  // namespace tavu::test
