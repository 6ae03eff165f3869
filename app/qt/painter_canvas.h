#pragma once
// The status panel's canvas on a QPainter.

#include <QColor>
#include <QPainter>
#include <QPixmap>

#include "app/panel/status_panel.h"

namespace plcburn {

class PainterCanvas : public PanelCanvas {
 public:
  PainterCanvas(QPainter& painter, QColor erase, const QPixmap& logo)
      : painter_(painter), erase_(erase), logo_(logo) {}

  void FillRect(const Rect& rect, Color color) override;
  void DrawText(int x, int y, std::string_view text) override;
  void DrawLogo(int x, int y) override;

 private:
  QPainter& painter_;
  QColor erase_;
  const QPixmap& logo_;
};

}  // namespace plcburn
