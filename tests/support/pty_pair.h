#pragma once
// A pseudo-terminal pair for tests: the code under test opens SlavePath() as its serial port,
// the test plays the far end on the master. Closing the master hangs the slave up, as an
// unplugged USB adapter would.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace plcburn::test {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
      Fail("posix_openpt");
    }
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) Fail("ptsname_r");
    slavePath_ = name;
    termios tio{};
    if (::tcgetattr(master_, &tio) != 0) Fail("tcgetattr");
    cfmakeraw(&tio);
    if (::tcsetattr(master_, TCSANOW, &tio) != 0) Fail("tcsetattr");
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  // The line state the slave side has now (a pty keeps one termios, reachable from the master).
  termios SlaveTermios() const {
    termios tio{};
    if (::tcgetattr(master_, &tio) != 0) Fail("tcgetattr");
    return tio;
  }
  // Undo raw mode (echo, CR/LF mapping, XON/XOFF, canonical input) to prove that an opener
  // sets raw mode itself.
  void MakeCooked() {
    termios tio = SlaveTermios();
    tio.c_iflag |= ICRNL | IXON;
    tio.c_oflag |= OPOST | ONLCR;
    tio.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
    if (::tcsetattr(master_, TCSANOW, &tio) != 0) Fail("tcsetattr");
  }

  // Sends bytes to the slave side as the far end; false if not all could be written in time.
  bool Send(const std::vector<std::uint8_t>& bytes, int timeoutMs = 1000) {
    std::size_t sent = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (sent < bytes.size()) {
      const ssize_t r = ::write(master_, bytes.data() + sent, bytes.size() - sent);
      if (r > 0) {
        sent += static_cast<std::size_t>(r);
      } else if (r < 0 && errno != EAGAIN && errno != EINTR) {
        return false;
      } else if (!WaitUntil(POLLOUT, deadline)) {
        return false;
      }
    }
    return true;
  }
  bool Send(const std::string& text) {
    return Send(std::vector<std::uint8_t>(text.begin(), text.end()));
  }

  // What the slave side sent: up to `n` bytes, waiting at most `timeoutMs` for them.
  std::vector<std::uint8_t> Receive(std::size_t n, int timeoutMs = 1000) {
    std::vector<std::uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint8_t buf[4096];
    while (got.size() < n) {
      const std::size_t want = std::min(sizeof buf, n - got.size());
      const ssize_t r = ::read(master_, buf, want);
      if (r > 0) {
        got.insert(got.end(), buf, buf + r);
      } else if (r < 0 && errno != EAGAIN && errno != EINTR) {
        break;  // EIO: no slave side open any more
      } else if (!WaitUntil(POLLIN, deadline)) {
        break;
      }
    }
    return got;
  }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  [[noreturn]] static void Fail(const char* what) {
    throw std::runtime_error(std::string("pty: ") + what + " failed");
  }

  bool WaitUntil(short events, std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{master_, events, 0};
    // On a hang-up the next read or write reports EIO, which ends the caller's loop.
    return ::poll(&pfd, 1, static_cast<int>(left.count())) > 0;
  }

  int master_ = -1;
  std::string slavePath_;
};

}  // namespace plcburn::test
