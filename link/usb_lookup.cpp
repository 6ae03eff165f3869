#include "link/usb_lookup.h"

#include <cstdio>
#include <string_view>
#include <utility>

#include "link/usb_link.h"
#include "link/usb_open.h"

namespace plcburn {

bool MatchesUsbMarker(std::uint16_t idVendor, std::uint16_t idProduct) {
  return idVendor == kUsbVendor && idProduct == kUsbProduct;
}

OpenResult OpenUsbLink(std::shared_ptr<UsbBoundary> usb, LinkClock nowMs,
                       std::string_view portPath) {
  OpenResult result;
  // No device set ends the lookup with nothing found.
  const auto devices = usb->ListDevices();
  if (!devices) return result;
  bool accessDenied = false;
  for (const UsbDeviceEntry& device : *devices) {
    if (!MatchesUsbMarker(device.idVendor, device.idProduct)) continue;
    if (!portPath.empty() && usb->PortPath(device.id) != portPath) continue;
    UsbHandle handle = kNoUsbHandle;
    const int rc = usb->Open(device.id, &handle);
    accessDenied = accessDenied || rc == kUsbErrorAccess;
    if (rc != kUsbOk) continue;
    result.link = UsbLink::Attach(usb, handle, nowMs);
    if (result.link != nullptr) break;
  }
  usb->ReleaseDevices();
  if (result.link == nullptr && accessDenied) result.reason = kUsbPermissionReason;
  return result;
}

OpenResult OpenUsbLink() {
  return OpenUsbLink(MakeLibusbBoundary());
}

OpenResult OpenUsbLinkAt(std::string_view portPath) {
  return OpenUsbLink(MakeLibusbBoundary(), {}, portPath);
}

}  // namespace plcburn
