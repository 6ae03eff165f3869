// plcburn: the desktop window that burns the built-in firmware image into one PLC, or, with
// --station, the window of a burning station.

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/dialogs.h"
#include "app/qt/main_window.h"
#include "app/qt/station_options.h"
#include "app/qt/station_window.h"
#include "app/qt/window_options.h"
#include "link/slot_watch.h"
#include "link/system_opener.h"
#include "record/burn_log.h"
#include "res/builtin_image.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

plcburn::ParsedStation ParseStation(const std::vector<std::string>& args) {
  using namespace plcburn;
  ParsedStation parsed = ParseStationArgs(args, ModelFromImageName(BuiltinImageName()));
  if (!parsed.setup) std::fprintf(stderr, "plcburn: %s\n%s", parsed.error.c_str(), kStationUsage);
  return parsed;
}

// Qt's own options start with a single dash.
bool HasQtOptions(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-' && arg[1] != '-';
  });
}

int RunStationWindow(const plcburn::StationSetup& setup) {
  using namespace plcburn;
  // Hook for the metrics: a StationView given to the window as `also` sees every change and
  // record; the server for setup.metrics goes here once the window serves them.
  if (!setup.metrics.empty()) {
    std::fprintf(stderr, "plcburn: --metrics is not served by the station window yet\n");
    return kExitUsage;
  }
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
  StationConfig config;
  config.slots = setup.options.watch;
  config.modelRow = setup.modelRow;
  config.image = setup.Image();
  config.facts = setup.facts;
  config.log = log ? &*log : nullptr;
  config.replugTimeout = std::chrono::seconds(setup.options.replugTimeoutS);
  config.burnPresentAtStart = setup.options.now;
  QtDialogs dialogs;
  StationWindow window(
      config, *watch,
      [](const SlotDevice& device) -> std::unique_ptr<LinkOpener> {
        return device.usb ? std::make_unique<SystemLinkOpener>(device.port)
                          : std::make_unique<SystemLinkOpener>();
      },
      dialogs);
  window.show();
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = plcburn::AnswerWindowOptions(argc, argv)) return *status;
  // A usage error is told before Qt needs a display, unless Qt's options must go first.
  const std::vector<std::string> given(argv + 1, argv + argc);
  std::optional<plcburn::ParsedStation> station;
  if (plcburn::WantsStation(given) && !HasQtOptions(given)) {
    station = ParseStation(given);
    if (!station->setup) return kExitUsage;
  }
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("plcburn"));
  // Qt has taken its own options out of argv by now.
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (plcburn::WantsStation(args)) {
    if (!station) station = ParseStation(args);
    return station->setup ? RunStationWindow(*station->setup) : kExitUsage;
  }
  plcburn::SystemLinkOpener opener;
  plcburn::QtDialogs dialogs;
  plcburn::MainWindow window(opener, dialogs);
  window.show();
  return app.exec();
}
