// The canvas of the real window: GDI and user32, one call per method.
#pragma once

#include <windows.h>

#include "launcher/ui/canvas.h"

namespace tavu {

class GdiCanvas final : public Canvas {
 public:
  FontHandle MakeFont(int height, const wchar_t* face) override;
  void DeleteFont(FontHandle font) override;
  BitmapHandle LoadBitmapResource(int id) override;
  bool BitmapSize(BitmapHandle bitmap, std::int32_t* width, std::int32_t* height) override;
  DeviceContext BeginPaint(Handle window) override;
  void EndPaint(Handle window) override;
  void SetTransparentBackground(DeviceContext dc) override;
  FontHandle SelectFont(DeviceContext dc, FontHandle font) override;
  void SetTextColour(DeviceContext dc, ColorRef colour) override;
  void DrawTextIn(DeviceContext dc, const wchar_t* text, const PixelRect& rect,
                  std::uint32_t format) override;
  void Blit(DeviceContext dc, BitmapHandle bitmap, std::int32_t x, std::int32_t y, std::int32_t width,
            std::int32_t height) override;
  void Fill(DeviceContext dc, const PixelRect& rect, ColorRef colour) override;
  void Invalidate(Handle window, const PixelRect* rect, bool erase) override;
  void StartProgressTimer(Handle window, std::uintptr_t id, std::uint32_t periodMs) override;
  void StopProgressTimer(Handle window, std::uintptr_t id) override;

 private:
  PAINTSTRUCT paint_{};
};

// The timer callback of the progress line.
void CALLBACK ProgressTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);

}  // namespace tavu
