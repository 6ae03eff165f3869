#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "link/serial_link.h"

namespace plcburn {

namespace {

// Windows-style total time-out in milliseconds. A zero total means "take what is waiting": no
// link may wait for ever, and the steps always set a non-zero constant anyway.
std::uint64_t TotalMs(std::uint32_t multiplier, std::uint32_t constant, std::size_t n) {
  return std::min<std::uint64_t>(std::uint64_t{multiplier} * n + constant, 0xFFFFFFFFu);
}

std::optional<speed_t> SpeedFor(std::uint32_t baud) {
  static constexpr struct {
    std::uint32_t baud;
    speed_t speed;
  } kSpeeds[] = {
      {50, B50},           {75, B75},           {110, B110},         {134, B134},
      {150, B150},         {200, B200},         {300, B300},         {600, B600},
      {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
      {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
      {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& s : kSpeeds) {
    if (s.baud == baud) return s.speed;
  }
  return std::nullopt;
}

std::optional<tcflag_t> SizeFlagFor(std::uint8_t byteSize) {
  switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    case 8: return CS8;
    default: return std::nullopt;
  }
}

// Many USB-serial adapters hold short replies back for 16 ms unless asked not to. True when the
// flag was off and is on now, so that closing can switch it off again.
bool RequestLowLatency(int fd) {
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0 || (ss.flags & ASYNC_LOW_LATENCY)) return false;
  ss.flags |= ASYNC_LOW_LATENCY;
  return ::ioctl(fd, TIOCSSERIAL, &ss) == 0;
}

void ClearLowLatency(int fd) {
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return;
  ss.flags &= ~ASYNC_LOW_LATENCY;
  (void)::ioctl(fd, TIOCSSERIAL, &ss);
}

// What the opener changed on a port, to be given back when it is closed.
struct FoundState {
  std::optional<termios> line;  // the settings before raw mode
  bool exclusive = false;       // TIOCEXCL set by us
  bool lowLatency = false;      // ASYNC_LOW_LATENCY set by us
};

// Leaves the port as it was found, whatever way the link ends: the next program (or the next
// burn without root) must be able to open it, at the settings it expects.
void ReleasePort(int fd, const FoundState& found) {
  if (found.line) (void)::tcsetattr(fd, TCSANOW, &*found.line);
  if (found.lowLatency) ClearLowLatency(fd);
  if (found.exclusive) (void)::ioctl(fd, TIOCNXCL);
  (void)::flock(fd, LOCK_UN);
  ::close(fd);
}

OpenResult Refuse(int err, const std::string& path) {
  return OpenResult{nullptr, OpenFailureReason(static_cast<std::uint32_t>(err), path)};
}

OpenResult Refuse(int fd, const FoundState& found, int err, const std::string& path) {
  ReleasePort(fd, found);
  return Refuse(err, path);
}

constexpr const char* kOwnTerminalReason =
    " is the terminal this program runs in: name the port the PLC is connected to";

// The controlling terminal's device number (field 7 of /proc/self/stat), 0 when there is none.
dev_t ControllingTerminal() {
  std::ifstream stat("/proc/self/stat");
  std::string line;
  std::getline(stat, line);
  // The command name in parentheses may hold blanks: the fields start after its last ')'.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  char state = 0;
  long ppid = 0, pgrp = 0, session = 0;
  unsigned long ttyNr = 0;
  if (std::sscanf(line.c_str() + close + 1, " %c %ld %ld %ld %lu", &state, &ppid, &pgrp, &session,
                  &ttyNr) != 5) {
    return 0;
  }
  return ttyNr == 0 ? 0 : makedev((ttyNr >> 8) & 0xFFF, (ttyNr & 0xFF) | ((ttyNr >> 12) & 0xFFF00));
}

// The operator's own terminal: frames written there garble the screen and raw mode stays behind.
// Decided from the device number alone, without opening anything.
bool IsOwnTerminal(const std::string& path) {
  struct stat port {};
  if (::stat(path.c_str(), &port) != 0 || !S_ISCHR(port.st_mode)) return false;
  if (port.st_rdev == makedev(5, 0)) return true;  // /dev/tty: whichever terminal is ours
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    struct stat stream {};
    if (::isatty(fd) && ::fstat(fd, &stream) == 0 && stream.st_rdev == port.st_rdev) return true;
  }
  const dev_t controlling = ControllingTerminal();
  return controlling != 0 && port.st_rdev == controlling;
}

class PosixSerialLink : public Link {
 public:
  // Takes ownership of both descriptors: the open port and an eventfd that Interrupt signals.
  // `found` is what closing gives back to the port.
  PosixSerialLink(int portFd, int wakeFd, FoundState found, LinkClock nowMs)
      : fd_(portFd),
        wakeFd_(wakeFd),
        found_(std::move(found)),
        nowMs_(nowMs ? std::move(nowMs) : SteadyClockMs) {}
  ~PosixSerialLink() override;
  PosixSerialLink(const PosixSerialLink&) = delete;
  PosixSerialLink& operator=(const PosixSerialLink&) = delete;

