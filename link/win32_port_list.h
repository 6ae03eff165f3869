#pragma once
// The entries of the port list on Windows: the COM ports the Setup API reports as present, or
// the single "USB" for a USB model.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plcburn {

// Longest port name the selection holds (10 bytes with the terminator).
inline constexpr std::size_t kMaxPortName = 9;

// The port name in a device's friendly name: from after the "(" of the first "(COM" up to the
// last ")" ("USB Serial Port (COM3)" gives "COM3"). None when there is no "(COM", no ")" after
// it, or the name would not fit the selection.
std::optional<std::string> ComPortFromFriendlyName(std::string_view friendlyName);

// The COM ports of all present devices, in enumeration order; none when the device set cannot
// be had (the caller then keeps what it listed before).
std::optional<std::vector<std::string>> EnumComPort();

// "USB", or the COM ports sorted as the window's sorted list shows them (COM10 before COM3).
std::vector<std::string> PortList(bool usbModel);

}  // namespace plcburn
