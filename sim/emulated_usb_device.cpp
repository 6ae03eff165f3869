#include "sim/emulated_usb_device.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace plcburn {

namespace {

constexpr std::size_t kMaxPacket = 64;
// What an xHCI host reports: whole transfers in one URB, URBs reapable after a disconnect.
constexpr std::uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                        USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string s;
  for (std::uint8_t b : bytes) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", b);
    s += two;
  }
  return s;
}

std::uint8_t Lo(unsigned v) {
  return static_cast<std::uint8_t>(v & 0xFF);
}
std::uint8_t Hi(unsigned v) {
  return static_cast<std::uint8_t>(v >> 8);
}

// The device descriptor followed by the whole configuration, as sysfs "descriptors" has them.
// No string descriptors, so libusb sends no control request.
std::vector<std::uint8_t> Descriptors(const UsbDeviceDescription& description) {
  std::vector<std::uint8_t> config;
  for (std::size_t i = 0; i < description.interfaces.size(); ++i) {
    const auto& eps = description.interfaces[i].endpoints;
    config.insert(config.end(),
                  {9, 4, Lo(unsigned(i)), 0, Lo(unsigned(eps.size())), 0xFF, 0, 0, 0});
    for (const UsbEndpointSpec& ep : eps) {
      config.insert(config.end(), {7, 5, ep.address, ep.type, Lo(kMaxPacket), 0, 0});
    }
  }
  const unsigned total = unsigned(config.size()) + 9;
  std::vector<std::uint8_t> all = {18,
                                   1,
                                   0x00,
                                   0x02,
                                   0,
                                   0,
                                   0,
                                   Lo(kMaxPacket),
                                   Lo(description.idVendor),
                                   Hi(description.idVendor),
                                   Lo(description.idProduct),
                                   Hi(description.idProduct),
                                   0x00,
                                   0x01,
                                   0,
                                   0,
                                   0,
                                   1};
  all.insert(all.end(), {9, 2, Lo(total), Hi(total), Lo(unsigned(description.interfaces.size())), 1,
                         0, 0x80, 50});
  all.insert(all.end(), config.begin(), config.end());
  return all;
}

template <typename T>
T* Resolve(UMockdevIoctlData* arg) {
  GError* error = nullptr;
  UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(T), &error);
  if (d == nullptr) {
    g_clear_error(&error);
    return nullptr;
  }
  return reinterpret_cast<T*>(d->data);
}

}  // namespace

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {
  // libusb opens the node without O_NOCTTY: a session leader would take the pseudo-terminal as
  // its terminal and get SIGHUP when it hangs up.
  if (getsid(0) == getpid()) std::signal(SIGHUP, SIG_IGN);
}

UsbTestbed::~UsbTestbed() {
  g_object_unref(testbed_);
}

bool UsbTestbed::Preloaded() const {
  return umockdev_in_mock_environment();
}

struct EmulatedUsbDevice::Urb {
  UMockdevIoctlData* urb = nullptr;     // the client's struct usbdevfs_urb, a reference held
  UMockdevIoctlData* buffer = nullptr;  // its transfer buffer, a reference held
  UMockdevIoctlClient* client = nullptr;
  std::uint8_t endpoint = 0;

  usbdevfs_urb& Fields() const { return *reinterpret_cast<usbdevfs_urb*>(urb->data); }
  void Unref() const {
    if (buffer != nullptr) g_object_unref(buffer);
    g_object_unref(urb);
    g_object_unref(client);
  }
};

// How umockdev's worker thread reaches the device. It may still call a handler after the device
// is gone (for a handle opened just before), and it meets our threads under GLib's own locks,
// which a thread checker cannot see: one lock of ours orders them. Held by the device and by its
// two signal connections.
struct EmulatedUsbDevice::Gate {
  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
  static void Drop(gpointer gate, GClosure* = nullptr) {
    std::lock_guard hold(Lock());
    auto* g = static_cast<Gate*>(gate);
    if (--g->holders == 0) delete g;
  }

  EmulatedUsbDevice* device;
  int holders = 3;
};

