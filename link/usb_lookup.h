#pragma once
// Finding the PLC's USB device among the present ones and opening it as a link.
//
// The PLC is the first device, in enumeration order, whose device descriptor carries the vendor
// and product of the marker and that opens and can be claimed. It is opened once: a device that
// re-enumerates between two opens would be a different device, or none.

#include <cstdint>
#include <memory>
#include <string_view>

#include "link/link.h"
#include "link/usb_boundary.h"
#include "link/usb_ids.h"

namespace plcburn {

// Shown when the PLC is there but the user may not open it.
inline constexpr char kUsbPermissionReason[] =
    "No permission to open the PLC's USB device: install the udev rules file 60-plcburn.rules "
    "(see README) and re-plug the PLC";

// Whether the vendor and product are the marker's.
bool MatchesUsbMarker(std::uint16_t idVendor, std::uint16_t idProduct);

// OpenUsbLink on the given boundary. With no link, `reason` names a missing permission when a
// matching device refused to open for lack of it.
// With a `portPath`, only the device plugged there is taken.
OpenResult OpenUsbLink(std::shared_ptr<UsbBoundary> usb, LinkClock nowMs = {},
                       std::string_view portPath = {});

}  // namespace plcburn
