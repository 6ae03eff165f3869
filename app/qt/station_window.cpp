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

// The part of the status panel a tile shows: elapsed time, bar, percentage, phase and counters;
// the date line and the logo belong to the main window.
constexpr QRect kPanelPart(5, 65, 540, 100);
constexpr int kTileGap = 4;

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
  painter.setFont(PixelFont(22, true));
  painter.drawText(QRect(10, 0, width() - 20, kTotalsHeight), Qt::AlignVCenter | Qt::AlignLeft,
                   FromStd(TotalsText(station_.CurrentTotals(), since_)));

  const std::vector<StationTile> tiles = Tiles();
  const TileGrid grid = GridFor(static_cast<int>(tiles.size()), width(), height() - kTotalsHeight);
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const int column = static_cast<int>(i) % grid.columns;
    const int row = static_cast<int>(i) / grid.columns;
    const QRect cell(column * grid.tileWidth, kTotalsHeight + row * grid.tileHeight, grid.tileWidth,
                     grid.tileHeight);
    PaintTile(painter, tiles[i], cell.adjusted(kTileGap, kTileGap, -kTileGap, -kTileGap));
  }
}

// Name and model on the first line, the big word under them, then the panel while the burn
// runs, or the message that ended it.
void StationWindow::PaintTile(QPainter& painter, const StationTile& tile, const QRect& area) {
  const QColor background = ToQColor(tile.background);
  painter.fillRect(area, background);
  painter.setPen(Qt::black);

  const int line = std::clamp(area.height() / 9, 12, 24);
  const QRect head(area.left() + 8, area.top() + 4, area.width() - 16, line + 6);
  painter.setFont(PixelFont(line, true));
  painter.drawText(
      head, Qt::AlignLeft | Qt::AlignVCenter,
      painter.fontMetrics().elidedText(FromStd(tile.name), Qt::ElideLeft, head.width() * 3 / 4));
  painter.setFont(PixelFont(line, false));
  painter.drawText(head, Qt::AlignRight | Qt::AlignVCenter, FromStd(tile.model));

  const int wordHeight = std::clamp(area.height() / 4, 20, 120);
  const QRect word(area.left() + 8, head.bottom() + 2, area.width() - 16, wordHeight + 8);
  // As large as the tile allows, shrunk only when the word would not fit across it.
  const QString wordText = FromStd(tile.word);
  QFont wordFont = PixelFont(wordHeight, true);
  const int advance = QFontMetrics(wordFont).horizontalAdvance(wordText);
  if (advance > word.width())
    wordFont.setPixelSize(std::max(1, wordHeight * word.width() / advance));
  painter.setFont(wordFont);
  painter.drawText(word, Qt::AlignCenter, wordText);

  const QRect body(area.left() + 4, word.bottom() + 2, area.width() - 8,
                   area.bottom() - word.bottom() - 6);
  if (body.height() <= 0) return;
  if (!tile.showsPanel) {
    painter.setFont(PixelFont(line, false));
    painter.drawText(body.adjusted(4, 0, -4, 0), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     FromStd(tile.message));
    return;
  }
  // The panel's own drawing, scaled into the tile.
  BurnState state;
  FillPanelState(state, tile.values);
  const double scale = std::min(static_cast<double>(body.width()) / kPanelPart.width(),
                                static_cast<double>(body.height()) / kPanelPart.height());
  painter.save();
  painter.setClipRect(body);
  painter.translate(body.left() + (body.width() - kPanelPart.width() * scale) / 2, body.top());
  painter.scale(scale, scale);
  painter.translate(-kPanelPart.left(), -kPanelPart.top());
  painter.setFont(PixelFont(12, false));
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