  std::size_t Write(const std::uint8_t* data, std::size_t n) override;
  std::size_t Read(std::uint8_t* buf, std::size_t n) override;
  bool SetTimeouts(const CommTimeouts& timeouts) override;
  bool ApplyLineProfile(const LineProfile& profile) override;
  void Close() override;
  void Interrupt() override;

 private:
  enum class Wait { Ready, HungUp, Stop };
  Wait WaitFor(short events, std::uint64_t deadline);
  bool DrainOutput();

  int fd_;
  const int wakeFd_;
  const FoundState found_;
  LinkClock nowMs_;
  std::atomic<bool> interrupted_{false};
  bool hungUp_ = false;
  CommTimeouts timeouts_{};
};

PosixSerialLink::~PosixSerialLink() {
  Close();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

PosixSerialLink::Wait PosixSerialLink::WaitFor(short events, std::uint64_t deadline) {
  for (;;) {
    if (interrupted_.load()) return Wait::Stop;
    const std::uint64_t now = nowMs_();
    if (now >= deadline) return Wait::Stop;
    pollfd fds[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
    const int r =
        ::poll(fds, 2, static_cast<int>(std::min<std::uint64_t>(deadline - now, INT_MAX)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return Wait::Stop;
    }
    if (fds[1].revents != 0) return Wait::Stop;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Wait::HungUp;
    if (fds[0].revents != 0) return Wait::Ready;
  }
}

std::size_t PosixSerialLink::Read(std::uint8_t* buf, std::size_t n) {
  if (fd_ < 0 || hungUp_ || interrupted_.load()) return 0;
  const std::uint64_t deadline = nowMs_() + TotalMs(timeouts_.ReadTotalTimeoutMultiplier,
                                                    timeouts_.ReadTotalTimeoutConstant, n);
  std::size_t got = 0;
  bool hangUpSeen = false;
  while (got < n) {
    const ssize_t r = ::read(fd_, buf + got, n - got);
    if (r > 0) {
      got += static_cast<std::size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    // VMIN is 1, so 0 is end of file: the tty was hung up. EIO: the pty's other side closed.
    if (r == 0 || errno != EAGAIN || hangUpSeen) {
      hungUp_ = true;
      break;
    }
    const Wait w = WaitFor(POLLIN, deadline);
    if (w == Wait::Stop) break;
    // Drain what is still buffered before giving up on a hung-up line.
    hangUpSeen = (w == Wait::HungUp);
  }
  return got;
}

std::size_t PosixSerialLink::Write(const std::uint8_t* data, std::size_t n) {
  if (fd_ < 0 || hungUp_ || interrupted_.load()) return 0;
  const std::uint64_t deadline = nowMs_() + TotalMs(timeouts_.WriteTotalTimeoutMultiplier,
                                                    timeouts_.WriteTotalTimeoutConstant, n);
  std::size_t sent = 0;
  while (sent < n) {
    const ssize_t r = ::write(fd_, data + sent, n - sent);
    if (r > 0) {
      sent += static_cast<std::size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r == 0 || errno != EAGAIN) {
      hungUp_ = true;
      break;
    }
    const Wait w = WaitFor(POLLOUT, deadline);
    if (w == Wait::Stop) break;
    if (w == Wait::HungUp) {
      hungUp_ = true;
      break;
    }
  }
  return sent;
}

bool PosixSerialLink::SetTimeouts(const CommTimeouts& timeouts) {
  timeouts_ = timeouts;
  return true;
}

// Waits until the bytes queued for the line have left, as tcdrain does, but no longer than a
// write may take and not past Interrupt: an adapter that never drains must not hold the burn.
bool PosixSerialLink::DrainOutput() {
  constexpr int kPollMs = 2;
  const std::uint64_t deadline = nowMs_() + TotalMs(timeouts_.WriteTotalTimeoutMultiplier,
                                                    timeouts_.WriteTotalTimeoutConstant, 0);
  for (;;) {
    int queued = 0;
    // Once the queue is empty only the UART's last characters remain, which tcdrain waits for.
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) {
      (void)::tcdrain(fd_);
      return true;
    }
    if (interrupted_.load() || nowMs_() >= deadline) return false;
    pollfd wake{wakeFd_, POLLIN, 0};
    (void)::poll(&wake, 1, kPollMs);
  }
}

bool PosixSerialLink::ApplyLineProfile(const LineProfile& profile) {
  if (fd_ < 0 || hungUp_ || interrupted_.load()) return false;
  // Bytes still queued must leave at the old speed; if they never leave, the line keeps its
  // profile and the step's exchange fails on its own.
  if (!DrainOutput()) return false;
  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0 || !SetLineFields(tio, profile)) return false;
  const bool applied = ::tcsetattr(fd_, TCSANOW, &tio) == 0;

  // A pty has no modem lines: failures here are expected and harmless.
  int off = (profile.dtrOn ? 0 : TIOCM_DTR) | (profile.rtsOn ? 0 : TIOCM_RTS);
  int on = (profile.dtrOn ? TIOCM_DTR : 0) | (profile.rtsOn ? TIOCM_RTS : 0);
  if (off != 0) (void)::ioctl(fd_, TIOCMBIC, &off);
  if (on != 0) (void)::ioctl(fd_, TIOCMBIS, &on);
  return applied;
}

void PosixSerialLink::Close() {
  if (fd_ < 0) return;
  ReleasePort(fd_, found_);
  fd_ = -1;
}

void PosixSerialLink::Interrupt() {
  interrupted_.store(true);
  // The counter is never read back, so the eventfd stays readable and every later poll wakes.
  const std::uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
}

}  // namespace

bool SetLineFields(termios& tio, const LineProfile& profile) {
  const auto speed = SpeedFor(profile.BaudRate);
  const auto size = SizeFlagFor(profile.ByteSize);
  if (!speed || !size) return false;
  cfsetispeed(&tio, *speed);
  cfsetospeed(&tio, *speed);
  tio.c_cflag = (tio.c_cflag & ~CSIZE) | *size;
  tio.c_cflag &= ~(PARENB | PARODD);
  if (profile.parity == Parity::Even) tio.c_cflag |= PARENB;
  if (profile.parity == Parity::Odd) tio.c_cflag |= PARENB | PARODD;
  // 0 is one stop bit; 1.5 does not exist here, so both other values mean two.
  if (profile.StopBits == 0) {
    tio.c_cflag &= ~CSTOPB;
  } else {
    tio.c_cflag |= CSTOPB;
  }
  return true;
}

std::string SerialDevicePath(const std::string& nameOrPath) {
  if (nameOrPath.find('/') != std::string::npos) return nameOrPath;
  return "/dev/" + nameOrPath;
}

OpenResult OpenSerialPort(const std::string& nameOrPath, LinkClock nowMs) {
  const std::string path = SerialDevicePath(nameOrPath);
  if (IsOwnTerminal(path)) return OpenResult{nullptr, path + kOwnTerminalReason};
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Refuse(errno, path);

  // TIOCEXCL does not stop root, the lock does; taking it before touching termios also leaves
  // the line state of a port that another program holds alone.
  FoundState found;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return Refuse(EBUSY, path);
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return Refuse(fd, found, ENOTTY, path);
  if (::ioctl(fd, TIOCEXCL) != 0) return Refuse(fd, found, errno, path);
  found.exclusive = true;
  found.line = tio;

  cfmakeraw(&tio);
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  // DTR and RTS are held off by the profiles, so a hardware handshake would stall every write.
  tio.c_cflag &= ~CRTSCTS;
  tio.c_cflag |= CLOCAL | CREAD;
  // VMIN 1 keeps "no data yet" (EAGAIN) apart from a hang-up (end of file).
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return Refuse(fd, found, errno, path);
  found.lowLatency = RequestLowLatency(fd);

  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) return Refuse(fd, found, errno, path);
  return OpenResult{std::make_unique<PosixSerialLink>(fd, wakeFd, found, std::move(nowMs)), {}};
}

std::string OpenFailureReason(std::uint32_t systemError, const std::string& path) {
  switch (static_cast<int>(systemError)) {
    case EACCES:
    case EPERM:
      return "No permission to open " + path +
             ": add your user to the 'dialout' group (sudo usermod -aG dialout $USER) and log "
             "in again";
    case EBUSY:
    case EWOULDBLOCK: return path + " is in use by another program: close it there and try again";
    case ENOTTY: return path + " is not a serial port";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return path + ": no such device: check the port name and that the adapter is plugged in";
    // Anything else (too many open files, say) in the system's words, with the number to search.
    default:
      return path + ": " + std::generic_category().message(static_cast<int>(systemError)) +
             " (error " + std::to_string(systemError) + ")";
  }
}

}  // namespace plcburn
