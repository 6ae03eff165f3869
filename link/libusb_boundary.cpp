#include <libusb.h>

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

bool IsBulk(const libusb_endpoint_descriptor& ep) {
  return (ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK;
}

// The first bulk OUT and the first bulk IN endpoint of the setting, if it has both.
bool FindBulkPair(const libusb_interface_descriptor& setting, UsbBulkInterface* found) {
  bool haveOut = false;
  bool haveIn = false;
  for (int i = 0; i < setting.bNumEndpoints; ++i) {
    const libusb_endpoint_descriptor& ep = setting.endpoint[i];
    if (!IsBulk(ep)) continue;
    if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
      if (!haveIn) {
        found->bulkIn = ep.bEndpointAddress;
        found->inMaxPacket = ep.wMaxPacketSize;
      }
      haveIn = true;
    } else {
      if (!haveOut) found->bulkOut = ep.bEndpointAddress;
      haveOut = true;
    }
  }
  found->number = setting.bInterfaceNumber;
  return haveOut && haveIn;
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
      libusb_device_descriptor desc{};
      if (libusb_get_device_descriptor(list_[i], &desc) != LIBUSB_SUCCESS) continue;
      entries.push_back({desc.idVendor, desc.idProduct, reinterpret_cast<UsbDeviceId>(list_[i])});
    }
    return entries;
  }

  void ReleaseDevices() override {
    if (list_ != nullptr) libusb_free_device_list(list_, 1);
    list_ = nullptr;
  }

  std::string PortPath(UsbDeviceId id) override {
    auto* device = reinterpret_cast<libusb_device*>(id);
    std::uint8_t ports[8];
    const int count = libusb_get_port_numbers(device, ports, sizeof ports);
    if (count < 0) return {};
    return UsbPortPathName(libusb_get_bus_number(device), ports, count);
  }

  int Open(UsbDeviceId id, UsbHandle* handle) override {
    libusb_device_handle* h = nullptr;
    const int rc = libusb_open(reinterpret_cast<libusb_device*>(id), &h);
    *handle = rc == LIBUSB_SUCCESS ? reinterpret_cast<UsbHandle>(h) : kNoUsbHandle;
    // Claiming then takes the interface from a bound kernel driver, releasing gives it back.
    // Where the platform cannot, there is no such driver to take it from.
    if (h != nullptr) libusb_set_auto_detach_kernel_driver(h, 1);
    return rc;
  }

  void Close(UsbHandle handle) override { libusb_close(Dev(handle)); }

  int FindBulkInterface(UsbHandle handle, UsbBulkInterface* found) override {
    libusb_config_descriptor* config = nullptr;
    const int rc = libusb_get_active_config_descriptor(libusb_get_device(Dev(handle)), &config);
    if (rc != LIBUSB_SUCCESS) return rc;
    bool have = false;
    for (int i = 0; i < config->bNumInterfaces && !have; ++i) {
      const libusb_interface& iface = config->interface[i];
      UsbBulkInterface candidate;
      have = iface.num_altsetting > 0 && FindBulkPair(iface.altsetting[0], &candidate);
      if (have) *found = candidate;
    }
    libusb_free_config_descriptor(config);
    return have ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
  }

  int ClaimInterface(UsbHandle handle, int iface) override {
    return libusb_claim_interface(Dev(handle), iface);
  }
  int ReleaseInterface(UsbHandle handle, int iface) override {
    return libusb_release_interface(Dev(handle), iface);
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

std::string UsbPortPathName(int bus, const std::uint8_t* ports, int count) {
  std::string name = "usb:" + std::to_string(bus);
  for (int i = 0; i < count; ++i) name += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
  return name;
}

std::shared_ptr<UsbBoundary> MakeLibusbBoundary() {
  return std::make_shared<LibusbBoundary>();
}

}  // namespace plcburn
