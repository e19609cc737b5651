// The drawn widgets of the confirmation window. The window has no child
// controls: every widget is painted by the application object and hit-tested
// against the mouse position in client pixels.
#pragma once

#include <cstdint>

#include "launcher/ui/canvas.h"

namespace tavu {

// How the window is drawn at the moment: its DPI and what the owner's
// settings ask for. Decided by the application object.
struct WindowLook {
  std::uint32_t dpi = 96;
  bool highContrast = false;
  bool focusVisible = false;  // the focus ring is drawn
  // The system colours, read while high contrast is on.
  ColorRef window = 0;
  ColorRef windowText = 0;
  ColorRef buttonFace = 0;
  ColorRef buttonText = 0;
  ColorRef highlight = 0;
};

// The focus ring: white, which stands out by 3 : 1 or more from everything it
// lies on or surrounds, the panel (11 : 1) and the light blue edge of a
// hovered button (3.4 : 1) included.
inline constexpr ColorRef kFocusRingColour = Rgb(255, 255, 255);

// Fills the band of the given thickness just inside rect.
void FillFrame(DeviceContext dc, const PixelRect& rect, std::int32_t thickness, ColorRef colour);

class UIElement {
 public:
  // Strictly inside: a point on any edge is outside. Invalidates the widget's
  // rectangle (without erasing) only when the answer changed.
  virtual bool HitTest(int px, int py);
  virtual void Draw(DeviceContext dc) = 0;

  PixelRect Bounds() const { return {x, y, x + width, y + height}; }

  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool hovered = false;
  bool hoverChanged = false;
  ColorRef textColor = 0;
  FontHandle font = nullptr;  // null: the font the DC already holds
  bool focused = false;       // has the keyboard focus
  // The window's look; null (a widget on its own) draws as at 96 DPI, with
  // the bitmaps and without a focus ring.
  const WindowLook* look = nullptr;

 protected:
  UIElement() = default;
  // Widgets live until the process ends and are never deleted through a base
  // pointer, so the destructor stays non-virtual and out of the table.
  ~UIElement() = default;
};

class Image : public UIElement {
 public:
  // Loads the panel bitmap; a missing one is reported once and leaves a null
  // bitmap that draws nothing at 96 DPI.
  Image();
  void Draw(DeviceContext dc) override;

  BitmapHandle bitmap = nullptr;
};

class Label : public UIElement {
 public:
  explicit Label(const wchar_t* labelText) : text(labelText) {}
  void Draw(DeviceContext dc) override;
  // The box the text is drawn in: the widget's, less its insets.
  PixelRect TextRect() const;

  const wchar_t* text = nullptr;  // borrowed from the application's buffers
};

class Button : public UIElement {
 public:
  explicit Button(const wchar_t* caption);
  void Draw(DeviceContext dc) override;

  const wchar_t* text = nullptr;  // borrowed from the application's buffers
  BitmapHandle normalBitmap = nullptr;
  BitmapHandle hoverBitmap = nullptr;
};

}  // namespace tavu
