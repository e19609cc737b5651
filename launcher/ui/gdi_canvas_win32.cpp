#include "launcher/ui/gdi_canvas_win32.h"

namespace tavu {

namespace {
HWND Window(Handle h) { return static_cast<HWND>(h); }
HDC Dc(DeviceContext dc) { return static_cast<HDC>(dc); }
}  // namespace

FontHandle GdiCanvas::MakeFont(int height, const wchar_t* face) {
  return CreateFontW(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

void GdiCanvas::DeleteFont(FontHandle font) { DeleteObject(static_cast<HFONT>(font)); }

BitmapHandle GdiCanvas::LoadBitmapResource(int id) {
  return LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id));
}

bool GdiCanvas::BitmapSize(BitmapHandle bitmap, std::int32_t* width, std::int32_t* height) {
  BITMAP info{};
  if (GetObjectW(static_cast<HBITMAP>(bitmap), sizeof(info), &info) != sizeof(info)) return false;
  *width = info.bmWidth;
  *height = info.bmHeight;
  return true;
}

DeviceContext GdiCanvas::BeginPaint(Handle window) { return ::BeginPaint(Window(window), &paint_); }

void GdiCanvas::EndPaint(Handle window) { ::EndPaint(Window(window), &paint_); }

void GdiCanvas::SetTransparentBackground(DeviceContext dc) { SetBkMode(Dc(dc), TRANSPARENT); }

FontHandle GdiCanvas::SelectFont(DeviceContext dc, FontHandle font) {
  return SelectObject(Dc(dc), static_cast<HFONT>(font));
}

void GdiCanvas::SetTextColour(DeviceContext dc, ColorRef colour) {
  SetTextColor(Dc(dc), static_cast<COLORREF>(colour));
}

void GdiCanvas::DrawTextIn(DeviceContext dc, const wchar_t* text, const PixelRect& rect,
                           std::uint32_t format) {
  // DrawTextW may write back into the rectangle; the caller's stays as it is.
  RECT r{rect.left, rect.top, rect.right, rect.bottom};
  DrawTextW(Dc(dc), text, -1, &r, format);
}

void GdiCanvas::Blit(DeviceContext dc, BitmapHandle bitmap, std::int32_t x, std::int32_t y,
                     std::int32_t width, std::int32_t height) {
  HDC memory = CreateCompatibleDC(Dc(dc));
  if (memory == nullptr) return;
  HGDIOBJ previous = SelectObject(memory, static_cast<HBITMAP>(bitmap));
  BitBlt(Dc(dc), x, y, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, previous);
  DeleteDC(memory);
}

void GdiCanvas::Fill(DeviceContext dc, const PixelRect& rect, ColorRef colour) {
  RECT r{rect.left, rect.top, rect.right, rect.bottom};
  SetDCBrushColor(Dc(dc), static_cast<COLORREF>(colour));
  FillRect(Dc(dc), &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void GdiCanvas::Invalidate(Handle window, const PixelRect* rect, bool erase) {
  if (rect == nullptr) {
    InvalidateRect(Window(window), nullptr, erase ? TRUE : FALSE);
    return;
  }
  RECT r{rect->left, rect->top, rect->right, rect->bottom};
  InvalidateRect(Window(window), &r, erase ? TRUE : FALSE);
}

void GdiCanvas::StartProgressTimer(Handle window, std::uintptr_t id, std::uint32_t periodMs) {
  SetTimer(Window(window), id, periodMs, &ProgressTimerProc);
}

void GdiCanvas::StopProgressTimer(Handle window, std::uintptr_t id) { KillTimer(Window(window), id); }

}  // namespace tavu
