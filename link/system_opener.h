#pragma once
// Opens the links of a real machine: serial ports by name or path, the PLC's USB interface.

#include <memory>
#include <string>
#include <utility>

#include "link/link.h"
#include "link/slot_watch.h"

namespace plcburn {

class SystemLinkOpener : public LinkOpener {
 public:
  SystemLinkOpener() = default;
  // Opens only the USB PLC plugged at `usbPortPath` ("usb:1-1.2"), wherever it re-enumerates.
  explicit SystemLinkOpener(std::string usbPortPath) : usbPortPath_(std::move(usbPortPath)) {}

  OpenResult OpenCom(const std::string& portName) override;
  OpenResult OpenUsb() override;

 private:
  std::string usbPortPath_;
};

// What a station opens for a device in one of its slots: the USB PLC at its port path, or the
// serial node by its path.
inline std::unique_ptr<LinkOpener> SystemOpenerFor(const SlotDevice& device) {
  return device.usb ? std::make_unique<SystemLinkOpener>(device.port)
                    : std::make_unique<SystemLinkOpener>();
}

}  // namespace plcburn