EmulatedUsbDevice::EmulatedUsbDevice(UsbTestbed& testbed, UsbDeviceDescription description,
                                     UsbAddress address, UsbFunction& function, std::mutex& lock,
                                     std::condition_variable& changed)
    : testbed_(testbed),
      description_(std::move(description)),
      address_(address),
      function_(function),
      lock_(lock),
      changed_(changed),
      claimedBy_(description_.interfaces.size(), nullptr) {
  for (const UsbInterfaceSpec& i : description_.interfaces) driverBound_.push_back(i.kernelDriver);
  char node[32];
  std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", address.bus, address.devnum);
  devnode_ = std::string("/dev/") + node;
  syspath_ = "/sys/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(address.bus) + "/" +
             std::to_string(address.bus) + "-" + std::to_string(address.port);
  char ids[48];
  std::snprintf(ids, sizeof ids, "E: PRODUCT=%x/%x/100\n", description_.idVendor,
                description_.idProduct);
  // The umockdev-record format; "\\n" ends an attribute with a newline as sysfs does.
  const std::string record =
      "P: " + syspath_.substr(4) + "\nN: " + node + "\nE: DEVNAME=" + devnode_ +
      "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n" + ids +
      "A: busnum=" + std::to_string(address.bus) +
      "\\n\nA: devnum=" + std::to_string(address.devnum) +
      "\\n\nA: speed=480\\n\nA: bConfigurationValue=1\\n\n" +
      "A: dev=189:" + std::to_string((address.bus - 1) * 128 + address.devnum - 1) + "\\n\n" +
      "H: descriptors=" + Hex(Descriptors(description_)) + "\n";
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_.get(), record.c_str(), &error)) {
    const std::string message = error->message;
    g_error_free(error);
    throw std::runtime_error("umockdev record: " + message);
  }
  gchar* root = umockdev_testbed_get_root_dir(testbed_.get());
  nodeFile_ = std::string(root) + devnode_;
  g_free(root);

  ptyMaster_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (ptyMaster_ < 0 || grantpt(ptyMaster_) != 0 || unlockpt(ptyMaster_) != 0)
    throw std::runtime_error("no pseudo-terminal");
  const std::string slave = ptsname(ptyMaster_);
  ptyControl_ = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (ptyControl_ < 0 || unlink(nodeFile_.c_str()) != 0 ||
      symlink(slave.c_str(), nodeFile_.c_str()) != 0)
    throw std::runtime_error("cannot make the node a pseudo-terminal");
  UpdatePollOut();

  handler_ = umockdev_ioctl_base_new();
  {
    std::lock_guard hold(Gate::Lock());
    gate_ = new Gate{this};
  }
  g_signal_connect_data(handler_, "handle-ioctl", G_CALLBACK(OnIoctl), gate_, Gate::Drop,
                        GConnectFlags{});
  g_signal_connect_data(handler_, "client-connected", G_CALLBACK(OnConnected), gate_, Gate::Drop,
                        GConnectFlags{});
  if (!umockdev_testbed_attach_ioctl(testbed_.get(), devnode_.c_str(), handler_, &error)) {
    const std::string message = error->message;
    g_error_free(error);
    throw std::runtime_error("umockdev ioctl handler: " + message);
  }
}

EmulatedUsbDevice::~EmulatedUsbDevice() {
  {
    std::lock_guard hold(Gate::Lock());
    gate_->device = nullptr;
  }
  Gate::Drop(gate_);
  GError* error = nullptr;
  if (!umockdev_testbed_detach_ioctl(testbed_.get(), devnode_.c_str(), &error))
    g_clear_error(&error);
  g_object_unref(handler_);
  for (const Urb& u : waiting_) u.Unref();
  for (const Urb& u : done_) u.Unref();
  for (UMockdevIoctlClient* c : claimedBy_)
    if (c != nullptr) g_object_unref(c);
  if (ptyMaster_ >= 0) close(ptyMaster_);
  close(ptyControl_);
}

