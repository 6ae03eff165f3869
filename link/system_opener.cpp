#include "link/system_opener.h"

#include "link/serial_link.h"
#include "link/usb_open.h"

namespace plcburn {

OpenResult SystemLinkOpener::OpenCom(const std::string& portName) {
  return OpenSerialPort(portName);
}

OpenResult SystemLinkOpener::OpenUsb() {
  return usbPortPath_.empty() ? OpenUsbLink() : OpenUsbLinkAt(usbPortPath_);
}

}  // namespace plcburn
