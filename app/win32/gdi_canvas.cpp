#include "app/win32/gdi_canvas.h"

#include "core/utf8_text.h"

namespace plcburn {

void GdiCanvas::FillRect(const Rect& rect, Color color) {
  const RECT r{rect.left, rect.top, rect.right, rect.bottom};
  if (color == kEraseColor && ownErase_) color = erase_;
  if (color == kEraseColor) {
    // The class background's colour; system colour brushes are the system's, never deleted.
    ::FillRect(hDC_, &r, GetSysColorBrush(COLOR_SCROLLBAR));
    return;
  }
  const HBRUSH brush = CreateSolidBrush(color);
  ::FillRect(hDC_, &r, brush);
  DeleteObject(brush);
}

void GdiCanvas::DrawText(int x, int y, std::string_view text) {
  SetBkMode(hDC_, TRANSPARENT);
  const std::wstring wide = WideFromUtf8(text);
  TextOutW(hDC_, x, y, wide.c_str(), static_cast<int>(wide.size()));
}

void GdiCanvas::DrawLogo(int x, int y) {
  const auto bitmap =
      static_cast<HBITMAP>(LoadImageW(module_, MAKEINTRESOURCEW(kLogoResource), IMAGE_BITMAP,
                                      kLogoWidth, kLogoHeight, LR_DEFAULTCOLOR));
  if (bitmap == nullptr) return;
  const HDC memory = CreateCompatibleDC(hDC_);
  const HGDIOBJ previous = SelectObject(memory, bitmap);
  BITMAP info{};
  GetObject(bitmap, sizeof info, &info);
  BitBlt(hDC_, x, y, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
  SelectObject(memory, previous);
  DeleteDC(memory);
  DeleteObject(bitmap);
}

}  // namespace plcburn