void EmulatedUsbDevice::Unplug() {
  {
    std::lock_guard hold(lock_);
    unplugged_ = true;
    for (const Urb& u : waiting_) Complete(u, -ESHUTDOWN, 0);
    waiting_.clear();
    UpdatePollOut();
    changed_.notify_all();
  }
  close(ptyMaster_);  // POLLERR and POLLHUP on libusb's handle
  ptyMaster_ = -1;
  // Removing the record sends no uevent of its own; the record must still be there for it.
  umockdev_testbed_uevent(testbed_.get(), syspath_.c_str(), "remove");
  umockdev_testbed_remove_device(testbed_.get(), syspath_.c_str());
}

void EmulatedUsbDevice::SetNodeMode(unsigned mode) {
  // chmod follows the symlink to the pseudo-terminal, which is what open() checks.
  if (chmod(nodeFile_.c_str(), mode) != 0) throw std::runtime_error("chmod of the node failed");
}

int EmulatedUsbDevice::Opens() const {
  std::lock_guard hold(lock_);
  return opens_;
}

bool EmulatedUsbDevice::AnyInterfaceClaimed() const {
  std::lock_guard hold(lock_);
  return std::any_of(claimedBy_.begin(), claimedBy_.end(), [](auto* c) {
    return c != nullptr && umockdev_ioctl_client_get_connected(c);
  });
}

bool EmulatedUsbDevice::KernelDriversBound() const {
  std::lock_guard hold(lock_);
  for (std::size_t i = 0; i < description_.interfaces.size(); ++i)
    if (description_.interfaces[i].kernelDriver && !driverBound_[i]) return false;
  return true;
}

std::size_t EmulatedUsbDevice::WaitingReadsLocked() const {
  return static_cast<std::size_t>(
      std::count_if(waiting_.begin(), waiting_.end(),
                    [this](const Urb& u) { return u.endpoint == description_.pipeIn; }));
}

gboolean EmulatedUsbDevice::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                    gpointer gate) {
  std::lock_guard pass(Gate::Lock());
  EmulatedUsbDevice* device = static_cast<Gate*>(gate)->device;
  if (device == nullptr) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  std::lock_guard hold(device->lock_);
  const gboolean handled = device->HandleLocked(client);
  device->changed_.notify_all();
  return handled;
}

void EmulatedUsbDevice::OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer gate) {
  std::lock_guard pass(Gate::Lock());
  EmulatedUsbDevice* device = static_cast<Gate*>(gate)->device;
  if (device == nullptr) return;
  std::lock_guard hold(device->lock_);
  ++device->opens_;
  // umockdev tells of no closed handle, so what the closed ones left goes now, as the kernel
  // drops it when a handle closes.
  device->DropUrbsOfClosedClients();
}

gboolean EmulatedUsbDevice::HandleLocked(UMockdevIoctlClient* client) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  int result = 0;
  const bool reap = request == USBDEVFS_REAPURBNDELAY;
  if (unplugged_ && !(reap && !done_.empty())) {
    result = -ENODEV;
  } else {
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES:
        if (auto* caps = Resolve<std::uint32_t>(arg)) *caps = kCapabilities;
        break;
      case USBDEVFS_CLAIMINTERFACE:
        if (auto* iface = Resolve<unsigned>(arg)) result = Claim(client, *iface, false);
        break;
      case USBDEVFS_DISCONNECT_CLAIM:
        if (auto* dc = Resolve<usbdevfs_disconnect_claim>(arg))
          result = dc->interface < description_.interfaces.size()
                       ? Claim(client, dc->interface, true)
                       : -EINVAL;
        break;
      case USBDEVFS_RELEASEINTERFACE:
        if (auto* iface = Resolve<unsigned>(arg)) result = Release(client, *iface);
        break;
      case USBDEVFS_GETDRIVER:
        if (auto* gd = Resolve<usbdevfs_getdriver>(arg)) {
          const unsigned i = gd->interface;
          if (i >= description_.interfaces.size())
            result = -EINVAL;
          else if (claimedBy_[i] != nullptr)
            std::strcpy(gd->driver, "usbfs");
          else if (driverBound_[i])
            std::strcpy(gd->driver, "plcdriver");
          else
            result = -ENODATA;
        }
        break;
      case USBDEVFS_IOCTL: result = DriverIoctl(client, arg); break;
      case USBDEVFS_SUBMITURB: result = Submit(client, arg); break;
      case USBDEVFS_REAPURBNDELAY: result = Reap(client, arg); break;
      case USBDEVFS_DISCARDURB: result = Discard(client, arg); break;
      case USBDEVFS_CLEAR_HALT: break;
      default: result = -ENOTTY;
    }
  }
  umockdev_ioctl_client_complete(client, result < 0 ? -1 : 0, result < 0 ? -result : 0);
  // A reaped URB's data is held until umockdev has copied it back.
  for (const Urb& u : reaped_) u.Unref();
  reaped_.clear();
  return TRUE;
}

