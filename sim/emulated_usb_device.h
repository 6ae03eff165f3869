#pragma once
// One USB device as Linux shows it to libusb, emulated in process with umockdev: its sysfs
// record and descriptors, a /dev/bus/usb/BBB/DDD node, and the usbdevfs ioctls on that node
// (claims, kernel-driver detach and attach, bulk URBs submitted, reaped and discarded).
//
// The node is a symlink to a pseudo-terminal whose output is stopped while no URB is ready to
// reap: libusb polls the node for POLLOUT, so it sleeps until a URB completes, and it sees
// POLLERR when the pseudo-terminal hangs up on unplug, as with a real device.
//
// The process must run with umockdev's preload library, and the testbed must exist before any
// libusb context is made, or libusb never sees the emulated devices.

#include <umockdev.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace plcburn {

// A umockdev testbed: while it lives, /sys and /dev/bus/usb of this process are its own.
class UsbTestbed {
 public:
  UsbTestbed();
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  UMockdevTestbed* get() const { return testbed_; }
  // Whether umockdev's preload library serves this testbed; without it libusb would see the
  // machine's real devices.
  bool Preloaded() const;

 private:
  UMockdevTestbed* testbed_;
};

inline constexpr std::uint8_t kBulk = 2;
inline constexpr std::uint8_t kInterrupt = 3;

struct UsbEndpointSpec {
  std::uint8_t address;
  std::uint8_t type;  // kBulk or kInterrupt
};

struct UsbInterfaceSpec {
  std::vector<UsbEndpointSpec> endpoints;
  bool kernelDriver = false;  // a kernel driver binds to it when plugged in
};

struct UsbDeviceDescription {
  std::uint16_t idVendor = 0x7e3a;
  std::uint16_t idProduct = 0x0001;
  std::vector<UsbInterfaceSpec> interfaces = {{{{0x01, kBulk}, {0x81, kBulk}}, true}};
  // The endpoints the function behind the device serves; the others never answer.
  std::uint8_t pipeOut = 0x01;
  std::uint8_t pipeIn = 0x81;
  // Another program holds every interface: claims fail as busy.
  bool heldElsewhere = false;
};

// Where a device sits: bus, port (its sysfs name is "<bus>-<port>") and device number.
struct UsbAddress {
  int bus = 1;
  int port = 1;
  int devnum = 2;
};

// The firmware behind a device's bulk pipe. Called with the device's lock held.
class UsbFunction {
 public:
  virtual ~UsbFunction() = default;
  virtual void Receive(std::span<const std::uint8_t> data) = 0;
  virtual std::vector<std::uint8_t> TakeOutput(std::size_t max) = 0;
  virtual std::size_t Pending() const = 0;
};

class EmulatedUsbDevice {
 public:
  // Plugs the device in. `lock` guards `function` and this device; `changed` is notified
  // whenever a transfer was submitted or completed.
  EmulatedUsbDevice(UsbTestbed& testbed, UsbDeviceDescription description, UsbAddress address,
                    UsbFunction& function, std::mutex& lock, std::condition_variable& changed);
  ~EmulatedUsbDevice();
  EmulatedUsbDevice(const EmulatedUsbDevice&) = delete;
  EmulatedUsbDevice& operator=(const EmulatedUsbDevice&) = delete;

  // As the kernel does on unplug: in-flight URBs end with -ESHUTDOWN, every later ioctl fails
  // with ENODEV, the node hangs up, a "remove" uevent goes out and the sysfs record goes.
  void Unplug();
  // The node's permission bits (0 makes opening it fail, see FileAccessOverrideDropped).
  void SetNodeMode(unsigned mode);

  // These take the lock themselves.
  const UsbAddress& Address() const { return address_; }
  int Opens() const;
  bool AnyInterfaceClaimed() const;
  // Whether every interface that had a kernel driver when plugged in has it again.
  bool KernelDriversBound() const;
  // IN transfers on the function's pipe that wait for data (the lock held).
  std::size_t WaitingReadsLocked() const;

 private:
  struct Urb;
  struct Gate;
  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer gate);
  static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer gate);
  gboolean HandleLocked(UMockdevIoctlClient* client);
  int Claim(UMockdevIoctlClient* client, unsigned iface, bool detachDriver);
  int Release(UMockdevIoctlClient* client, unsigned iface);
  int DriverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  int Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  int Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  int Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  int InterfaceOf(std::uint8_t endpoint) const;
  void Complete(Urb urb, int status, int actual);
  void ServeReads();
  void DropUrbsOfClosedClients();
  void UpdatePollOut();

  UsbTestbed& testbed_;
  UsbDeviceDescription description_;
  UsbAddress address_;
  UsbFunction& function_;
  std::mutex& lock_;
  std::condition_variable& changed_;
  std::string syspath_;
  std::string devnode_;
  std::string nodeFile_;  // the node's path inside the testbed
  int ptyMaster_ = -1;
  int ptyControl_ = -1;  // our handle on the slave side, to stop and start its output
  UMockdevIoctlBase* handler_ = nullptr;
  Gate* gate_ = nullptr;

  std::deque<Urb> waiting_;                      // IN URBs without data yet, oldest first
  std::deque<Urb> done_;                         // completed URBs not yet reaped
  std::vector<Urb> reaped_;                      // handed to the client by the ioctl in progress
  std::vector<UMockdevIoctlClient*> claimedBy_;  // per interface, a reference held
  std::vector<bool> driverBound_;
  bool unplugged_ = false;
  bool pollOut_ = true;
  int opens_ = 0;
};

// Drops the calling thread's power to open files whatever their permission bits (root has it),
// so that a node's mode 000 denies it as it would any other user. Restores it when destroyed.
class FileAccessOverrideDropped {
 public:
  FileAccessOverrideDropped();
  ~FileAccessOverrideDropped();
  FileAccessOverrideDropped(const FileAccessOverrideDropped&) = delete;
  FileAccessOverrideDropped& operator=(const FileAccessOverrideDropped&) = delete;

 private:
  std::uint32_t dropped_ = 0;
};

}  // namespace plcburn
