// plcburn: the desktop window that burns the built-in firmware image into one PLC, or, with
// --station, the window of a burning station.

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/common/exit_status.h"
#include "app/common/station_metrics_view.h"
#include "app/common/station_options.h"
#include "app/common/stop_signals.h"
#include "app/qt/dialogs.h"
#include "app/qt/main_window.h"
#include "app/qt/station_window.h"
#include "app/qt/window_options.h"
#include "core/version.h"
#include "link/slot_watch.h"
#include "link/system_opener.h"
#include "metrics/metrics_address.h"
#include "metrics/metrics_server.h"
#include "record/burn_log.h"
#include "res/builtin_image.h"

namespace {

plcburn::ParsedStation ParseStation(const std::vector<std::string>& args) {
  using namespace plcburn;
  ParsedStation parsed = ParseStationArgs(args, ModelFromImageName(BuiltinImageName()));
  if (!parsed.setup) std::fprintf(stderr, "plcburn: %s\n%s", parsed.error.c_str(), kStationUsage);
  return parsed;
}

// SIGTERM from the service manager, SIGINT or SIGHUP end the station as the CLI's does: its
// burns end as stopped, with their records, and the window closes.
std::mutex stopMutex;
plcburn::StationWindow* stopTarget = nullptr;
bool stopAsked = false;

void StopStationWindow(int) {
  std::lock_guard lock(stopMutex);
  stopAsked = true;
  if (plcburn::StationWindow* window = stopTarget)
    QMetaObject::invokeMethod(
        window, [window] { window->StopAndClose(); }, Qt::QueuedConnection);
}

// Beside the window, the station's figures and what only a terminal can say: an entry in a slot
// that is no serial device.
class NoView : public plcburn::StationView {
 public:
  void Changed(const plcburn::DeviceLabel&, plcburn::SlotState, std::string_view) override {}
  void Message(const plcburn::DeviceLabel&, std::string_view, std::string_view) override {}
  void Prompt(const plcburn::DeviceLabel&, const plcburn::ReconnectPrompt&) override {}
  void Result(const plcburn::DeviceLabel&, const plcburn::BurnRecord&) override {}
  void Misfit(const std::string& slot, const std::string& path, std::string_view why) override {
    std::fprintf(stderr, "plcburn: %s (slot %s): %.*s; it is left alone\n", path.c_str(),
                 slot.c_str(), static_cast<int>(why.size()), why.data());
  }
};

// Qt's own options start with a single dash.
bool HasQtOptions(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-' && arg[1] != '-';
  });
}

int RunStationWindow(const plcburn::StationSetup& setup) {
  using namespace plcburn;
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
  const StationConfig config = StationConfigFor(setup, log ? &*log : nullptr);
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

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = plcburn::AnswerWindowOptions(argc, argv)) return *status;
  // A usage error is told before Qt needs a display, unless Qt's options must go first.
  const std::vector<std::string> given(argv + 1, argv + argc);
  std::optional<plcburn::ParsedStation> station;
  // Taken before Qt or the station start a thread: every thread then leaves them to the watcher.
  std::optional<plcburn::StopSignals> stopSignals;
  if (plcburn::WantsStation(given)) stopSignals.emplace(&StopStationWindow);
  if (plcburn::WantsStation(given) && !HasQtOptions(given)) {
    station = ParseStation(given);
    if (!station->setup) return plcburn::kExitUsage;
  }
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("plcburn"));
  // Qt has taken its own options out of argv by now.
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (plcburn::WantsStation(args)) {
    if (!station) station = ParseStation(args);
    return station->setup ? RunStationWindow(*station->setup) : plcburn::kExitUsage;
  }
  plcburn::SystemLinkOpener opener;
  plcburn::QtDialogs dialogs;
  plcburn::MainWindow window(opener, dialogs);
  window.show();
  return app.exec();
}
