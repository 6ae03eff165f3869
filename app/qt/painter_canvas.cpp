#include "app/qt/painter_canvas.h"

#include <QFontMetrics>
#include <QString>

namespace plcburn {

void PainterCanvas::FillRect(const Rect& rect, Color color) {
  const QColor fill = color == kEraseColor
                          ? erase_
                          : QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
  painter_.fillRect(QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top),
                    fill);
}

void PainterCanvas::DrawText(int x, int y, std::string_view text) {
  // QPainter places text by its baseline; the panel gives the top of the character cell.
  const int baseline = y + QFontMetrics(painter_.font(), painter_.device()).ascent();
  painter_.drawText(QPoint(x, baseline),
                    QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void PainterCanvas::DrawLogo(int x, int y) {
  // Scaled at the device's resolution, so the logo stays sharp on high-density screens.
  painter_.save();
  painter_.setRenderHint(QPainter::SmoothPixmapTransform);
  painter_.drawPixmap(QRect(x, y, kLogoWidth, kLogoHeight), logo_);
  painter_.restore();
}

}  // namespace plcburn
