#include "link/usb_presence_linux.h"

#include <libusb.h>
#include <unistd.h>

#include <cstdint>

#include "link/usb_boundary.h"
#include "link/usb_lookup.h"

namespace plcburn {

UsbPresence::UsbPresence(int wakeFd) : wakeFd_(wakeFd) {
  if (libusb_init(&ctx_) != LIBUSB_SUCCESS) {
    ctx_ = nullptr;
    return;
  }
  if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return;
  libusb_hotplug_callback_handle handle = 0;
  if (libusb_hotplug_register_callback(
          ctx_,
          static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                            LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
          LIBUSB_HOTPLUG_ENUMERATE, kUsbVendor, kUsbProduct, LIBUSB_HOTPLUG_MATCH_ANY,
          [](libusb_context* c, libusb_device* d, libusb_hotplug_event e, void* self) {
            return OnHotplug(c, d, e, self);
          },
          this, &handle) != LIBUSB_SUCCESS)
    return;
  callback_ = handle;
  hotplug_ = true;
  events_ = std::thread([this] {
    while (running_) libusb_handle_events_completed(ctx_, nullptr);
  });
}

UsbPresence::~UsbPresence() {
  if (hotplug_) {
    running_ = false;
    libusb_hotplug_deregister_callback(ctx_, callback_);
    libusb_interrupt_event_handler(ctx_);
    events_.join();
  }
  if (ctx_ != nullptr) libusb_exit(ctx_);
}

std::map<std::string, int> UsbPresence::Ports() {
  if (!hotplug_) return Listed();
  std::lock_guard lock(mutex_);
  return ports_;
}

int UsbPresence::OnHotplug(libusb_context*, libusb_device* device, int event, void* self) {
  auto* me = static_cast<UsbPresence*>(self);
  const std::string port = PortOf(device);
  const int number = libusb_get_device_address(device);
  {
    std::lock_guard lock(me->mutex_);
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
      me->ports_[port] = number;
    } else if (auto it = me->ports_.find(port); it != me->ports_.end() && it->second == number) {
      me->ports_.erase(it);  // not the one that has already taken its place
    }
  }
  const std::uint64_t one = 1;
  (void)!write(me->wakeFd_, &one, sizeof one);
  return 0;
}

std::string UsbPresence::PortOf(libusb_device* device) {
  std::uint8_t ports[8];
  const int count = libusb_get_port_numbers(device, ports, sizeof ports);
  return UsbPortPathName(libusb_get_bus_number(device), ports, count < 0 ? 0 : count);
}

std::map<std::string, int> UsbPresence::Listed() {
  std::map<std::string, int> found;
  if (ctx_ == nullptr) return found;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(ctx_, &list);
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(list[i], &desc) == LIBUSB_SUCCESS &&
        MatchesUsbMarker(desc.idVendor, desc.idProduct))
      found[PortOf(list[i])] = libusb_get_device_address(list[i]);
  }
  if (list != nullptr) libusb_free_device_list(list, 1);
  return found;
}

}  // namespace plcburn
