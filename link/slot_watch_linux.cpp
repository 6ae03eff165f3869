// The slots' devices on Linux: serial nodes are matched by glob and watched through inotify on
// their folder and udev's tty events, whichever comes first; USB PLCs through libusb's hotplug
// callbacks. Nothing is polled: an idle station sleeps in poll().

#include <fcntl.h>
#include <glob.h>
#include <libudev.h>
#include <libusb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "link/slot_watch.h"
#include "link/usb_boundary.h"
#include "link/usb_lookup.h"

namespace plcburn {

namespace {

constexpr std::string_view kUsbSlot = "USB";

bool HasGlob(std::string_view text) {
  return text.find_first_of("*?[") != std::string_view::npos;
}

std::string Folder(const std::string& slot) {
  return std::filesystem::path(slot).parent_path().string();
}

// The USB PLCs present, by port path, as libusb's hotplug callbacks report them.
class UsbPresence {
 public:
  explicit UsbPresence(int wakeFd) : wakeFd_(wakeFd) {
    if (libusb_init(&ctx_) != LIBUSB_SUCCESS) {
      ctx_ = nullptr;
      return;
    }
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return;
    const int vendor = 0x7e3a;
    const int product = 0x0001;
    if (libusb_hotplug_register_callback(
            ctx_,
            static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                              LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            LIBUSB_HOTPLUG_ENUMERATE, vendor, product, LIBUSB_HOTPLUG_MATCH_ANY,
            &UsbPresence::OnHotplug, this, &callback_) != LIBUSB_SUCCESS)
      return;
    hotplug_ = true;
    events_ = std::thread([this] {
      while (running_) libusb_handle_events_completed(ctx_, nullptr);
    });
  }
  ~UsbPresence() {
    if (hotplug_) {
      running_ = false;
      libusb_hotplug_deregister_callback(ctx_, callback_);
      libusb_interrupt_event_handler(ctx_);
      events_.join();
    }
    if (ctx_ != nullptr) libusb_exit(ctx_);
  }
  // Without hotplug the station looks again every second.
  bool Hotplug() const { return hotplug_; }

  std::set<std::string> Ports() {
    if (!hotplug_) return Listed();
    std::lock_guard lock(mutex_);
    return ports_;
  }

 private:
  static int OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                       void* self) {
    auto* me = static_cast<UsbPresence*>(self);
    const std::string port = PortOf(device);
    {
      std::lock_guard lock(me->mutex_);
      if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
        me->ports_.insert(port);
      } else {
        me->ports_.erase(port);
      }
    }
    const std::uint64_t one = 1;
    (void)!write(me->wakeFd_, &one, sizeof one);
    return 0;
  }

  static std::string PortOf(libusb_device* device) {
    std::uint8_t ports[8];
    const int count = libusb_get_port_numbers(device, ports, sizeof ports);
    return UsbPortPathName(libusb_get_bus_number(device), ports, count < 0 ? 0 : count);
  }

  std::set<std::string> Listed() {
    std::set<std::string> found;
    if (ctx_ == nullptr) return found;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(ctx_, &list);
    for (ssize_t i = 0; i < count; ++i) {
      libusb_device_descriptor desc{};
      if (libusb_get_device_descriptor(list[i], &desc) == LIBUSB_SUCCESS &&
          MatchesUsbMarker(desc.idVendor, desc.idProduct))
        found.insert(PortOf(list[i]));
    }
    if (list != nullptr) libusb_free_device_list(list, 1);
    return found;
  }

  const int wakeFd_;
  libusb_context* ctx_ = nullptr;
  libusb_hotplug_callback_handle callback_ = 0;
  bool hotplug_ = false;
  std::atomic<bool> running_{true};
  std::thread events_;
  std::mutex mutex_;
  std::set<std::string> ports_;
};

class LinuxSlotWatch final : public SlotWatch {
 public:
  explicit LinuxSlotWatch(std::vector<std::string> slots) : slots_(std::move(slots)) {}
  ~LinuxSlotWatch() override {
    usb_.reset();
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (udev_ != nullptr) udev_unref(udev_);
    for (int fd : {inotifyFd_, wakeFd_})
      if (fd >= 0) close(fd);
  }

