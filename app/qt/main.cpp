// plcburn: the desktop window that burns the built-in firmware image into one PLC, or, with
// --station, the window of a burning station.

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/common/exit_status.h"
#include "app/common/station_options.h"
#include "app/common/stop_signals.h"
#include "app/qt/dialogs.h"
#include "app/qt/main_window.h"
#include "app/qt/station_program.h"
#include "app/qt/window_options.h"
#include "link/system_opener.h"
#include "res/builtin_image.h"

namespace {

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

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = plcburn::AnswerWindowOptions(argc, argv)) return *status;
  // A usage error is told before Qt needs a display, unless Qt's options must go first.
  const std::vector<std::string> given(argv + 1, argv + argc);
  std::optional<plcburn::ParsedStation> station;
  // Taken before Qt or the station start a thread: every thread then leaves them to the watcher.
  std::optional<plcburn::StopSignals> stopSignals;
  if (plcburn::WantsStation(given)) stopSignals.emplace(&plcburn::StopStationWindow);
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
    return station->setup ? plcburn::RunStationWindow(*station->setup) : plcburn::kExitUsage;
  }
  plcburn::SystemLinkOpener opener;
  plcburn::QtDialogs dialogs;
  plcburn::MainWindow window(opener, dialogs);
  window.show();
  return app.exec();
}
