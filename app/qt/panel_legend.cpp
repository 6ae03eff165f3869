// panel_legend: numbers the parts of a screenshot of the window's client area, as the
// troubleshooting guide explains them, and writes a legend under it. The marks sit beside the
// parts wherever this build's layout puts them; nothing of the picture itself is drawn here.
//
//   panel_legend SHOT.png OUT.png

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "app/panel/status_panel.h"
#include "app/qt/dialogs.h"
#include "app/qt/main_window.h"
#include "link/system_opener.h"

namespace plcburn {
namespace {

// Just past the last pixel of the counters' text, which depends on the values shown.
int CountersEnd(const QImage& shot) {
  const QColor background = shot.pixelColor(kCountersAt.x - 2, kCountersErase.top);
  int end = kCountersAt.x;
  for (int y = kCountersErase.top; y < std::min(kCountersErase.bottom, shot.height()); ++y)
    for (int x = kCountersAt.x; x < shot.width(); ++x)
      if (shot.pixelColor(x, y) != background) end = std::max(end, x + 1);
  return end;
}

QImage Annotated(const QImage& shot, const MainWindow& w) {
  const QFontMetrics fm(w.font());
  const auto right = [](const QWidget* c) { return c->geometry().right() + 12; };
  const auto middle = [](const Rect& r) { return (r.top + r.bottom) / 2; };
  const QPoint marks[] = {
      {right(w.ModelList()), w.ModelList()->geometry().center().y()},
      {right(w.PortList()), w.PortList()->geometry().center().y()},
      {right(w.StartButton()), w.StartButton()->geometry().center().y()},
      {kElapsedErase.right + 8, middle(kElapsedErase)},
      {kBarFrame.right - 14, middle(kBarFrame)},
      {kProgressErase.right + 12, middle(kProgressErase)},
      {kStatusErase.right + 9, middle(kStatusErase)},
      {CountersEnd(shot) + 12, middle(kCountersErase)},
      {kDateAt.x +
           fm.horizontalAdvance(
               QString::fromLatin1(kDateLine.data(), static_cast<qsizetype>(kDateLine.size()))) +
           12,
       kDateAt.y + fm.height() / 2},
  };
  const char* legend[] = {"Model, fixed by the build",
                          "Port",
                          "Start Burn",
                          "Seconds since Start Burn",
                          "Progress bar of the phase",
                          "Percent of the phase",
                          "Phase: Idle, Erasing, Programming",
                          "Failed tries: this exchange / the burn",
                          "Date and logo, fixed"};
  constexpr int pad = 12, radius = 8;
  const int row = fm.height() + 4, rows = 5;
  QImage out(shot.width() + 2 * pad, shot.height() + 3 * pad + rows * row, QImage::Format_RGB32);
  out.fill(Qt::white);
  QPainter p(&out);
  p.setRenderHint(QPainter::Antialiasing);
  p.setFont(w.font());
  p.drawImage(pad, pad, shot);
  p.setPen(QColor(160, 160, 160));
  p.drawRect(pad - 1, pad - 1, shot.width() + 1, shot.height() + 1);
  const auto mark = [&](QPoint centre, int number) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 90, 200));
    p.drawEllipse(centre, radius, radius);
    p.setPen(Qt::white);
    p.drawText(QRect(centre - QPoint(radius, radius), QSize(2 * radius, 2 * radius)),
               Qt::AlignCenter, QString::number(number));
  };
  for (int i = 0; i < static_cast<int>(std::size(marks)); ++i) {
    mark(marks[i] + QPoint(pad, pad), i + 1);
    const QPoint at(pad + radius + (i / rows) * out.width() / 2,
                    shot.height() + 2 * pad + (i % rows) * row + row / 2);
    mark(at, i + 1);
    p.setPen(Qt::black);
    p.drawText(at + QPoint(radius + 6, fm.ascent() / 2 - 1), legend[i]);
  }
  return out;
}

}  // namespace
}  // namespace plcburn

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() != 3) {
    std::fputs("usage: panel_legend SHOT.png OUT.png\n", stderr);
    return 2;
  }
  const QImage shot(args[1]);
  // The window is made only to learn its layout and font; it is never shown.
  plcburn::SystemLinkOpener opener;
  plcburn::QtDialogs dialogs;
  const plcburn::MainWindow window(opener, dialogs);
  if (shot.size() != window.size()) {
    std::fprintf(stderr, "panel_legend: %s is not the window's client area (%dx%d)\n",
                 qPrintable(args[1]), window.width(), window.height());
    return 1;
  }
  if (!plcburn::Annotated(shot, window).save(args[2])) {
    std::fprintf(stderr, "panel_legend: cannot write %s\n", qPrintable(args[2]));
    return 1;
  }
  return 0;
}
