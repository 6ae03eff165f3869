#pragma once
// plcburn --station: the station window's program, beside the burn window's.

#include "app/common/station_options.h"

namespace plcburn {

// Runs the station window until it closes; the program's exit status.
int RunStationWindow(const StationSetup& setup);

// Ends the station as the CLI's stop does (every burn as stopped, with its record) and closes its
// window; safe from the stop-signal watcher, before the window exists too.
void StopStationWindow(int signal);

}  // namespace plcburn
