#pragma once
// The entries of the port list: the serial ports present, or the single "USB" for a USB model,
// followed by the paths in PLCBURN_EXTRA_PORTS.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plcburn {

// Longest port name a listed entry may have (the selection held 10 bytes with the terminator).
inline constexpr std::size_t kPortNameMax = 9;

#ifdef _WIN32

// The port name in a device's friendly name: from after the "(" of the first "(COM" up to the
// last ")" ("USB Serial Port (COM3)" gives "COM3"). None when there is no "(COM", no ")" after
// it, or the name would be longer than kPortNameMax.
std::optional<std::string> ComPortFromFriendlyName(std::string_view friendlyName);

// The COM ports of all present devices, in enumeration order; none when the device set cannot
// be had (the caller then keeps what it listed before).
std::optional<std::vector<std::string>> EnumComPort();

// "USB", or the COM ports sorted as the window's sorted list shows them (COM10 before COM3).
std::vector<std::string> PortList(bool usbModel);

#else

inline constexpr const char* kSysTtyRoot = "/sys/class/tty";

// Serial ports that have a device behind them, by name ("ttyUSB0"), in text order, decided from
// sysfs alone: no port is opened. Names longer than kPortNameMax are left out.
std::vector<std::string> EnumComPort(const std::string& sysRoot = kSysTtyRoot);

// "USB" or EnumComPort(), followed by the paths in PLCBURN_EXTRA_PORTS (colon-separated) in the
// order given, e.g. the slave side of a pseudo-terminal.
std::vector<std::string> PortList(bool usbModel, const std::string& sysRoot = kSysTtyRoot);

#endif

}  // namespace plcburn
