#include "app/qt/station_program.h"

#include <QApplication>
#include <QMetaObject>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/common/exit_status.h"
#include "app/common/station_metrics_view.h"
#include "app/qt/dialogs.h"
#include "app/qt/station_window.h"
#include "burn/station.h"
#include "core/version.h"
#include "link/slot_watch.h"
#include "link/system_opener.h"
#include "metrics/metrics_address.h"
#include "metrics/metrics_server.h"
#include "record/burn_log.h"

namespace plcburn {

namespace {

// SIGTERM from the service manager, SIGINT or SIGHUP end the station as the CLI's does: its
// burns end as stopped, with their records, and the window closes.
std::mutex stopMutex;
StationWindow* stopTarget = nullptr;
bool stopAsked = false;

// Beside the window, the station's figures and what only a terminal can say: an entry in a slot
// that is no serial device.
class NoView : public StationView {
 public:
  void Changed(const DeviceLabel&, SlotState, std::string_view) override {}
  void Message(const DeviceLabel&, std::string_view, std::string_view) override {}
  void Prompt(const DeviceLabel&, const ReconnectPrompt&) override {}
  void Result(const DeviceLabel&, const BurnRecord&) override {}
  void Misfit(const std::string& slot, const std::string& path, std::string_view why) override {
    std::fprintf(stderr, "plcburn: %s (slot %s): %.*s; it is left alone\n", path.c_str(),
                 slot.c_str(), static_cast<int>(why.size()), why.data());
  }
};

}  // namespace

void StopStationWindow(int) {
  std::lock_guard lock(stopMutex);
  stopAsked = true;
  if (StationWindow* window = stopTarget)
    QMetaObject::invokeMethod(
        window, [window] { window->StopAndClose(); }, Qt::QueuedConnection);
}

int RunStationWindow(const StationSetup& setup) {
  // The figures are served from before the first burn, so a scrape sees the station at once.
  StationMetrics metrics(
      {std::string(kVersion), {{setup.facts.imageName, setup.facts.imageSha256}}});
  for (const std::string& slot : setup.options.watch) metrics.AddSlot(slot);
  MetricsServer server(metrics);
  if (!setup.metrics.empty()) {
    if (!server.Start(*ParseMetricsAddress(setup.metrics).address)) {
      std::fprintf(stderr, "plcburn: --metrics %s: %s\n", setup.metrics.c_str(),
                   server.Error().c_str());
      return kExitFailed;
    }
  }
  NoView none;
  StationMetricsView counted(&none, &metrics);
  std::string error;
  const std::unique_ptr<SlotWatch> watch = MakeSystemSlotWatch(setup.options.watch, &error);
  if (!watch) {
    std::fprintf(stderr, "plcburn: %s\n", error.c_str());
    return kExitFailed;
  }
  std::optional<BurnLog> log;
  if (!setup.options.noLog) {
    log.emplace(
        setup.options.log.empty() ? DefaultBurnLogPath() : std::filesystem::path(setup.options.log),
        [](const std::string& warning) { std::fprintf(stderr, "plcburn: %s\n", warning.c_str()); });
  }
  const StationConfig config = StationConfigFrom(setup.options, setup.modelRow, setup.Image(),
                                                 setup.facts, log ? &*log : nullptr);
  QtDialogs dialogs;
  if (log) metrics.CountRecordsLostFrom([&log] { return log->Lost(); });
  StationWindow window(config, *watch, &SystemOpenerFor, dialogs, &counted);
  {
    std::lock_guard lock(stopMutex);
    stopTarget = &window;
    if (stopAsked) window.StopAndClose();
  }
  window.show();
  const int status = QApplication::exec();
  std::lock_guard lock(stopMutex);
  stopTarget = nullptr;
  return status;
}

}  // namespace plcburn
