#include "link/system_opener.h"

#include "link/win32_serial.h"
#include "link/win32_usb.h"

namespace plcburn {

OpenResult SystemLinkOpener::OpenCom(const std::string& portName) { return OpenComPort(portName); }

OpenResult SystemLinkOpener::OpenUsb() { return OpenUsbLink(); }

}  // namespace plcburn
