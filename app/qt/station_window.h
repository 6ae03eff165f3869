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

#include "app/qt/dialogs.h"
#include "app/qt/station_tiles.h"
#include "burn/station.h"

namespace plcburn {

inline constexpr const char* kStationTitle = "Tavrion PLC Firmware Update Station";
inline constexpr int kTotalsHeight = 40;

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

 private:
  // Passes what the station tells on; the tiles themselves are read from its devices.
  class Forward : public StationView {
   public:
    explicit Forward(StationView* next) : next_(next) {}
    void Changed(const std::string& device, SlotState state, std::string_view note) override {
      if (next_ != nullptr) next_->Changed(device, state, note);
    }
    void Message(const std::string& device, std::string_view caption,
                 std::string_view text) override {
      if (next_ != nullptr) next_->Message(device, caption, text);
    }
    void Prompt(const std::string& device, const ReconnectPrompt& prompt) override {
      if (next_ != nullptr) next_->Prompt(device, prompt);
    }
    void Result(const std::string& device, const BurnRecord& record) override {
      if (next_ != nullptr) next_->Result(device, record);
    }

   private:
    StationView* next_;
  };

  void PaintTile(QPainter& painter, const StationTile& tile, const QRect& area);
  void StopStation();

  const std::vector<std::string> slots_;
  const std::string model_;
  Dialogs& dialogs_;
  std::tm since_{};
  QTimer paintTimer_;
  QPixmap noLogo_;
  Forward forward_;
  Station station_;
  std::thread runner_;  // last: it runs the station, which must outlive it
};

}  // namespace plcburn
