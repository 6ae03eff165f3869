#pragma once
// The sockets of a burning station ("slots") and the devices plugged into them now. A slot is
// "USB" (the PLC's own USB interface, each PLC named by the port it is plugged into) or an
// absolute path or glob of serial device nodes. A slot is what the operator names; a device is
// what is plugged into it; a port is the path a burn opens to reach it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/catalogue.h"

namespace plcburn {

struct SlotDevice {
  std::size_t slot = 0;  // which slot, as given
  // Where the device is: the same through every slot that reaches it (a serial node's real
  // path, or the USB port path "usb:1-1.2"), and stable across a USB PLC's re-plug.
  std::string device;
  std::string port;  // what a burn opens: the node's path as matched, or the USB port path
  // Which plug of the device this is; it changes when the device is unplugged and plugged again,
  // even between two looks: a serial node's device number with the identity udev gave it (or its
  // inode and change time where udev does not know it), a USB PLC's device number on its bus.
  std::string instance;
  bool usb = false;
  // When the matched entry was made (a link's or a node's change time, in nanoseconds): of the
  // entries that reach one device, the newest names it.
  std::int64_t entryMadeNs = 0;
};

// An entry that matches a slot but can never be burned: a regular file, a FIFO, a folder, a
// device that is no serial line. It is never opened.
struct SlotMisfit {
  std::size_t slot = 0;
  std::string path;
  std::string why;
};

struct SlotLook {
  std::vector<SlotDevice> devices;  // in the order of the slots
  std::vector<SlotMisfit> misfits;
};

// Why a slot can never match a device (a usage error), or empty when it is usable. A slot that
// matches nothing yet is usable: the station waits for it.
std::string SlotProblem(const std::string& slot);
// The same for a station burning `model` (none: each PLC's model is found as it is plugged):
// the USB slot serves only a model reached over USB.
std::string SlotProblemFor(const std::string& slot, const ModelRules* model);

class SlotWatch {
 public:
  virtual ~SlotWatch() = default;
  // What is in the slots now.
  virtual SlotLook Look() = 0;
  // Blocks until the devices may have changed, Wake is called, or `timeout` has passed.
  virtual void WaitForChange(std::chrono::milliseconds timeout) = 0;
  // Ends a WaitForChange at once; safe from any thread.
  virtual void Wake() = 0;
};

// Watches the system's device events for the slots; null with `error` set when it cannot.
std::unique_ptr<SlotWatch> MakeSystemSlotWatch(const std::vector<std::string>& slots,
                                               std::string* error);

}  // namespace plcburn
