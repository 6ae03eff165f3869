#pragma once
// The entries of the port list: serial ports present, or the single "USB" for a USB model.

#include <string>
#include <vector>

namespace plcburn {

inline constexpr const char* kSysTtyRoot = "/sys/class/tty";
inline constexpr const char* kDevRoot = "/dev";

// Serial ports that have a device behind them, by name ("ttyUSB0"), in text order. Names longer
// than the 9 characters a selected port name holds are left out.
std::vector<std::string> EnumComPort(const std::string& sysRoot = kSysTtyRoot,
                                     const std::string& devRoot = kDevRoot);

// "USB" or EnumComPort(), followed by the paths in PLCBURN_EXTRA_PORTS (colon-separated) in the
// order given, e.g. the slave side of a pseudo-terminal.
std::vector<std::string> PortList(bool usbModel, const std::string& sysRoot = kSysTtyRoot,
                                  const std::string& devRoot = kDevRoot);

}  // namespace plcburn
