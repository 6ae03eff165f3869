#pragma once
// Opens the links of a real machine: serial ports by name or path, the PLC's USB interface.

#include "link/link.h"

namespace plcburn {

class SystemLinkOpener : public LinkOpener {
 public:
  OpenResult OpenCom(const std::string& portName) override;
  OpenResult OpenUsb() override;
};

}  // namespace plcburn
