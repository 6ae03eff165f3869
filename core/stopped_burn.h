#pragma once
// What every front end tells the operator about a burn stopped before its end (the program is
// closed or told to stop): the PLC may be left half erased or half written, and only a new burn,
// which its boot loader takes, brings it back.

#include <string_view>

namespace plcburn {

// The one message of a burn that was stopped.
inline constexpr std::string_view kMsgBurnStopped =
    "Firmware update is STOPPED: the PLC must be burned again";

// The windows ask this, with a warning icon and No as the default answer, before they close
// during a burn.
inline constexpr std::string_view kStopBurnCaption = "WARNING";
inline constexpr std::string_view kStopBurnQuestion =
    "A firmware update is running. Stop it and quit?\n\n"
    "The PLC is left where the update stops and must be burned again.";

}  // namespace plcburn
