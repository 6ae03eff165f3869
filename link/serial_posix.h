#pragma once
// A COM link on Linux: a tty device driven with termios and poll.

#include <termios.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/link.h"

namespace plcburn {

class PosixSerialLink : public Link {
 public:
  // Takes ownership of both descriptors: the open port and an eventfd that Interrupt signals.
  PosixSerialLink(int portFd, int wakeFd);
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
  Wait WaitFor(short events, std::chrono::steady_clock::time_point deadline);

  int fd_;
  const int wakeFd_;
  std::atomic<bool> interrupted_{false};
  bool hungUp_ = false;
  CommTimeouts timeouts_{};
};

// "ttyUSB0" names /dev/ttyUSB0; anything holding a '/' is a path and is taken as given.
std::string PortPath(const std::string& nameOrPath);

// Opens the port exclusively in raw mode. No line profile or time-out is applied yet.
OpenResult OpenSerialPort(const std::string& nameOrPath);

// Writes the profile's speed, data bits, parity and stop bits into `tio`, leaving the rest as it
// is; false (and `tio` untouched) for a speed or size the line cannot take.
bool SetLineFields(termios& tio, const LineProfile& profile);

// The hint shown under the open failure for errno `err`, or "" when there is nothing to add.
std::string OpenFailureReason(int err, const std::string& path);

}  // namespace plcburn
