#pragma once
// The station window: a burning station at the bench, one tile per slot and device, readable
// from across the room, with the totals at the top. The station runs on a thread of its own;
// the window repaints from its devices every 100 ms and stops it when closed.

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <ctime>
#include <thread>
#include <vector>

#include "app/panel/station_tiles.h"
#include "app/qt/dialogs.h"
#include "burn/station.h"

namespace plcburn {

class StationWindow : public QWidget {
  Q_OBJECT

 public:
  // `also` sees every change, message and record the window sees (the metrics, when served).
  StationWindow(StationConfig config, SlotWatch& watch, Station::OpenerFor openerFor,
                Dialogs& dialogs, StationView* also = nullptr, QWidget* parent = nullptr);
  // Stops the station and waits for its burns to end.
  ~StationWindow() override;

  std::vector<StationTile> Tiles() const;
  Station::Totals Totals() const { return station_.CurrentTotals(); }
  bool Burning() const;
  // Ends the station without asking (a signal from the service manager): running burns end as
  // stopped, with their records, then the window closes.
  void StopAndClose();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // A barcode scanner types into the window: each line it ends with Enter is a scanned serial.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Passes what the station tells on; the tiles themselves are read from its devices.
  class Forward : public StationView {
   public:
    explicit Forward(StationView* next) : next_(next) {}
    void Changed(const DeviceLabel& who, SlotState state, std::string_view note) override {
      if (next_ != nullptr) next_->Changed(who, state, note);
    }
    void Phase(const DeviceLabel& who, BurnPhase phase) override {
      if (next_ != nullptr) next_->Phase(who, phase);
    }
    void Message(const DeviceLabel& who, std::string_view caption, std::string_view text) override {
      if (next_ != nullptr) next_->Message(who, caption, text);
    }
    void Prompt(const DeviceLabel& who, const ReconnectPrompt& prompt) override {
      if (next_ != nullptr) next_->Prompt(who, prompt);
    }
    void Result(const DeviceLabel& who, const BurnRecord& record) override {
      if (next_ != nullptr) next_->Result(who, record);
    }
    void Misfit(const std::string& slot, const std::string& path, std::string_view why) override {
      if (next_ != nullptr) next_->Misfit(slot, path, why);
    }

   private:
    StationView* next_;
  };

  void PaintTile(QPainter& painter, const StationTile& tile, const Rect& area);
  void StopStation();

  const std::vector<std::string> slots_;
  const std::string model_;
  Dialogs& dialogs_;
  std::tm since_{};
  QTimer paintTimer_;
  QString typed_;  // a scan being typed
  QPixmap noLogo_;
  Forward forward_;
  Station station_;
  std::thread runner_;  // last: it runs the station, which must outlive it
};

}  // namespace plcburn
