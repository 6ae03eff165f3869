#pragma once
// plcburn --station SLOT...: the station window on Windows. One tile per slot and device, drawn
// with GDI as the Qt station window draws them (app/panel/station_tiles.h), the totals at the
// top. The station runs on a thread of its own and posts its changes to the window; closing the
// window ends running burns as stopped, with their records.

// windows.h, as the panel's canvas includes it: without winuser.h's DrawText macro, which would
// rename the panel's own DrawText in every header after it.
#include <string>
#include <vector>

#include "app/win32/gdi_canvas.h"

namespace plcburn::win32 {

inline constexpr wchar_t kStationClassName[] = L"PlcburnStation";

// The exit status: 0 once the window is closed, 2 for a usage error, 1 when the device events
// cannot be watched.
int RunStationWindow(HINSTANCE instance, const std::vector<std::string>& args, int show);

}  // namespace plcburn::win32
