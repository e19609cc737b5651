// The drawing and window calls of the confirmation window, in the widgets' own
// terms. The GDI binding makes one Windows call per method (Blit is the one
// short sequence); tests record the calls instead of drawing.
#pragma once

#include <cstdint>

#include "common/platform.h"

namespace tavu {

using DeviceContext = void*;     // HDC
using FontHandle = void*;        // HFONT
using BitmapHandle = void*;      // HBITMAP
using ColorRef = std::uint32_t;  // 0x00BBGGRR

inline constexpr ColorRef Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<ColorRef>(r) | (static_cast<ColorRef>(g) << 8) | (static_cast<ColorRef>(b) << 16);
}

// A RECT: right and bottom are exclusive.
struct PixelRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// DrawTextW format bits.
inline constexpr std::uint32_t kDtLeftTop = 0x0;
inline constexpr std::uint32_t kDtCenter = 0x1;
inline constexpr std::uint32_t kDtVCenter = 0x4;
inline constexpr std::uint32_t kDtSingleLine = 0x20;

class Canvas {
 public:
  virtual ~Canvas() = default;

  // CreateFontW(height, 0, 0, 0, FW_DONTCARE, no italic, underline or strike-out,
  // ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
  // DEFAULT_PITCH | FF_DONTCARE, face). Null when the font cannot be made.
  virtual FontHandle MakeFont(int height, const wchar_t* face) = 0;
  // DeleteObject(font), for a font no longer selected anywhere.
  virtual void DeleteFont(FontHandle font) = 0;
  // LoadBitmapW(the program's own module, id). Null when it is missing.
  virtual BitmapHandle LoadBitmapResource(int id) = 0;
  // GetObjectW(bitmap, sizeof(BITMAP)): the bitmap's own size; false when the
  // handle is not a bitmap.
  virtual bool BitmapSize(BitmapHandle bitmap, std::int32_t* width, std::int32_t* height) = 0;

  // BeginPaint(window) / EndPaint(window); the binding keeps the PAINTSTRUCT,
  // since paints never nest on the one user-interface thread.
  virtual DeviceContext BeginPaint(Handle window) = 0;
  virtual void EndPaint(Handle window) = 0;
  // SetBkMode(dc, TRANSPARENT).
  virtual void SetTransparentBackground(DeviceContext dc) = 0;
  // SelectObject(dc, font): the font it replaced.
  virtual FontHandle SelectFont(DeviceContext dc, FontHandle font) = 0;
  // SetTextColor(dc, colour).
  virtual void SetTextColour(DeviceContext dc, ColorRef colour) = 0;
  // DrawTextW(dc, text, -1, rect, format).
  virtual void DrawTextIn(DeviceContext dc, const wchar_t* text, const PixelRect& rect,
                          std::uint32_t format) = 0;
  // A memory DC compatible with dc holding bitmap, BitBlt of width x height from
  // its (0, 0) to (x, y) of dc with SRCCOPY, then the memory DC is released.
  virtual void Blit(DeviceContext dc, BitmapHandle bitmap, std::int32_t x, std::int32_t y, std::int32_t width,
                    std::int32_t height) = 0;

  // FillRect of rect with a solid colour: the DC brush set to colour
  // (SetDCBrushColor, then FillRect with GetStockObject(DC_BRUSH)).
  virtual void Fill(DeviceContext dc, const PixelRect& rect, ColorRef colour) = 0;

  // InvalidateRect(window, rect, erase); a null rect is the whole client area.
  virtual void Invalidate(Handle window, const PixelRect* rect, bool erase) = 0;
  // SetTimer(window, id, periodMs, ProgressTimerProc).
  virtual void StartProgressTimer(Handle window, std::uintptr_t id, std::uint32_t periodMs) = 0;
  // KillTimer(window, id).
  virtual void StopProgressTimer(Handle window, std::uintptr_t id) = 0;
};

// The canvas the widgets draw on. Set once before the application object is
// built (by the window mode, or by a test).
Canvas& Gdi();
void SetCanvas(Canvas* canvas);

}  // namespace tavu
