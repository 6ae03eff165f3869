#pragma once
// The USB PLCs present on Linux: each port path with the device number of what is plugged there
// now, as libusb's hotplug callbacks report them (or, without hotplug, as a look at the bus
// finds them). A PLC unplugged and plugged again between two looks comes back with a new device
// number. Each change writes to `wakeFd`.

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

struct libusb_context;
struct libusb_device;

namespace plcburn {

class UsbPresence {
 public:
  explicit UsbPresence(int wakeFd);
  ~UsbPresence();
  UsbPresence(const UsbPresence&) = delete;
  UsbPresence& operator=(const UsbPresence&) = delete;

  // Without hotplug the station looks again every second.
  bool Hotplug() const { return hotplug_; }
  // Port path -> device number.
  std::map<std::string, int> Ports();

 private:
  static int OnHotplug(libusb_context*, libusb_device* device, int event, void* self);
  static std::string PortOf(libusb_device* device);
  std::map<std::string, int> Listed();

  const int wakeFd_;
  libusb_context* ctx_ = nullptr;
  int callback_ = 0;
  bool hotplug_ = false;
  std::atomic<bool> running_{true};
  std::thread events_;
  std::mutex mutex_;
  std::map<std::string, int> ports_;
};

}  // namespace plcburn
