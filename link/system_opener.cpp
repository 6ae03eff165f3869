#include "link/system_opener.h"

#include "link/serial_posix.h"
#include "link/usb_link.h"

namespace plcburn {

OpenResult SystemLinkOpener::OpenCom(const std::string& portName) { return OpenSerialPort(portName); }

OpenResult SystemLinkOpener::OpenUsb() { return OpenUsbLink(); }

}  // namespace plcburn
