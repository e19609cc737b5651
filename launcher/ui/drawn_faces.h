// The panel and the button faces as launcher/res/make_images.py draws them into
// the 96-DPI bitmaps, drawn by the program at any other DPI: a second set of
// bitmaps for 200 % would not fit the launcher's size (the panel alone is
// 466 KiB at 100 %), and stretched bitmaps go blurry.
//
// The pictures are made of rows, each a few runs of one colour, so they are
// drawn with one fill per run of each group of equal rows. Pixel (c, r) of the
// 96-DPI picture covers the device pixels [Scaled(c), Scaled(c + 1)) x
// [Scaled(r), Scaled(r + 1)) from the widget's scaled origin: the same
// rounding that places the widgets, so the faces fill exactly the scaled
// button rectangles, and at 96 DPI the drawing is the bitmap, pixel for pixel.
#pragma once

#include <cstdint>

#include "launcher/ui/canvas.h"

namespace tavu {

inline constexpr std::int32_t kPanelWidth = 530;
inline constexpr std::int32_t kPanelHeight = 225;
inline constexpr std::int32_t kButtonFaceWidth = 68;
inline constexpr std::int32_t kButtonFaceHeight = 35;

// Columns [from, to) of one row in one colour.
struct ColourRun {
  std::int32_t from = 0;
  std::int32_t to = 0;
  ColorRef colour = 0;
  friend bool operator==(const ColourRun&, const ColourRun&) = default;
};

// One row of a 96-DPI picture, left to right.
struct PictureRow {
  std::int32_t count = 0;
  ColourRun runs[3] = {};
  friend bool operator==(const PictureRow&, const PictureRow&) = default;
};

using PictureRowFn = PictureRow (*)(std::int32_t row);

// Row y of the panel (bitmap 129). Outside the window's region the bitmap is
// white; here the nearest row inside stands there, so that no rounding of the
// scaled region can show a pixel of the wrong colour at its edge.
PictureRow PanelRow(std::int32_t y);
// Row y of the button faces (bitmaps 130 and 131).
PictureRow ButtonNormalRow(std::int32_t y);
PictureRow ButtonHoverRow(std::int32_t y);

// Draws a width x height picture given by its rows at the DPI, its (0, 0) at
// (x, y) of dc.
void DrawPicture(DeviceContext dc, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                 PictureRowFn row, std::uint32_t dpi);

}  // namespace tavu
