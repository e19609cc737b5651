#include "launcher/ui/widgets.h"

#include "common/ui_api.h"
#include "launcher/res/resource_ids.h"
#include "launcher/startup/globals.h"
#include "launcher/ui/drawn_faces.h"
#include "launcher/ui/window_layout.h"

namespace tavu {

namespace {

// Labels keep 45 pixels clear on the left and 15 on the right of their box.
constexpr std::int32_t kLabelInsetLeft = 45;
constexpr std::int32_t kLabelInsetRight = 15;

constexpr std::int32_t kButtonWidth = 68;
constexpr std::int32_t kButtonHeight = 35;

// The focus ring: 2 pixels wide, one pixel of the panel between it and the
// button's edge (the buttons lie 10 pixels apart); around a text, a little
// more room.
constexpr std::int32_t kRingWidth = 2;
constexpr std::int32_t kRingOutsideButton = 3;
constexpr std::int32_t kRingOutsideTextX = 4;
constexpr std::int32_t kRingOutsideTextY = 3;

std::uint32_t DpiOf(const WindowLook* look) { return look != nullptr ? look->dpi : kBaseDpi; }
bool HighContrast(const WindowLook* look) { return look != nullptr && look->highContrast; }
bool Drawn(const WindowLook* look) { return look != nullptr && look->dpi != kBaseDpi; }
bool RingShown(const UIElement& e) { return e.focused && e.look != nullptr && e.look->focusVisible; }
ColorRef RingColour(const WindowLook* look) { return look->highContrast ? look->highlight : kFocusRingColour; }

// The bitmap is copied at its own size; the widget's width and height play no
// part, which is why the panel image can have a zero size and never hit.
void BlitWhole(DeviceContext dc, BitmapHandle bitmap, std::int32_t x, std::int32_t y) {
  if (bitmap == nullptr) return;
  std::int32_t w = 0;
  std::int32_t h = 0;
  if (!Gdi().BitmapSize(bitmap, &w, &h)) return;
  Gdi().Blit(dc, bitmap, x, y, w, h);
}

}  // namespace

void FillFrame(DeviceContext dc, const PixelRect& r, std::int32_t thickness, ColorRef colour) {
  Gdi().Fill(dc, {r.left, r.top, r.right, r.top + thickness}, colour);
  Gdi().Fill(dc, {r.left, r.bottom - thickness, r.right, r.bottom}, colour);
  Gdi().Fill(dc, {r.left, r.top + thickness, r.left + thickness, r.bottom - thickness}, colour);
  Gdi().Fill(dc, {r.right - thickness, r.top + thickness, r.right, r.bottom - thickness}, colour);
}

bool UIElement::HitTest(int px, int py) {
  const bool was = hovered;
  hovered = x < px && px < x + width && y < py && py < y + height;
  hoverChanged = hovered != was;
  if (hoverChanged) {
    const PixelRect r = Bounds();
    Gdi().Invalidate(g_mainWindow, &r, false);
  }
  return hovered;
}

Image::Image() {
  bitmap = Gdi().LoadBitmapResource(IDB_PANEL);
  if (bitmap == nullptr) {
    // Init runs before the window exists, so the warning has no owner.
    Sys().ui->ShowMessage(nullptr, L"Could not load image!", L"Error", kMbOk | kMbIconWarning);
  }
}

void Image::Draw(DeviceContext dc) {
  if (HighContrast(look)) {
    // No picture: the window's own colour under the whole client area.
    const WindowSize size = ScaledWindowSize(look->dpi);
    Gdi().Fill(dc, {x, y, x + size.width, y + size.height}, look->window);
  } else if (Drawn(look)) {
    DrawPicture(dc, x, y, kPanelWidth, kPanelHeight, &PanelRow, look->dpi);
  } else {
    BlitWhole(dc, bitmap, x, y);
  }
}

PixelRect Label::TextRect() const {
  const std::uint32_t dpi = DpiOf(look);
  return {x + Scaled(kLabelInsetLeft, dpi), y, x + width - Scaled(kLabelInsetRight, dpi), y + height};
}

void Label::Draw(DeviceContext dc) {
  const PixelRect r = TextRect();
  if (font == nullptr) {
    Gdi().DrawTextIn(dc, text, r, kDtLeftTop);
  } else {
    // The previous font goes back so that the button captions, drawn later in
    // the same paint, keep the default font.
    FontHandle previous = Gdi().SelectFont(dc, font);
    Gdi().SetTextColour(dc, HighContrast(look) ? look->windowText : textColor);
    Gdi().DrawTextIn(dc, text, r, kDtLeftTop);
    Gdi().SelectFont(dc, previous);
  }
  if (RingShown(*this)) {
    // Inside the visible region, whose right edge cuts the progress line's box.
    const std::uint32_t dpi = look->dpi;
    const std::int32_t visibleRight = ScaledRegion(dpi).right - Scaled(kRingOutsideTextX, dpi);
    const std::int32_t right = r.right + Scaled(kRingOutsideTextX, dpi);
    const PixelRect ring{r.left - Scaled(kRingOutsideTextX, dpi), r.top - Scaled(kRingOutsideTextY, dpi),
                         right < visibleRight ? right : visibleRight, r.bottom + Scaled(kRingOutsideTextY, dpi)};
    FillFrame(dc, ring, Scaled(kRingWidth, dpi), RingColour(look));
  }
}

Button::Button(const wchar_t* caption) : text(caption) {
  normalBitmap = Gdi().LoadBitmapResource(IDB_BUTTON_NORMAL);
  hoverBitmap = Gdi().LoadBitmapResource(IDB_BUTTON_HOVER);
  width = kButtonWidth;
  height = kButtonHeight;
}

void Button::Draw(DeviceContext dc) {
  ColorRef captionColour = textColor;
  if (HighContrast(look)) {
    // The system's button: its face, framed and written in its text colour.
    Gdi().Fill(dc, Bounds(), look->buttonFace);
    FillFrame(dc, Bounds(), Scaled(1, look->dpi), look->buttonText);
    captionColour = look->buttonText;
  } else if (Drawn(look)) {
    DrawPicture(dc, x, y, kButtonFaceWidth, kButtonFaceHeight, hovered ? &ButtonHoverRow : &ButtonNormalRow,
                look->dpi);
  } else {
    BlitWhole(dc, hovered ? hoverBitmap : normalBitmap, x, y);
  }
  Gdi().SetTextColour(dc, captionColour);
  Gdi().DrawTextIn(dc, text, Bounds(), kDtCenter | kDtVCenter | kDtSingleLine);
  if (RingShown(*this)) {
    const std::int32_t out = Scaled(kRingOutsideButton, look->dpi);
    FillFrame(dc, {x - out, y - out, x + width + out, y + height + out}, Scaled(kRingWidth, look->dpi),
              RingColour(look));
  }
}

}  // namespace tavu