int EmulatedUsbDevice::Claim(UMockdevIoctlClient* client, unsigned iface, bool detachDriver) {
  if (iface >= description_.interfaces.size()) return -ENOENT;
  UMockdevIoctlClient*& owner = claimedBy_[iface];
  if (owner == client) return 0;
  if (description_.heldElsewhere ||
      (owner != nullptr && umockdev_ioctl_client_get_connected(owner)))
    return -EBUSY;
  if (driverBound_[iface] && !detachDriver) return -EBUSY;
  driverBound_[iface] = false;
  if (owner != nullptr) g_object_unref(owner);
  owner = UMOCKDEV_IOCTL_CLIENT(g_object_ref(client));
  return 0;
}

int EmulatedUsbDevice::Release(UMockdevIoctlClient* client, unsigned iface) {
  if (iface >= description_.interfaces.size() || claimedBy_[iface] != client) return -EINVAL;
  g_object_unref(claimedBy_[iface]);
  claimedBy_[iface] = nullptr;
  return 0;
}

// Kernel-driver requests passed to an interface: unbind its driver, or bind it again.
int EmulatedUsbDevice::DriverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  auto* request = Resolve<usbdevfs_ioctl>(arg);
  if (request == nullptr) return -EFAULT;
  const auto i = static_cast<std::size_t>(request->ifno);
  if (i >= description_.interfaces.size()) return -EINVAL;
  const bool claimed =
      claimedBy_[i] != nullptr && umockdev_ioctl_client_get_connected(claimedBy_[i]);
  if (request->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
    if (claimed) return claimedBy_[i] == client ? -EINVAL : -EBUSY;
    if (!driverBound_[i]) return -ENODATA;
    driverBound_[i] = false;
    return 0;
  }
  if (request->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
    if (claimed) return -EBUSY;
    driverBound_[i] = description_.interfaces[i].kernelDriver;
    return 0;
  }
  return -ENOTTY;
}

int EmulatedUsbDevice::InterfaceOf(std::uint8_t endpoint) const {
  for (std::size_t i = 0; i < description_.interfaces.size(); ++i)
    for (const UsbEndpointSpec& ep : description_.interfaces[i].endpoints)
      if (ep.address == endpoint) return static_cast<int>(i);
  return -1;
}

int EmulatedUsbDevice::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  GError* error = nullptr;
  UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
  if (urbData == nullptr) return g_clear_error(&error), -EFAULT;
  const auto& fields = *reinterpret_cast<usbdevfs_urb*>(urbData->data);
  if (fields.type != USBDEVFS_URB_TYPE_BULK || fields.buffer_length < 0) return -EINVAL;
  const int iface = InterfaceOf(fields.endpoint);
  if (iface < 0) return -ENOENT;
  // As the kernel: an interface used without a claim is claimed on the way, if it is free.
  if (claimedBy_[static_cast<std::size_t>(iface)] != client) {
    const int claimed = Claim(client, static_cast<unsigned>(iface), false);
    if (claimed != 0) return claimed;
  }
  UMockdevIoctlData* buffer = nullptr;
  if (fields.buffer_length > 0) {
    buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                         static_cast<std::size_t>(fields.buffer_length), &error);
    if (buffer == nullptr) return g_clear_error(&error), -EFAULT;
  }
  Urb urb{UMOCKDEV_IOCTL_DATA(g_object_ref(urbData)),
          buffer != nullptr ? UMOCKDEV_IOCTL_DATA(g_object_ref(buffer)) : nullptr,
          UMOCKDEV_IOCTL_CLIENT(g_object_ref(client)), fields.endpoint};
  if ((fields.endpoint & 0x80) == 0) {
    if (fields.endpoint == description_.pipeOut && buffer != nullptr)
      function_.Receive({buffer->data, static_cast<std::size_t>(fields.buffer_length)});
    Complete(urb, 0, fields.buffer_length);
  } else {
    waiting_.push_back(urb);
  }
  ServeReads();
  return 0;
}

