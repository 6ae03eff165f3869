#pragma once
// Finds the PLC's USB interface and opens it as a link: through libusb on Linux, through the
// Setup API on Windows. With no link, `reason` names a missing permission, else it is empty.

#include "link/link.h"

namespace plcburn {

OpenResult OpenUsbLink();

}  // namespace plcburn
