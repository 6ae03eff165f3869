#pragma once
// What a port's name says about the link a burn opens: "USB" is the PLC's own USB interface (the
// first PLC found), "usb:BUS-PORTS" the PLC plugged at that place of the USB tree (a station's USB
// slot); every other name or path is a serial port, whatever the model.

#include <string_view>

namespace plcburn {

inline constexpr std::string_view kUsbPort = "USB";
inline constexpr std::string_view kUsbPlacePrefix = "usb:";

constexpr bool NamesUsbInterface(std::string_view port) {
  return port == kUsbPort || port.starts_with(kUsbPlacePrefix);
}

}  // namespace plcburn
