#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>

#include "link/evdev_scanner.h"
#include "link/scanner_keys.h"

namespace plcburn {

namespace {

class LinuxEvdevScanner final : public EvdevScanner {
 public:
  LinuxEvdevScanner(int fd, libevdev* device, int stopFd, OnLine onLine)
      : fd_(fd), device_(device), stopFd_(stopFd), onLine_(std::move(onLine)) {
    reader_ = std::thread([this] { Read(); });
  }
  ~LinuxEvdevScanner() override {
    const std::uint64_t one = 1;
    (void)!write(stopFd_, &one, sizeof one);
    reader_.join();
    libevdev_grab(device_, LIBEVDEV_UNGRAB);
    libevdev_free(device_);
    close(fd_);
    close(stopFd_);
  }

 private:
  void Read() {
    ScannerKeys keys;
    for (;;) {
      pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if ((fds[1].revents & POLLIN) != 0) return;
      if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) return;  // the scanner was unplugged
      input_event event{};
      int rc;
      while ((rc = libevdev_next_event(device_, LIBEVDEV_READ_FLAG_NORMAL, &event)) >= 0) {
        if (rc == LIBEVDEV_READ_STATUS_SYNC) continue;
        if (event.type != EV_KEY || event.value == 2) continue;  // 2: a key held down repeats
        if (auto line = keys.Key(event.code, event.value == 1)) onLine_(*line);
      }
      if (rc != -EAGAIN) return;
    }
  }

  const int fd_;
  libevdev* const device_;
  const int stopFd_;
  const OnLine onLine_;
  std::thread reader_;
};

}  // namespace

std::unique_ptr<EvdevScanner> EvdevScanner::Open(const std::string& path, OnLine onLine,
                                                 std::string* error) {
  error->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open the scanner " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  libevdev* device = nullptr;
  int rc = libevdev_new_from_fd(fd, &device);
  if (rc < 0) {
    *error = "the scanner " + path + " is no input device: " + std::strerror(-rc);
    close(fd);
    return nullptr;
  }
  if (!libevdev_has_event_type(device, EV_KEY)) {
    *error = "the scanner " + path + " has no keys";
  } else if ((rc = libevdev_grab(device, LIBEVDEV_GRAB)) < 0) {
    *error = "cannot take the scanner " + path + " for this program alone: " + std::strerror(-rc);
  }
  const int stopFd = error->empty() ? eventfd(0, EFD_CLOEXEC) : -1;
  if (!error->empty() || stopFd < 0) {
    if (error->empty()) *error = std::string("cannot watch the scanner: ") + std::strerror(errno);
    libevdev_free(device);
    close(fd);
    return nullptr;
  }
  return std::make_unique<LinuxEvdevScanner>(fd, device, stopFd, std::move(onLine));
}

}  // namespace plcburn
