// The drawn widgets of the confirmation window. The window has no child
// controls: every widget is painted by the application object and hit-tested
// against the mouse position in client pixels.
#pragma once

#include <cstdint>

#include "launcher/ui/canvas.h"

namespace tavu {

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

 protected:
  UIElement() = default;
  // Widgets live until the process ends and are never deleted through a base
  // pointer, so the destructor stays non-virtual and out of the table.
  ~UIElement() = default;
};

class Image : public UIElement {
 public:
  // Loads the panel bitmap; a missing one is reported once and leaves a null
  // bitmap that draws nothing.
  Image();
  void Draw(DeviceContext dc) override;

  BitmapHandle bitmap = nullptr;
};

class Label : public UIElement {
 public:
  explicit Label(const wchar_t* labelText) : text(labelText) {}
  void Draw(DeviceContext dc) override;

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
