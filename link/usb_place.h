#pragma once
// Where a USB PLC is plugged, as Windows describes the device: the name a station gives the
// place, the same for every PLC plugged there and across a re-plug.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plcburn {

// "usb:Port_#0002.Hub_#0003" from the device's location information when it is a hub and port;
// else "usb:" and its first location path on the USB tree ("usb:PCIROOT(0)#PCI(1400)#USBROOT(0)
// #USB(2)"); none when neither says where the device is.
std::optional<std::string> UsbPlaceName(std::string_view locationInformation,
                                        const std::vector<std::string>& locationPaths);

}  // namespace plcburn
