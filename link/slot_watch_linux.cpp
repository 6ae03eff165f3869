// The slots' devices on Linux: serial nodes are matched by glob and watched through inotify on
// their folder and udev's tty events, whichever comes first; USB PLCs through libusb's hotplug
// callbacks. Nothing is polled: an idle station sleeps in poll(). Each device carries what tells
// one plug of it from the next, so a node reused between two looks is seen as a new device.

#include <fcntl.h>
#include <glob.h>
#include <libudev.h>
#include <libusb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>

#include "core/port_name.h"
#include "link/slot_watch.h"
#include "link/usb_boundary.h"
#include "link/usb_lookup.h"

namespace plcburn {

namespace {

constexpr std::string_view kUsbSlot = kUsbPort;

bool HasGlob(std::string_view text) {
  return text.find_first_of("*?[") != std::string_view::npos;
}

std::string Folder(const std::string& slot) {
  return std::filesystem::path(slot).parent_path().string();
}

// The USB PLCs present: each port path with the device number of what is plugged there now, as
// libusb's hotplug callbacks report them. A PLC unplugged and plugged again between two looks
// comes back with a new device number.
class UsbPresence {
 public:
  explicit UsbPresence(int wakeFd) : wakeFd_(wakeFd) {
    if (libusb_init(&ctx_) != LIBUSB_SUCCESS) {
      ctx_ = nullptr;
      return;
    }
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return;
    if (libusb_hotplug_register_callback(
            ctx_,
            static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                              LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            LIBUSB_HOTPLUG_ENUMERATE, kUsbVendor, kUsbProduct, LIBUSB_HOTPLUG_MATCH_ANY,
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

  // Port path -> device number.
  std::map<std::string, int> Ports() {
    if (!hotplug_) return Listed();
    std::lock_guard lock(mutex_);
    return ports_;
  }

 private:
  static int OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                       void* self) {
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

  static std::string PortOf(libusb_device* device) {
    std::uint8_t ports[8];
    const int count = libusb_get_port_numbers(device, ports, sizeof ports);
    return UsbPortPathName(libusb_get_bus_number(device), ports, count < 0 ? 0 : count);
  }

  std::map<std::string, int> Listed() {
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

  const int wakeFd_;
  libusb_context* ctx_ = nullptr;
  libusb_hotplug_callback_handle callback_ = 0;
  bool hotplug_ = false;
  std::atomic<bool> running_{true};
  std::thread events_;
  std::mutex mutex_;
  std::map<std::string, int> ports_;
};

std::string_view FileKind(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISBLK(mode)) return "a block device";
  return "no device node";
}

// The kernel's subsystem of a character device ("tty", "mem", ...), or empty where sysfs does not
// list it (a pseudo-terminal's slave side).
std::string CharSubsystem(dev_t rdev) {
  const std::string link = "/sys/dev/char/" + std::to_string(major(rdev)) + ":" +
                           std::to_string(minor(rdev)) + "/subsystem";
  char target[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  return std::filesystem::path(std::string(target, static_cast<std::size_t>(n)))
      .filename()
      .string();
}

// Serial lines are tty devices; pseudo-terminals (majors 136 to 143) are too, though sysfs does
// not list them.
bool IsSerialNode(dev_t rdev) {
  const std::string subsystem = CharSubsystem(rdev);
  if (!subsystem.empty()) return subsystem == "tty";
  return major(rdev) >= 136 && major(rdev) <= 143;
}

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
    // udev is a second source for serial nodes, and the one that tells when a node is ready;
    // without it inotify alone serves.
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

  SlotLook Look() override {
    ArmFolders();  // a folder that has just appeared is watched from now on
    SlotLook look;
    std::map<std::string, int> usbPorts;
    if (usb_) usbPorts = usb_->Ports();
    const bool udevRuns = udev_ != nullptr && access("/run/udev/control", F_OK) == 0;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i] == kUsbSlot) {
        for (const auto& [port, number] : usbPorts)
          look.devices.push_back({i, port, port, std::to_string(number), true});
        continue;
      }
      glob_t matches{};
      if (glob(slots_[i].c_str(), 0, nullptr, &matches) == 0) {
        for (std::size_t m = 0; m < matches.gl_pathc; ++m)
          LookAt(i, matches.gl_pathv[m], udevRuns, look);
      }
      globfree(&matches);
    }
    return look;
  }