  bool Open(std::string* error) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    inotifyFd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (wakeFd_ < 0 || inotifyFd_ < 0) {
      *error = std::string("cannot watch for devices: ") + std::strerror(errno);
      return false;
    }
    bool serial = false;
    for (const std::string& slot : slots_) {
      if (slot == kUsbSlot) {
        if (!usb_) usb_ = std::make_unique<UsbPresence>(wakeFd_);
      } else {
        serial = true;
      }
    }
    // udev is a second source for serial nodes; without it inotify alone serves.
    if (serial && (udev_ = udev_new()) != nullptr &&
        (monitor_ = udev_monitor_new_from_netlink(udev_, "udev")) != nullptr) {
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr);
      if (udev_monitor_enable_receiving(monitor_) < 0) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
      }
    }
    ArmFolders();
    return true;
  }

  std::vector<SlotDevice> Present() override {
    ArmFolders();  // a folder that has just appeared is watched from now on
    std::vector<SlotDevice> found;
    std::set<std::string> usbPorts;
    if (usb_) usbPorts = usb_->Ports();
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i] == kUsbSlot) {
        for (const std::string& port : usbPorts) found.push_back({i, port, port, true});
        continue;
      }
      glob_t matches{};
      if (glob(slots_[i].c_str(), 0, nullptr, &matches) == 0) {
        for (std::size_t m = 0; m < matches.gl_pathc; ++m) {
          const char* path = matches.gl_pathv[m];
          struct stat st {};
          char real[PATH_MAX];
          if (stat(path, &st) != 0 || !S_ISCHR(st.st_mode) || realpath(path, real) == nullptr)
            continue;
          found.push_back({i, real, path, false});
        }
      }
      globfree(&matches);
    }
    return found;
  }

  void WaitForChange(std::chrono::milliseconds timeout) override {
    pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}, {-1, POLLIN, 0}};
    if (monitor_ != nullptr) fds[2].fd = udev_monitor_get_fd(monitor_);
    // Without hotplug, the USB PLCs are looked for once a second.
    if (usb_ && !usb_->Hotplug()) timeout = std::min(timeout, std::chrono::milliseconds(1000));
    if (poll(fds, 3, static_cast<int>(timeout.count())) <= 0) return;
    std::uint64_t count = 0;
    if ((fds[0].revents & POLLIN) != 0) (void)!read(wakeFd_, &count, sizeof count);
    if ((fds[1].revents & POLLIN) != 0) {
      alignas(inotify_event) char buf[4096];
      while (read(inotifyFd_, buf, sizeof buf) > 0) {
      }
    }
    if ((fds[2].revents & POLLIN) != 0) {
      while (udev_device* device = udev_monitor_receive_device(monitor_)) udev_device_unref(device);
    }
  }

  void Wake() override {
    const std::uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
  }

 private:
  // Each serial slot's folder, or while it is not there, the nearest folder above it that is:
  // udev makes /dev/serial/by-path only when the first adapter comes.
  void ArmFolders() {
    for (const std::string& slot : slots_) {
      if (slot == kUsbSlot) continue;
      std::filesystem::path folder = Folder(slot);
      std::error_code ec;
      while (!folder.empty() && !std::filesystem::is_directory(folder, ec))
        folder = folder.parent_path();
      if (folder.empty() || !armed_.insert(folder.string()).second) continue;
      inotify_add_watch(inotifyFd_, folder.c_str(),
                        IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB);
    }
  }

  const std::vector<std::string> slots_;
  int wakeFd_ = -1;
  int inotifyFd_ = -1;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  std::unique_ptr<UsbPresence> usb_;
  std::set<std::string> armed_;
};

}  // namespace

std::string SlotProblem(const std::string& slot) {
  if (slot == kUsbSlot) return {};
  if (slot.empty() || slot.front() != '/')
    return "slot " + slot + ": give an absolute path or glob of device nodes, or USB";
  const std::string name = std::filesystem::path(slot).filename().string();
  if (name.empty()) return "slot " + slot + ": names a folder, not device nodes";
  const std::string folder = Folder(slot);
  if (HasGlob(folder)) return "slot " + slot + ": only the last part of a slot may be a pattern";
  std::error_code ec;
  // udev makes folders under /dev as devices come; nothing makes others.
  if (!std::filesystem::is_directory(folder, ec) && !folder.starts_with("/dev/"))
    return "slot " + slot + ": folder " + folder + " does not exist";
  return {};
}

std::unique_ptr<SlotWatch> MakeSystemSlotWatch(const std::vector<std::string>& slots,
                                               std::string* error) {
  auto watch = std::make_unique<LinuxSlotWatch>(slots);
  if (!watch->Open(error)) return nullptr;
  return watch;
}

}  // namespace plcburn
