#pragma once
// The few libusb operations that the USB lookup and the USB link need. Kept behind an interface
// so that the link's timing runs on a virtual clock in the unit tests; only libusb_boundary.cpp
// sees libusb.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plcburn {

// Results as libusb reports them: 0 or a negative LIBUSB_ERROR_* value.
inline constexpr int kUsbOk = 0;
inline constexpr int kUsbErrorIo = -1;
inline constexpr int kUsbErrorAccess = -3;
inline constexpr int kUsbErrorNoDevice = -4;
inline constexpr int kUsbErrorNotFound = -5;
inline constexpr int kUsbErrorBusy = -6;
inline constexpr int kUsbErrorTimeout = -7;
inline constexpr int kUsbErrorOverflow = -8;
inline constexpr int kUsbErrorPipe = -9;

using UsbDeviceId = std::uintptr_t;
using UsbHandle = std::uintptr_t;
inline constexpr UsbHandle kNoUsbHandle = 0;

// A present device as its device descriptor names it.
struct UsbDeviceEntry {
  std::uint16_t idVendor = 0;
  std::uint16_t idProduct = 0;
  UsbDeviceId id = 0;
};

// The interface that carries the link and its bulk endpoint pair.
struct UsbBulkInterface {
  int number = 0;
  std::uint8_t bulkOut = 0;
  std::uint8_t bulkIn = 0;
  std::uint16_t inMaxPacket = 0;
};

class UsbBoundary {
 public:
  virtual ~UsbBoundary() = default;

  // The present devices in enumeration order (those whose descriptor cannot be read left out),
  // or nothing when the device set cannot be had. The ids stay valid until ReleaseDevices, which
  // every successful listing must be paired with; open handles outlive it.
  virtual std::optional<std::vector<UsbDeviceEntry>> ListDevices() = 0;
  virtual void ReleaseDevices() = 0;

  // Where the device is plugged, "usb:BUS-PORT.PORT...": it stays the same across a re-plug into
  // the same socket, while the device number changes. Empty where the platform cannot tell.
  virtual std::string PortPath(UsbDeviceId /*id*/) { return {}; }

  virtual int Open(UsbDeviceId id, UsbHandle* handle) = 0;
  virtual void Close(UsbHandle handle) = 0;

  // The first interface of the active configuration (first alternate setting) that has both a
  // bulk OUT and a bulk IN endpoint, with the first of each; kUsbErrorNotFound when none has.
  virtual int FindBulkInterface(UsbHandle handle, UsbBulkInterface* found) = 0;
  // Claiming detaches a kernel driver bound to the interface; releasing attaches it again.
  virtual int ClaimInterface(UsbHandle handle, int iface) = 0;
  virtual int ReleaseInterface(UsbHandle handle, int iface) = 0;

  // As libusb_bulk_transfer: `transferred` holds the bytes moved, on a time-out too. A time-out
  // of 0 would mean no limit; callers never pass it.
  virtual int BulkTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data, int length,
                           int* transferred, unsigned timeoutMs) = 0;
};

// The boundary over libusb-1.0. If libusb cannot start, every listing finds no device set.
std::shared_ptr<UsbBoundary> MakeLibusbBoundary();

// "usb:" and the bus and hub ports, as PortPath names them.
std::string UsbPortPathName(int bus, const std::uint8_t* ports, int count);

}  // namespace plcburn
