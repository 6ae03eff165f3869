#include <libusb.h>

#include <cstdio>
#include <string>

#include "link/usb_boundary.h"

namespace plcburn {

static_assert(kUsbOk == LIBUSB_SUCCESS);
static_assert(kUsbErrorIo == LIBUSB_ERROR_IO);
static_assert(kUsbErrorAccess == LIBUSB_ERROR_ACCESS);
static_assert(kUsbErrorNoDevice == LIBUSB_ERROR_NO_DEVICE);
static_assert(kUsbErrorNotFound == LIBUSB_ERROR_NOT_FOUND);
static_assert(kUsbErrorBusy == LIBUSB_ERROR_BUSY);
static_assert(kUsbErrorTimeout == LIBUSB_ERROR_TIMEOUT);
static_assert(kUsbErrorOverflow == LIBUSB_ERROR_OVERFLOW);
static_assert(kUsbErrorPipe == LIBUSB_ERROR_PIPE);

namespace {

libusb_device_handle* Dev(UsbHandle handle) {
  return reinterpret_cast<libusb_device_handle*>(handle);
}

// "usb-<bus>-<port>.<port>... vid_xxxx&pid_xxxx", the vendor and product written in lower case
// as in the Windows device paths so that the same marker finds the PLC. Empty if unreadable.
std::string DevicePath(libusb_device* dev) {
  libusb_device_descriptor desc{};
  if (libusb_get_device_descriptor(dev, &desc) != LIBUSB_SUCCESS) return {};
  std::uint8_t ports[8];
  const int depth = libusb_get_port_numbers(dev, ports, sizeof ports);
  if (depth < 0) return {};
  std::string path = "usb-" + std::to_string(libusb_get_bus_number(dev));
  for (int i = 0; i < depth; ++i) path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
  char ids[32];
  std::snprintf(ids, sizeof ids, " vid_%04x&pid_%04x", desc.idVendor, desc.idProduct);
  return path + ids;
}

class LibusbBoundary final : public UsbBoundary {
 public:
  LibusbBoundary() {
    if (libusb_init(&ctx_) != LIBUSB_SUCCESS) ctx_ = nullptr;
  }
  ~LibusbBoundary() override {
    ReleaseDevices();
    if (ctx_ != nullptr) libusb_exit(ctx_);
  }

  std::optional<std::vector<UsbDeviceEntry>> ListDevices() override {
    if (ctx_ == nullptr) return std::nullopt;
    ReleaseDevices();
    const ssize_t count = libusb_get_device_list(ctx_, &list_);
    if (count < 0) {
      list_ = nullptr;
      return std::nullopt;
    }
    std::vector<UsbDeviceEntry> entries;
    for (ssize_t i = 0; i < count; ++i) {
      entries.push_back({DevicePath(list_[i]), reinterpret_cast<UsbDeviceId>(list_[i])});
    }
    return entries;
  }

  void ReleaseDevices() override {
    if (list_ != nullptr) libusb_free_device_list(list_, 1);
    list_ = nullptr;
  }

  int Open(UsbDeviceId id, UsbHandle* handle) override {
    libusb_device_handle* h = nullptr;
    const int rc = libusb_open(reinterpret_cast<libusb_device*>(id), &h);
    *handle = rc == LIBUSB_SUCCESS ? reinterpret_cast<UsbHandle>(h) : kNoUsbHandle;
    return rc;
  }

  void Close(UsbHandle handle) override { libusb_close(Dev(handle)); }

  int KernelDriverActive(UsbHandle handle, int iface) override {
    return libusb_kernel_driver_active(Dev(handle), iface);
  }
  int DetachKernelDriver(UsbHandle handle, int iface) override {
    return libusb_detach_kernel_driver(Dev(handle), iface);
  }
  int AttachKernelDriver(UsbHandle handle, int iface) override {
    return libusb_attach_kernel_driver(Dev(handle), iface);
  }
  int ClaimInterface(UsbHandle handle, int iface) override {
    return libusb_claim_interface(Dev(handle), iface);
  }
  int ReleaseInterface(UsbHandle handle, int iface) override {
    return libusb_release_interface(Dev(handle), iface);
  }

  int FindBulkEndpoints(UsbHandle handle, int iface, UsbEndpoints* endpoints) override {
    libusb_config_descriptor* config = nullptr;
    const int rc = libusb_get_active_config_descriptor(libusb_get_device(Dev(handle)), &config);
    if (rc != LIBUSB_SUCCESS) return rc;
    UsbEndpoints found;
    bool haveOut = false;
    bool haveIn = false;
    if (iface < config->bNumInterfaces && config->interface[iface].num_altsetting > 0) {
      const libusb_interface_descriptor& setting = config->interface[iface].altsetting[0];
      for (int i = 0; i < setting.bNumEndpoints; ++i) {
        const libusb_endpoint_descriptor& ep = setting.endpoint[i];
        if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
        if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
          if (!haveIn) {
            found.bulkIn = ep.bEndpointAddress;
            found.inMaxPacket = ep.wMaxPacketSize;
          }
          haveIn = true;
        } else {
          if (!haveOut) found.bulkOut = ep.bEndpointAddress;
          haveOut = true;
        }
      }
    }
    libusb_free_config_descriptor(config);
    if (!haveOut || !haveIn) return LIBUSB_ERROR_NOT_FOUND;
    *endpoints = found;
    return LIBUSB_SUCCESS;
  }

  int BulkTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data, int length,
                   int* transferred, unsigned timeoutMs) override {
    return libusb_bulk_transfer(Dev(handle), endpoint, data, length, transferred, timeoutMs);
  }

 private:
  libusb_context* ctx_ = nullptr;
  libusb_device** list_ = nullptr;
};

}  // namespace

std::shared_ptr<UsbBoundary> MakeLibusbBoundary() {
  return std::make_shared<LibusbBoundary>();
}

}  // namespace plcburn