// The oldest waiting reads on the function's pipe take what it has to send, in packets: a read
// ends short when less is there, and a packet that does not fit the room left is a babble.
void EmulatedUsbDevice::ServeReads() {
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    if (it->endpoint != description_.pipeIn) {
      ++it;
      continue;
    }
    const std::size_t pending = function_.Pending();
    if (pending == 0) return;
    const auto room = static_cast<std::size_t>(it->Fields().buffer_length);
    const bool babble = pending > room && room % kMaxPacket != 0;
    const std::vector<std::uint8_t> data = function_.TakeOutput(std::min(pending, room));
    if (!data.empty()) std::memcpy(it->buffer->data, data.data(), data.size());
    // The rest of the packet that did not fit is lost on the bus.
    if (babble) function_.TakeOutput(kMaxPacket - room % kMaxPacket);
    Complete(*it, babble ? -EOVERFLOW : 0, static_cast<int>(data.size()));
    it = waiting_.erase(it);
  }
}

int EmulatedUsbDevice::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  const auto it = std::find_if(done_.begin(), done_.end(),
                               [client](const Urb& u) { return u.client == client; });
  if (it == done_.end()) return unplugged_ ? -ENODEV : -EAGAIN;
  const Urb urb = *it;
  done_.erase(it);
  UpdatePollOut();
  GError* error = nullptr;
  // `arg` points at the client's URB pointer: aim it at the URB, whose fields and buffer
  // umockdev then copies back into the client.
  reaped_.push_back(urb);
  UMockdevIoctlData* target = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &error);
  if (target == nullptr) return g_clear_error(&error), -EFAULT;
  umockdev_ioctl_data_set_ptr(target, 0, urb.urb);
  return 0;
}

int EmulatedUsbDevice::Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  // The argument is the client's URB address itself.
  unsigned long address = 0;
  std::memcpy(&address, arg->data,
              std::min(sizeof address, static_cast<std::size_t>(arg->data_len)));
  const auto it = std::find_if(waiting_.begin(), waiting_.end(), [&](const Urb& u) {
    return u.client == client && u.urb->client_addr == address;
  });
  // Completed already: the client reaps it as it is.
  if (it == waiting_.end()) return -EINVAL;
  const Urb urb = *it;
  waiting_.erase(it);
  Complete(urb, -ECONNRESET, 0);
  return 0;
}

void EmulatedUsbDevice::Complete(Urb urb, int status, int actual) {
  urb.Fields().status = status;
  urb.Fields().actual_length = actual;
  done_.push_back(urb);
  UpdatePollOut();
}

void EmulatedUsbDevice::DropUrbsOfClosedClients() {
  for (auto* queue : {&waiting_, &done_}) {
    for (auto it = queue->begin(); it != queue->end();) {
      if (umockdev_ioctl_client_get_connected(it->client)) {
        ++it;
      } else {
        it->Unref();
        it = queue->erase(it);
      }
    }
  }
  UpdatePollOut();
}

// The node polls writable only while a URB waits to be reaped (or the device is gone).
void EmulatedUsbDevice::UpdatePollOut() {
  const bool want = !done_.empty() || unplugged_;
  if (want == pollOut_) return;
  pollOut_ = want;
  tcflow(ptyControl_, want ? TCOON : TCOOFF);
}

FileAccessOverrideDropped::FileAccessOverrideDropped() {
  // The raw system calls act on the calling thread alone.
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return;
  const std::uint32_t override = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
  dropped_ = data[0].effective & override;
  data[0].effective &= ~override;
  if (dropped_ != 0 && syscall(SYS_capset, &header, data) != 0) dropped_ = 0;
}

FileAccessOverrideDropped::~FileAccessOverrideDropped() {
  if (dropped_ == 0) return;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return;
  data[0].effective |= dropped_;
  syscall(SYS_capset, &header, data);
}

}  // namespace plcburn
