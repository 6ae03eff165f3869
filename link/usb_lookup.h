#pragma once
// Finding the PLC's USB device among the present ones and opening it.
//
// Every present device gets a path that carries its vendor and product the way the Windows device
// paths do ("usb-1-4 vid_7e3a&pid_0001"); the PLC is the first device whose path holds the marker
// and that opens. It is opened once to prove it can be, closed, and opened again by its name: the
// path, "\" and a pipe name. On Linux there are no pipes, so a name resolves to the device by the
// part before the "\".

#include <cstddef>
#include <cstdint>

#include "link/usb_boundary.h"

namespace plcburn {

// Upper bound of the device index walked by the lookup (compared unsigned).
inline constexpr std::uint32_t nGuessCount = 0x7FFFFFFF;
// The PLC's vendor and product as a device path writes them; matched case-sensitively.
inline constexpr char kUsbMarker[] = "vid_7e3a&pid_0001";
// Room for a device name and its terminating zero.
inline constexpr std::size_t kDeviceNameSize = 300;
using DevNameBuf = char[kDeviceNameSize];

class UsbLookup {
 public:
  explicit UsbLookup(UsbBoundary& usb) : usb_(usb) {}

  // A handle on the device if its path holds the marker and it opens, else kNoUsbHandle.
  // `sDevNameBuf` receives the path whenever the path could be read.
  UsbHandle OpenOneDevice(const UsbDeviceEntry& DvcInfoData, DevNameBuf& sDevNameBuf);
  // The handle of the first device that OpenOneDevice opens, its path in `sDevNameBuf`.
  UsbHandle OpenUsbDevice(DevNameBuf& sDevNameBuf);
  // 1 when a matching device opened (and was closed again at once), else 0.
  int GetUsbDeviceFileName(DevNameBuf& sDevNameBuf);
  // The open device named by its path, "\" and `PipeName`, or kNoUsbHandle.
  UsbHandle OpenMyDevPipe(const char* PipeName);
  // Opens a name built by OpenMyDevPipe: the device whose path is the part before the "\".
  UsbHandle OpenByName(const char* name);

  // Whether a matching device refused to open for lack of permission since OpenMyDevPipe began.
  bool AccessDenied() const { return accessDenied_; }

  // The name OpenMyDevPipe opened last.
  char DeviceName[kDeviceNameSize] = {};

 private:
  UsbHandle OpenDevice(UsbDeviceId id);

  UsbBoundary& usb_;
  bool accessDenied_ = false;
};

}  // namespace plcburn
