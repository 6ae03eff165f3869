#pragma once
// A byte link to one PLC: a serial port, the PLC's USB interface, or a simulator.
//
// Contract the protocol steps rely on: Write moves the bytes or reports how many it moved within
// the write time-out; Read waits until exactly n bytes came or the read time-out passed and
// returns how many came (possibly 0). Results of SetTimeouts and ApplyLineProfile are never
// examined by callers: a link that cannot honour them carries on as it is.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace plcburn {

// Milliseconds on a clock that never goes back; the links take their deadlines from it, so tests
// can move time without waiting. An empty one means the steady clock.
using LinkClock = std::function<std::uint64_t()>;
std::uint64_t SteadyClockMs();

// The five time-out fields a step sets before its first write, in milliseconds.
struct CommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};

// The time-outs every protocol step applies: reads and writes bounded by `ms` as a whole.
constexpr CommTimeouts StepTimeouts(std::uint32_t ms) {
  return CommTimeouts{0xFFFFFFFFu, 0, ms, 0, ms};
}

enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2 };

struct LineProfile {
  std::uint32_t BaudRate;
  std::uint8_t ByteSize;
  Parity parity;
  std::uint8_t StopBits;  // 0: one stop bit
  bool dtrOn;
  bool rtsOn;
  bool operator==(const LineProfile&) const = default;
};

// Application firmware: 9600 baud 7E1. Boot loader after "UPDATE": 115200 8N1. DTR, RTS off.
inline constexpr LineProfile kAppProfile{9600, 7, Parity::Even, 0, false, false};
inline constexpr LineProfile kBootProfile{115200, 8, Parity::None, 0, false, false};

class Link {
 public:
  virtual ~Link() = default;

  virtual std::size_t Write(const std::uint8_t* data, std::size_t n) = 0;
  virtual std::size_t Read(std::uint8_t* buf, std::size_t n) = 0;
  virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;
  virtual bool ApplyLineProfile(const LineProfile& profile) = 0;
  virtual void Close() = 0;
  // Safe from any thread: the read or write in progress and every later one return at once with
  // what they have. Used when the program quits during a burn.
  virtual void Interrupt() {}
};

// What opening a link yields: the link, or none with an optional reason worth showing the
// operator (permissions, a port held by another program).
struct OpenResult {
  std::unique_ptr<Link> link;
  std::string reason;
};

// How a burn opens (and reopens) the link of the selected model. Front ends provide it.
class LinkOpener {
 public:
  virtual ~LinkOpener() = default;
  virtual OpenResult OpenCom(const std::string& portName) = 0;
  virtual OpenResult OpenUsb() = 0;
};

}  // namespace plcburn
