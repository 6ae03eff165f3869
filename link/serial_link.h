#pragma once
// A serial port as a link: a tty driven with termios and poll on Linux, a COM handle on Windows.
// Either way the port is opened exclusively and raw, so every byte value passes both ways.

#include <cstdint>
#include <string>

#include "link/link.h"

#ifdef _WIN32
struct _DCB;
#else
struct termios;
#endif

namespace plcburn {

// The device a port name opens: "ttyUSB0" is /dev/ttyUSB0, "COM12" is \\.\COM12 (the plain name
// only reaches COM1 to COM9). A path ('/' on Linux, a leading "\\" on Windows) is taken as given.
std::string SerialDevicePath(const std::string& nameOrPath);

// Opens the port exclusively in raw mode. No line profile or time-out is applied yet.
OpenResult OpenSerialPort(const std::string& nameOrPath, LinkClock nowMs = {});

// The hint shown under the open failure for the system's error code (errno, or GetLastError),
// or "" when there is nothing to add.
std::string OpenFailureReason(std::uint32_t systemError, const std::string& nameOrPath);

// Writes the profile's speed, data bits, parity and stop bits into the port settings; false (and
// the settings untouched) for a speed or size the line cannot take. On Windows it also turns off
// flow control and special characters, which the POSIX link clears once when it opens the port.
#ifdef _WIN32
bool SetLineFields(_DCB& dcb, const LineProfile& profile);
#else
bool SetLineFields(termios& tio, const LineProfile& profile);
#endif

}  // namespace plcburn
