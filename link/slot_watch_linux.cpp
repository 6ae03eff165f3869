// The slots' devices on Linux: serial nodes are matched by glob and watched through inotify on
// their folder and udev's tty events, whichever comes first; USB PLCs through libusb's hotplug
// callbacks. Nothing is polled: an idle station sleeps in poll(). Each device carries what tells
// one plug of it from the next, so a node reused between two looks is seen as a new device.

#include <fcntl.h>
#include <glob.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>

#include "core/port_name.h"
#include "link/serial_entry_linux.h"
#include "link/slot_paths.h"
#include "link/slot_watch.h"
#include "link/usb_presence_linux.h"

namespace plcburn {

namespace {

constexpr std::string_view kUsbSlot = kUsbPort;

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
          LookAtSerialEntry(i, matches.gl_pathv[m], udev_, udevRuns, look);
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
  // Each serial slot's folder, or while it is not there, the nearest folder above it that is:
  // udev makes /dev/serial/by-path only when the first adapter comes, and deletes it when the
  // last one goes.
  void ArmFolders() {
    for (const std::string& slot : slots_) {
      if (slot == kUsbSlot) continue;
      std::filesystem::path folder = SlotFolder(slot);
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

std::unique_ptr<SlotWatch> MakeSystemSlotWatch(const std::vector<std::string>& slots,
                                               std::string* error) {
  auto watch = std::make_unique<LinuxSlotWatch>(slots);
  if (!watch->Open(error)) return nullptr;
  return watch;
}

}  // namespace plcburn
