#include "launcher/ui/widgets.h"

#include "common/ui_api.h"
#include "launcher/res/resource_ids.h"
#include "launcher/startup/globals.h"

namespace tavu {

namespace {

// Labels keep 45 pixels clear on the left and 15 on the right of their box.
constexpr std::int32_t kLabelInsetLeft = 45;
constexpr std::int32_t kLabelInsetRight = 15;

constexpr std::int32_t kButtonWidth = 68;
constexpr std::int32_t kButtonHeight = 35;

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

void Image::Draw(DeviceContext dc) { BlitWhole(dc, bitmap, x, y); }

void Label::Draw(DeviceContext dc) {
  const PixelRect r{x + kLabelInsetLeft, y, x + width - kLabelInsetRight, y + height};
  if (font == nullptr) {
    Gdi().DrawTextIn(dc, text, r, kDtLeftTop);
    return;
  }
  // The previous font goes back so that the button captions, drawn later in
  // the same paint, keep the default font.
  FontHandle previous = Gdi().SelectFont(dc, font);
  Gdi().SetTextColour(dc, textColor);
  Gdi().DrawTextIn(dc, text, r, kDtLeftTop);
  Gdi().SelectFont(dc, previous);
}

Button::Button(const wchar_t* caption) : text(caption) {
  normalBitmap = Gdi().LoadBitmapResource(IDB_BUTTON_NORMAL);
  hoverBitmap = Gdi().LoadBitmapResource(IDB_BUTTON_HOVER);
  width = kButtonWidth;
  height = kButtonHeight;
}

void Button::Draw(DeviceContext dc) {
  BlitWhole(dc, hovered ? hoverBitmap : normalBitmap, x, y);
  Gdi().SetTextColour(dc, textColor);
  Gdi().DrawTextIn(dc, text, Bounds(), kDtCenter | kDtVCenter | kDtSingleLine);
}

}  // namespace tavu
