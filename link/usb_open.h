#pragma once
// Finds the PLC's USB interface and opens it as a link: through libusb on Linux, through the
// Setup API on Windows. With no link, `reason` names a missing permission, else it is empty.

#include <string_view>

#include "link/link.h"

namespace plcburn {

OpenResult OpenUsbLink();
// The PLC plugged at a port path ("usb:1-1.2") only.
OpenResult OpenUsbLinkAt(std::string_view portPath);

}  // namespace plcburn
