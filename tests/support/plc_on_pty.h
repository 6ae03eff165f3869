#pragma once
// A simulated PLC served on a pseudo-terminal by a thread of the test, for the CLI's tests.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/catalogue.h"
#include "sim/plc_sim.h"
#include "tests/support/cli_run.h"
#include "tests/support/pty_pair.h"

namespace plcburn::test {

// A simulated PLC behind a pseudo-terminal, served by a thread of the test. Once `holdWhen` is
// true it stops answering, so the burner waits in the middle of a step. Every byte the burner
// wrote is kept. The test holds the port open itself, as the far end's program would, to see the
// flags and settings that the burner leaves on it.
class PlcOnPty {
 public:
  using HoldWhen = std::function<bool(const PlcSim&)>;

  explicit PlcOnPty(std::string_view model, bool bootLoader = false, HoldWhen holdWhen = {})
      : sim_(*FindModel(model), Options(bootLoader)), holdWhen_(std::move(holdWhen)) {
    pty_.MakeCooked();  // settings no burner would leave behind
    watcher_ = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (watcher_ < 0) throw std::runtime_error("cannot open the pty's slave");
    found_ = pty_.SlaveTermios();
    server_ = std::thread([this] { Serve(); });
  }
  ~PlcOnPty() {
    quit_ = true;
    server_.join();
    ::close(watcher_);
  }

  const std::string& Path() const { return pty_.SlavePath(); }
  bool WaitHeld() {
    return WaitUntil(std::chrono::milliseconds(20000), [&] { return held_.load(); });
  }
  std::vector<std::uint8_t> Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::vector<std::uint8_t> Image() {
    std::lock_guard lock(mutex_);
    return sim_.ReceivedImage();
  }
  SimCounters Counters() {
    std::lock_guard lock(mutex_);
    return sim_.Counters();
  }
  bool TransferComplete() {
    std::lock_guard lock(mutex_);
    return sim_.TransferComplete();
  }

  // The port as the burner leaves it: not exclusive, not locked, at the settings found.
  void ExpectGivenBack(const std::string& when) const {
    int exclusive = -1;
    ASSERT_EQ(::ioctl(watcher_, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << when << ": the port is left exclusive";
    EXPECT_EQ(::flock(watcher_, LOCK_EX | LOCK_NB), 0) << when << ": the port is left locked";
    ::flock(watcher_, LOCK_UN);
    const termios now = pty_.SlaveTermios();
    EXPECT_EQ(now.c_lflag, found_.c_lflag) << when << ": the line settings are not given back";
    EXPECT_EQ(now.c_iflag, found_.c_iflag) << when << ": the line settings are not given back";
  }

 private:
  static SimOptions Options(bool bootLoader) {
    SimOptions options;
    options.startInBootLoader = bootLoader;
    return options;
  }

  void Serve() {
    std::uint8_t buf[4096];
    while (!quit_) {
      pollfd p{pty_.MasterFd(), POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
      const ssize_t n = ::read(pty_.MasterFd(), buf, sizeof buf);
      if (n <= 0) continue;
      std::vector<std::uint8_t> reply;
      {
        std::lock_guard lock(mutex_);
        received_.insert(received_.end(), buf, buf + n);
        if (held_) continue;
        sim_.Receive(buf, static_cast<std::size_t>(n));
        reply = sim_.TakeOutput(sim_.Pending());
        if (holdWhen_ && holdWhen_(sim_)) held_ = true;
      }
      (void)!::write(pty_.MasterFd(), reply.data(), reply.size());
    }
  }

  test::PtyPair pty_;
  int watcher_ = -1;
  termios found_{};
  std::mutex mutex_;
  PlcSim sim_;
  HoldWhen holdWhen_;
  std::vector<std::uint8_t> received_;
  std::atomic<bool> held_{false};
  std::atomic<bool> quit_{false};
  std::thread server_;
};

}  // namespace plcburn::test