  void WaitForChange(std::chrono::milliseconds timeout) override {
    pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}, {-1, POLLIN, 0}};
    if (monitor_ != nullptr) fds[2].fd = udev_monitor_get_fd(monitor_);
    // Without hotplug, the USB PLCs are looked for once a second.
    if (usb_ && !usb_->Hotplug()) timeout = std::min(timeout, std::chrono::milliseconds(1000));
    if (poll(fds, 3, static_cast<int>(timeout.count())) <= 0) return;
    std::uint64_t count = 0;
    if ((fds[0].revents & POLLIN) != 0) (void)!read(wakeFd_, &count, sizeof count);
    if ((fds[1].revents & POLLIN) != 0) ReadFolderEvents();
    if ((fds[2].revents & POLLIN) != 0) {
      while (udev_device* device = udev_monitor_receive_device(monitor_)) udev_device_unref(device);
    }
  }

  void Wake() override {
    const std::uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
  }

 private:
  // One entry that matches a slot: a serial device, something that can never be one, or a node
  // that is not ready yet (a dangling link, a node udev has not set up).
  void LookAt(std::size_t slot, const char* path, bool udevRuns, SlotLook& look) {
    struct stat st {};
    char real[PATH_MAX];
    if (stat(path, &st) != 0 || realpath(path, real) == nullptr) return;
    if (!S_ISCHR(st.st_mode)) {
      look.misfits.push_back(
          {slot, path, "not a serial device: " + std::string(FileKind(st.st_mode))});
      return;
    }
    if (!IsSerialNode(st.st_rdev)) {
      const std::string subsystem = CharSubsystem(st.st_rdev);
      look.misfits.push_back(
          {slot, path,
           "not a serial device: a character device of " +
               (subsystem.empty() ? "major " + std::to_string(major(st.st_rdev)) : subsystem)});
      return;
    }
    const std::string number =
        std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    std::string instance;
    if (udevRuns) {
      // udev's own identity of this plug; a node it has not set up yet is not ready to open.
      if (udev_device* d = udev_device_new_from_devnum(udev_, 'c', st.st_rdev)) {
        const bool ready = udev_device_get_is_initialized(d) != 0;
        const char* since = udev_device_get_property_value(d, "USEC_INITIALIZED");
        if (ready && since != nullptr) instance = number + "@" + since;
        udev_device_unref(d);
        if (!ready) return;
      }
    }
    // Where udev does not know the node, a new node has a new inode or, for a reused
    // pseudo-terminal number, a new change time.
    if (instance.empty())
      instance = number + "#" + std::to_string(st.st_ino) + "." +
                 std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
    struct stat entry {};
    std::int64_t made = 0;
    if (lstat(path, &entry) == 0)
      made = std::int64_t{entry.st_ctim.tv_sec} * 1000000000 + entry.st_ctim.tv_nsec;
    look.devices.push_back({slot, real, path, instance, false, made});
  }

  // Each serial slot's folder, or while it is not there, the nearest folder above it that is:
  // udev makes /dev/serial/by-path only when the first adapter comes, and deletes it when the
  // last one goes.
  void ArmFolders() {
    for (const std::string& slot : slots_) {
      if (slot == kUsbSlot) continue;
      std::filesystem::path folder = Folder(slot);
      std::error_code ec;
      while (!folder.empty() && !std::filesystem::is_directory(folder, ec))
        folder = folder.parent_path();
      if (folder.empty() || armed_.count(folder.string()) != 0) continue;
      const int wd = inotify_add_watch(inotifyFd_, folder.c_str(),
                                       IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                                           IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF);
      if (wd < 0) continue;
      armed_[folder.string()] = wd;
    }
  }

  // A folder that went away takes its watch with it: it is armed again at the next look.
  void ReadFolderEvents() {
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = read(inotifyFd_, buf, sizeof buf)) > 0) {
      for (char* at = buf; at < buf + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if ((event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
          std::erase_if(armed_, [&](const auto& folder) { return folder.second == event->wd; });
          if ((event->mask & IN_IGNORED) == 0) inotify_rm_watch(inotifyFd_, event->wd);
        }
        at += sizeof(inotify_event) + event->len;
      }
    }
  }

  const std::vector<std::string> slots_;
  int wakeFd_ = -1;
  int inotifyFd_ = -1;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  std::unique_ptr<UsbPresence> usb_;
  std::map<std::string, int> armed_;  // folder -> its watch
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
