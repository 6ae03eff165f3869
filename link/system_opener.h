#pragma once
// Opens the links of a real machine: serial ports by name or path, the PLC's USB interface.

#include <string>
#include <utility>

#include "link/link.h"

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

}  // namespace plcburn
