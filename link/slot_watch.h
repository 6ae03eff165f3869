#pragma once
// The sockets of a burning station ("slots") and the devices plugged into them now. A slot is
// "USB" (the PLC's own USB interface, each PLC named by the port it is plugged into) or an
// absolute path or glob of serial device nodes.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace plcburn {

struct SlotDevice {
  std::size_t slot = 0;  // which slot, as given
  std::string key;       // the device itself: the same through every slot that reaches it
  std::string port;      // what a burn opens: the node's path, or the USB port path "usb:1-1.2"
  bool usb = false;
};

// Why a slot can never match a device (a usage error), or empty when it is usable. A slot that
// matches nothing yet is usable: the station waits for it.
std::string SlotProblem(const std::string& slot);

class SlotWatch {
 public:
  virtual ~SlotWatch() = default;
  // The devices present now, in the order of the slots.
  virtual std::vector<SlotDevice> Present() = 0;
  // Blocks until the devices may have changed, Wake is called, or `timeout` has passed.
  virtual void WaitForChange(std::chrono::milliseconds timeout) = 0;
  // Ends a WaitForChange at once; safe from any thread.
  virtual void Wake() = 0;
};

// Watches the system's device events for the slots; null with `error` set when it cannot.
std::unique_ptr<SlotWatch> MakeSystemSlotWatch(const std::vector<std::string>& slots,
                                               std::string* error);

}  // namespace plcburn
