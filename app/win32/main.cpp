// plcburn for Windows: the window program, or with --station the window of a burning station.

#include <string>
#include <vector>

#include "app/common/station_options.h"
#include "app/common/utf8_command_line.h"
#include "app/win32/main_window.h"
#include "app/win32/station_window.h"

int WINAPI WinMain(HINSTANCE hThisInstance, HINSTANCE /*hPrevInstance*/, LPSTR /*lpszArgument*/,
                   int nFunsterStil) {
  const std::vector<std::string> args = plcburn::Utf8CommandLine(0, nullptr);
  if (plcburn::WantsStation(args))
    return plcburn::win32::RunStationWindow(hThisInstance, args, nFunsterStil);
  return plcburn::win32::RunMainWindow(hThisInstance, nFunsterStil);
}
