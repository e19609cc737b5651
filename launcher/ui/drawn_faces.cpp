#include "launcher/ui/drawn_faces.h"

#include "launcher/ui/window_layout.h"

namespace tavu {

namespace {

std::int32_t FloorDiv(std::int32_t n, std::int32_t d) {
  const std::int32_t q = n / d;
  return (n % d != 0 && (n < 0) != (d < 0)) ? q - 1 : q;
}

// n / d to the nearest integer, d > 0. The script's round() would take a half
// to the even neighbour; none of its quotients is ever a half.
std::int32_t RoundDiv(std::int32_t n, std::int32_t d) { return FloorDiv(2 * n + d, 2 * d); }

PictureRow OneRun(std::int32_t width, ColorRef colour) {
  PictureRow row;
  row.count = 1;
  row.runs[0] = {0, width, colour};
  return row;
}

std::uint8_t Channel(std::int32_t value) { return static_cast<std::uint8_t>(value > 255 ? 255 : value); }

// button_pixel of make_images.py: a one-pixel edge around a face that lightens
// toward the top.
PictureRow ButtonRow(std::int32_t y, std::int32_t r, std::int32_t g, std::int32_t b, ColorRef edge) {
  if (y <= 0 || y >= kButtonFaceHeight - 1) return OneRun(kButtonFaceWidth, edge);
  const std::int32_t lift = RoundDiv(8 * (kButtonFaceHeight - y), kButtonFaceHeight);
  PictureRow row;
  row.count = 3;
  row.runs[0] = {0, 1, edge};
  row.runs[1] = {1, kButtonFaceWidth - 1, Rgb(Channel(r + lift), Channel(g + lift), Channel(b + lift))};
  row.runs[2] = {kButtonFaceWidth - 1, kButtonFaceWidth, edge};
  return row;
}

}  // namespace

// panel_pixel of make_images.py: a faint top-to-bottom shade around
// RGB(50, 51, 51) and a thin accent rule under the title.
PictureRow PanelRow(std::int32_t y) {
  if (y < 15) y = 15;
  if (y > 209) y = 209;
  // round(6 - 12 * (y - 15) / 195)
  const std::int32_t shade = RoundDiv(6 * 195 - 12 * (y - 15), 195);
  const ColorRef base = Rgb(Channel(50 + shade), Channel(51 + shade), Channel(51 + shade));
  if (y != 52) return OneRun(kPanelWidth, base);
  PictureRow row;
  row.count = 3;
  row.runs[0] = {0, 60, base};
  row.runs[1] = {60, 471, Rgb(70, 120, 190)};
  row.runs[2] = {471, kPanelWidth, base};
  return row;
}

PictureRow ButtonNormalRow(std::int32_t y) { return ButtonRow(y, 24, 24, 26, Rgb(70, 70, 74)); }

PictureRow ButtonHoverRow(std::int32_t y) { return ButtonRow(y, 36, 78, 150, Rgb(90, 140, 210)); }

void DrawPicture(DeviceContext dc, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                 PictureRowFn row, std::uint32_t dpi) {
  std::int32_t first = 0;
  PictureRow band = row(0);
  for (std::int32_t r = 1; r <= height; ++r) {
    PictureRow next;
    if (r < height) {
      next = row(r);
      if (next == band) continue;
    }
    // Rows [first, r) look alike: one fill per run.
    const std::int32_t top = y + Scaled(first, dpi);
    const std::int32_t bottom = y + Scaled(r, dpi);
    for (std::int32_t i = 0; i < band.count; ++i) {
      const ColourRun& run = band.runs[i];
      const std::int32_t left = x + Scaled(run.from, dpi);
      const std::int32_t right = x + Scaled(run.to < width ? run.to : width, dpi);
      if (left < right && top < bottom) Gdi().Fill(dc, {left, top, right, bottom}, run.colour);
    }
    first = r;
    band = next;
  }
}

}  // namespace tavu
