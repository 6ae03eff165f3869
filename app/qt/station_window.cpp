#include "app/qt/station_window.h"

#include <QCloseEvent>
#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>
#include <utility>

#include "app/qt/painter_canvas.h"

namespace plcburn {

namespace {

QColor ToQColor(Color color) {
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

QString FromStd(const std::string& text) {
  return QString::fromStdString(text);
}

QFont PixelFont(int pixels, bool bold) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(std::max(pixels, 1));
  font.setBold(bold);
  return font;
}

QRect ToQRect(const Rect& r) {
  return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

}  // namespace

StationWindow::StationWindow(StationConfig config, SlotWatch& watch, Station::OpenerFor openerFor,
                             Dialogs& dialogs, StationView* also, QWidget* parent)
    : QWidget(parent),
      slots_(config.slots),
      model_(ModelAt(config.modelRow).name),
      dialogs_(dialogs),
      forward_(also),
      station_(std::move(config), watch, std::move(openerFor), forward_) {
  const std::time_t now = std::time(nullptr);
  localtime_r(&now, &since_);
  setWindowTitle(QString::fromLatin1(kStationTitle));
  setWindowIcon(QIcon(QStringLiteral(":/plcburn/plcburn.png")));
  setMinimumSize(kMinTileWidth, kTotalsHeight + kMinTileHeight);
  setFocusPolicy(Qt::StrongFocus);  // a barcode scanner types into it
  resize(1280, 800);
  connect(&paintTimer_, &QTimer::timeout, this, [this] { update(); });
  paintTimer_.start(100);
  runner_ = std::thread([this] { station_.Run(); });
}

StationWindow::~StationWindow() {
  StopStation();
}

std::vector<StationTile> StationWindow::Tiles() const {
  return StationTiles(slots_, model_, station_.Devices());
}

bool StationWindow::Burning() const {
  const auto tiles = Tiles();
  return std::any_of(tiles.begin(), tiles.end(), [](const StationTile& t) {
    return t.state == SlotState::Burning || t.state == SlotState::Replug;
  });
}

void StationWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Window));
  painter.setFont(PixelFont(kTotalsFontPixels, true));
  painter.drawText(QRect(10, 0, width() - 20, kTotalsHeight), Qt::AlignVCenter | Qt::AlignLeft,
                   FromStd(TotalsText(station_.CurrentTotals(), since_)));

  const std::vector<StationTile> tiles = Tiles();
  const TileGrid grid = GridFor(static_cast<int>(tiles.size()), width(), height() - kTotalsHeight);
  for (std::size_t i = 0; i < tiles.size(); ++i)
    PaintTile(painter, tiles[i], TileArea(grid, i, kTotalsHeight));
}

void StationWindow::PaintTile(QPainter& painter, const StationTile& tile, const Rect& area) {
  const QColor background = ToQColor(tile.background);
  painter.fillRect(ToQRect(area), background);
  painter.setPen(Qt::black);

  const TileLayout layout = LayOutTile(area);
  const QRect head = ToQRect(layout.head);
  painter.setFont(PixelFont(layout.linePixels, true));
  painter.drawText(
      head, Qt::AlignLeft | Qt::AlignVCenter,
      painter.fontMetrics().elidedText(FromStd(tile.name), Qt::ElideLeft, head.width() * 3 / 4));
  painter.setFont(PixelFont(layout.linePixels, false));
  painter.drawText(head, Qt::AlignRight | Qt::AlignVCenter, FromStd(tile.model));

  const QRect word = ToQRect(layout.word);
  const QString wordText = FromStd(tile.word);
  QFont wordFont = PixelFont(layout.wordPixels, true);
  const int advance = QFontMetrics(wordFont).horizontalAdvance(wordText);
  if (advance > word.width())
    wordFont.setPixelSize(std::max(1, layout.wordPixels * word.width() / advance));
  painter.setFont(wordFont);
  painter.drawText(word, Qt::AlignCenter, wordText);

  const QRect body = ToQRect(layout.body);
  if (body.height() <= 0 || body.width() <= 0) return;
  if (!tile.showsPanel) {
    painter.setFont(PixelFont(layout.linePixels, false));
    painter.drawText(body.adjusted(4, 0, -4, 0), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     FromStd(tile.message));
    return;
  }
  // The panel's own drawing, scaled into the tile.
  BurnState state;
  FillPanelState(state, tile.values);
  painter.save();
  painter.setClipRect(body);
  painter.translate(layout.panelLeft, body.top());
  painter.scale(layout.panelScale, layout.panelScale);
  painter.translate(-kPanelPart.left, -kPanelPart.top);
  painter.setFont(PixelFont(kPanelFontPixels, false));
  PainterCanvas canvas(painter, background, noLogo_);
  PaintPanel(canvas, state, false);
  painter.restore();
}

// Quitting mid-burn can leave half-written PLCs, so it is asked first, as the main window does.
void StationWindow::closeEvent(QCloseEvent* event) {
  if (paintTimer_.isActive() && Burning() && !dialogs_.ConfirmStopAndQuit(this)) {
    event->ignore();
    return;
  }
  StopStation();
  event->accept();
}

void StationWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (!typed_.isEmpty()) station_.Scanned(typed_.toStdString());
    typed_.clear();
    return;
  }
  const QString text = event->text();
  if (text.isEmpty() || typed_.size() >= 256) return QWidget::keyPressEvent(event);
  typed_ += text;
}

void StationWindow::StopAndClose() {
  StopStation();
  close();
}

void StationWindow::StopStation() {
  paintTimer_.stop();
  station_.Stop();
  if (runner_.joinable()) runner_.join();
}

}  // namespace plcburn
