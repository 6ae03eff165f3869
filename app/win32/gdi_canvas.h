#pragma once
// The status panel's canvas on a GDI drawing surface.

// clang-format off
#include <windows.h>
// clang-format on
// winuser.h maps DrawText to DrawTextA; the canvas method of that name is meant here.
#undef DrawText

#include "app/panel/status_panel.h"

namespace plcburn {

// Every brush and bitmap it makes is made and deleted within the call that uses it.
class GdiCanvas : public PanelCanvas {
 public:
  // The panel erases to the window's background, or to `erase` where it sits on a tile.
  GdiCanvas(HDC hDC, HINSTANCE module) : hDC_(hDC), module_(module) {}
  GdiCanvas(HDC hDC, HINSTANCE module, Color erase)
      : hDC_(hDC), module_(module), erase_(erase), ownErase_(true) {}

  void FillRect(const Rect& rect, Color color) override;
  void DrawText(int x, int y, std::string_view text) override;
  void DrawLogo(int x, int y) override;

 private:
  HDC hDC_;
  HINSTANCE module_;
  Color erase_ = 0;
  bool ownErase_ = false;
};

// The logo bitmap's resource identifier.
inline constexpr int kLogoResource = 12;

}  // namespace plcburn
