#pragma once
// The few libusb operations that the USB lookup and the USB link need. Kept behind an interface
// so that both run against a fake device in the tests; only libusb_boundary.cpp sees libusb.

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
inline constexpr UsbHandle kNoUsbHandle = 0;  // what INVALID_HANDLE_VALUE is on Windows

struct UsbDeviceEntry {
  // Bus, port path, vendor and product, e.g. "usb-1-4.2 vid_7e3a&pid_0001"; empty when the
  // device's descriptors could not be read.
  std::string path;
  UsbDeviceId id = 0;
};

struct UsbEndpoints {
  std::uint8_t bulkOut = 0;
  std::uint8_t bulkIn = 0;
  std::uint16_t inMaxPacket = 0;
};

class UsbBoundary {
 public:
  virtual ~UsbBoundary() = default;

  // The present devices in enumeration order, or nothing when the device set cannot be had.
  // The ids stay valid until ReleaseDevices, which every successful listing must be paired with.
  virtual std::optional<std::vector<UsbDeviceEntry>> ListDevices() = 0;
  virtual void ReleaseDevices() = 0;

  virtual int Open(UsbDeviceId id, UsbHandle* handle) = 0;
  virtual void Close(UsbHandle handle) = 0;

  // 1 when a kernel driver holds the interface, 0 when none does, < 0 on error.
  virtual int KernelDriverActive(UsbHandle handle, int iface) = 0;
  virtual int DetachKernelDriver(UsbHandle handle, int iface) = 0;
  virtual int AttachKernelDriver(UsbHandle handle, int iface) = 0;
  virtual int ClaimInterface(UsbHandle handle, int iface) = 0;
  virtual int ReleaseInterface(UsbHandle handle, int iface) = 0;

  // The first bulk OUT and the first bulk IN endpoint of the interface's first setting;
  // kUsbErrorNotFound when it lacks either.
  virtual int FindBulkEndpoints(UsbHandle handle, int iface, UsbEndpoints* endpoints) = 0;

  // As libusb_bulk_transfer: `transferred` holds the bytes moved, on a time-out too. A time-out
  // of 0 would mean no limit; callers never pass it.
  virtual int BulkTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data, int length,
                           int* transferred, unsigned timeoutMs) = 0;
};

// The boundary over libusb-1.0. If libusb cannot start, every listing finds no device set.
std::shared_ptr<UsbBoundary> MakeLibusbBoundary();

}  // namespace plcburn
